#include "scratch_buffer.h"

#include "heap.h"

ScratchBuffer::ScratchBuffer(std::uint32_t size)
    : block_(static_cast<char*>(AllocateBlock(size))), size_(size) {}

ScratchBuffer::~ScratchBuffer() {
    ReleaseBlock(block_);
}
