// Handles that keep the run's files its own until it is done with them.
//
// A handle with delete access (and SYNCHRONIZE and FILE_READ_ATTRIBUTES,
// but no access to the data) that shares reading, writing and deleting
// stands against every later open that asks for data or delete access and
// does not share deleting: that open fails with ERROR_SHARING_VIOLATION
// for as long as the handle is open. An open that shares deleting, one
// that asks for attributes alone, and MoveFileExA and DeleteFileA by path
// (each an open for delete access that shares all three) still go through.
// The handle follows its file through a rename. So a file held this way
// can be renamed by the run whatever opens it later, and every open of its
// own that the run makes on it (the probe, a flush, the hash of a staged
// copy) shares deleting.
//
// A run holds, by file number, two files at most: the installed file it
// replaces (kOld: from its probe on; renamed, it is the backup) and the
// staged file (kNew: from its staging on; renamed, it is the new installed
// file). So a run of n files holds at most 2n handles, besides its folders.
// A hold is closed right before its file is removed: Windows keeps a
// removed file that is still open, pending deletion, under its name.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"
#include "text_string.h"

// Opens such a handle on the file at path (OPEN_EXISTING); the handle or
// INVALID_HANDLE_VALUE with the last error: ERROR_SHARING_VIOLATION when
// another open does not share deleting, ERROR_TOO_MANY_OPEN_FILES when the
// process may open no more handles.
HANDLE OpenHold(const char* path);

// Whether an open failed for want of handles (or of the memory behind
// them), not because of the file: the run then cannot hold what it must.
inline bool IsOutOfHandles(DWORD error) {
    return error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NOT_ENOUGH_MEMORY;
}

class FileHolds {
  public:
    enum Slot { kOld = 0, kNew = 1 };

    FileHolds() = default;
    ~FileHolds() { ReleaseAll(); }
    FileHolds(const FileHolds&) = delete;
    FileHolds& operator=(const FileHolds&) = delete;

    // Holds the file at path as slot of file `number` (OpenHold); false
    // with the last error when it cannot be held.
    bool Hold(std::uint32_t number, Slot slot, const TextString& path);
    // Takes over a hold opened elsewhere.
    void Keep(std::uint32_t number, Slot slot, HANDLE handle);
    bool Holds(std::uint32_t number, Slot slot) const;
    // Closes the hold, if there is one: right before its file is removed.
    void Release(std::uint32_t number, Slot slot);
    // Closes every hold of the slot, or all.
    void ReleaseSlot(Slot slot);
    void ReleaseAll();

    // How many are open now, and at most since the start.
    std::uint32_t Count() const { return count_; }
    std::uint32_t Peak() const { return peak_; }

  private:
    HANDLE* handles_ = nullptr;  // two a file, by number; null: none
    std::uint32_t capacity_ = 0; // handles room is made for
    std::uint32_t count_ = 0, peak_ = 0;
};
