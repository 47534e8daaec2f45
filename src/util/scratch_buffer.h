// One heap block of a size fixed when it is made; not cleared, not copied,
// not resized.
#pragma once

#include <cstdint>

class ScratchBuffer {
  public:
    explicit ScratchBuffer(std::uint32_t size);
    ~ScratchBuffer();
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;

    char* GetBlock() const { return block_; }
    std::uint32_t GetSize() const { return size_; }

  private:
    char* block_;
    std::uint32_t size_;
};
