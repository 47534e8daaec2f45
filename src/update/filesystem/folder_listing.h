// The entries of one package directory, read in one pass of FindFirstFileA
// and FindNextFileA and then walked as often as needed: the copy judges
// names against each other (name_clashes.h), probes and notes every file
// before it writes any, and only then copies, without listing the
// directory again. One heap block, growing by doubling; names, attributes
// and sizes only.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"

class FolderListing {
  public:
    // One entry, with two words that the walker may use for what it
    // decided about it.
    struct Entry {
        DWORD attributes;
        DWORD sizeLow, sizeHigh;
        DWORD verdict;
        std::uint32_t number;
        std::uint32_t nameSize; // bytes the name takes here, its zero and padding included

        const char* Name() const { return reinterpret_cast<const char*>(this + 1); }
        std::uint64_t Size() const {
            return (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
        }
        bool IsDirectory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    };

    FolderListing() = default;
    ~FolderListing();
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;

    // Reads what searchPath (a directory and a pattern) finds, leaving out
    // the names that begin with a dot. False, with the last error, when the
    // search cannot start (ERROR_FILE_NOT_FOUND: nothing matches); a search
    // that stops early keeps what it found, and ReadError tells why.
    bool Read(const char* searchPath);
    DWORD ReadError() const { return readError_; }
    std::uint32_t Count() const { return count_; }

    // The entries in the order read: start with null; null after the last.
    Entry* Next(Entry* entry) const;

  private:
    void Add(const WIN32_FIND_DATAA& found);

    char* block_ = nullptr;
    std::uint32_t size_ = 0, capacity_ = 0, count_ = 0;
    DWORD readError_ = ERROR_SUCCESS;
};
