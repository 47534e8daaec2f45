// Heap blocks for the utility library. AllocateBlock never returns null: an
// exhausted heap ends the program with a short message, since nothing in
// the string class could recover from it and no operation of ours throws.
// TryAllocateBlock is for blocks whose size comes from outside (a file's
// size): it returns null instead, and its caller fails.
#pragma once

#include <cstddef>

void* AllocateBlock(std::size_t size);
void* TryAllocateBlock(std::size_t size);
void ReleaseBlock(void* block);
[[noreturn]] void EndOnExhaustedHeap();

// Lets tests see the heap traffic of an operation (how many blocks, of what
// size, released once) and act at the moment a block is made. While a watch
// is set, it hears of every block made and every block given back, and
// `refuses` (when not null) decides which blocks asked for with
// TryAllocateBlock fail as on an exhausted heap. Any member may be null.
struct HeapWatch {
    void (*allocated)(void* block, std::size_t size, void* context);
    void (*released)(void* block, void* context);
    void* context;
    bool (*refuses)(std::size_t size, void* context);
};

// Null stops watching. Returns the watch that was set before.
const HeapWatch* WatchHeap(const HeapWatch* watch);
