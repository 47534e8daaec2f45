#include "heap.h"

#include <cstdio>
#include <cstdlib>

void* AllocateBlock(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        EndOnExhaustedHeap();
    return block;
}

void ReleaseBlock(void* block) {
    std::free(block);
}

void EndOnExhaustedHeap() {
    std::fputs("Update: out of memory\n", stderr);
    std::fflush(stderr);
    std::_Exit(3);
}
