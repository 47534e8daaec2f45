#include "heap.h"

#include <cstdio>
#include <cstdlib>

namespace {

const HeapWatch* g_watch = nullptr;

} // namespace

void* AllocateBlock(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        EndOnExhaustedHeap();
    if (g_watch != nullptr && g_watch->allocated != nullptr)
        g_watch->allocated(block, size, g_watch->context);
    return block;
}

void* TryAllocateBlock(std::size_t size) {
    if (g_watch != nullptr && g_watch->refuses != nullptr &&
        g_watch->refuses(size, g_watch->context))
        return nullptr;
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr && g_watch != nullptr && g_watch->allocated != nullptr)
        g_watch->allocated(block, size, g_watch->context);
    return block;
}

void ReleaseBlock(void* block) {
    if (g_watch != nullptr && g_watch->released != nullptr)
        g_watch->released(block, g_watch->context);
    std::free(block);
}

void EndOnExhaustedHeap() {
    std::fputs("Update: out of memory\n", stderr);
    std::fflush(stderr);
    std::_Exit(3);
}

const HeapWatch* WatchHeap(const HeapWatch* watch) {
    const HeapWatch* previous = g_watch;
    g_watch = watch;
    return previous;
}
