#include "folder_listing.h"

#include <cstring>

#include "growing_block.h"
#include "heap.h"

namespace {

const std::uint32_t kAlignment = alignof(FolderListing::Entry);

std::uint32_t Padded(std::uint32_t size) {
    return (size + kAlignment - 1) / kAlignment * kAlignment;
}

} // namespace

FolderListing::~FolderListing() {
    if (block_ != nullptr)
        ReleaseBlock(block_);
}

bool FolderListing::Read(const char* searchPath) {
    size_ = count_ = 0;
    readError_ = ERROR_SUCCESS;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(searchPath, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    do {
        if (found.cFileName[0] != '.')
            Add(found);
    } while (FindNextFileA(search, &found));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES)
        readError_ = error;
    FindClose(search);
    return true;
}

void FolderListing::Add(const WIN32_FIND_DATAA& found) {
    // cFileName ends within its array: at most MAX_PATH bytes with the zero.
    const std::uint32_t nameSize =
        Padded(static_cast<std::uint32_t>(std::strlen(found.cFileName)) + 1);
    const std::uint32_t needed = static_cast<std::uint32_t>(sizeof(Entry)) + nameSize;
    GrowBlock(block_, capacity_, size_, needed);
    Entry* entry = reinterpret_cast<Entry*>(block_ + size_);
    entry->attributes = found.dwFileAttributes;
    entry->sizeLow = found.nFileSizeLow;
    entry->sizeHigh = found.nFileSizeHigh;
    entry->verdict = ERROR_SUCCESS;
    entry->number = 0;
    entry->nameSize = nameSize;
    char* name = block_ + size_ + sizeof(Entry);
    std::memset(name, 0, nameSize);
    std::strcpy(name, found.cFileName);
    size_ += needed;
    ++count_;
}

FolderListing::Entry* FolderListing::Next(Entry* entry) const {
    const std::uint32_t at =
        entry == nullptr ? 0
                         : static_cast<std::uint32_t>(reinterpret_cast<char*>(entry) - block_) +
                               static_cast<std::uint32_t>(sizeof(Entry)) + entry->nameSize;
    return at < size_ ? reinterpret_cast<Entry*>(block_ + at) : nullptr;
}
