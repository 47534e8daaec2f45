#include "growing_block.h"

#include <cstring>

#include "heap.h"

void GrowBlock(char*& block, std::uint32_t& capacity, std::uint32_t size, std::uint32_t needed) {
    if (needed > UINT32_MAX / 2 - size)
        EndOnExhaustedHeap();
    if (size + needed <= capacity)
        return;
    std::uint32_t grown = capacity == 0 ? 4096 : capacity;
    while (grown < size + needed)
        grown *= 2;
    char* larger = static_cast<char*>(AllocateBlock(grown));
    if (size != 0)
        std::memcpy(larger, block, size);
    if (block != nullptr)
        ReleaseBlock(block);
    block = larger;
    capacity = grown;
}
