// Heap blocks for the utility library. Allocation never returns null: an
// exhausted heap ends the program with a short message, since nothing in
// the program could recover from it and no operation of ours throws.
#pragma once

#include <cstddef>

void* AllocateBlock(std::size_t size);
void ReleaseBlock(void* block);
[[noreturn]] void EndOnExhaustedHeap();
