#include "file_holds.h"

#include <cstring>

#include "growing_block.h"
#include "heap.h"

HANDLE OpenHold(const char* path) {
    return CreateFileA(path, DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

bool FileHolds::Hold(std::uint32_t number, Slot slot, const TextString& path) {
    HANDLE handle = OpenHold(path.GetText());
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    Keep(number, slot, handle);
    return true;
}

void FileHolds::Keep(std::uint32_t number, Slot slot, HANDLE handle) {
    const std::uint32_t index = 2 * number + slot;
    if (index >= capacity_) {
        char* block = reinterpret_cast<char*>(handles_);
        std::uint32_t bytes = capacity_ * sizeof(HANDLE);
        const std::uint32_t used = bytes;
        GrowBlock(block, bytes, used, (index + 1) * sizeof(HANDLE) - used);
        std::memset(block + used, 0, bytes - used);
        handles_ = reinterpret_cast<HANDLE*>(block);
        capacity_ = bytes / sizeof(HANDLE);
    }
    Release(number, slot);
    handles_[index] = handle;
    if (++count_ > peak_)
        peak_ = count_;
}

bool FileHolds::Holds(std::uint32_t number, Slot slot) const {
    const std::uint32_t index = 2 * number + slot;
    return index < capacity_ && handles_[index] != nullptr;
}

void FileHolds::Release(std::uint32_t number, Slot slot) {
    if (!Holds(number, slot))
        return;
    HANDLE& handle = handles_[2 * number + slot];
    CloseHandle(handle);
    handle = nullptr;
    --count_;
}

void FileHolds::ReleaseSlot(Slot slot) {
    for (std::uint32_t number = 0; count_ != 0 && 2 * number + slot < capacity_; ++number)
        Release(number, slot);
}

void FileHolds::ReleaseAll() {
    ReleaseSlot(kOld);
    ReleaseSlot(kNew);
    if (handles_ != nullptr)
        ReleaseBlock(handles_);
    handles_ = nullptr;
    capacity_ = 0;
}
