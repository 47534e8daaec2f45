// Heap blocks for the utility library. Allocation never returns null: an
// exhausted heap ends the program with a short message, since nothing in
// the program could recover from it and no operation of ours throws.
#pragma once

#include <cstddef>

void* AllocateBlock(std::size_t size);
void ReleaseBlock(void* block);
[[noreturn]] void EndOnExhaustedHeap();

// Lets tests see the heap traffic of an operation (how many blocks, of what
// size, released once) and act at the moment a block is made. While a watch
// is set, it hears of every block made and every block given back.
struct HeapWatch {
    void (*allocated)(void* block, std::size_t size, void* context);
    void (*released)(void* block, void* context);
    void* context;
};

// Null stops watching. Returns the watch that was set before.
const HeapWatch* WatchHeap(const HeapWatch* watch);
