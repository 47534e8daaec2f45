// Finding a name in a folder without regard to case, without reading the
// whole folder for every name: Windows finds a name through the folder's
// index, and a copy into a folder of 40,000 files asks for 40,000 names that
// are not there yet.
//
// The names of a folder are read once into an index, kept with the folder's
// identity and its change and status-change times (both as the folder had
// them before it was read). A later look-up uses the index while the folder
// still has those times; a change by anyone else changes them and the
// folder is read again. The stand-in's own changes (a file made, renamed or
// deleted) are put into the index and its times taken anew, provided the
// index was current just before the change; so a run that fills a folder
// reads it only now and then. A change by someone else in the instant
// between that look and the change could go unseen; the index is therefore
// read anew once it has taken in as many of its own changes as it held
// names (at least 64), which bounds such a miss and costs a constant per
// change.
#pragma once

#include <cstddef>
#include <cstdint>

// Looks for the name of `length` bytes in the folder `folder` without
// regard to the case of ASCII letters. When found, copies the name as the
// folder holds it over `name` (the same length) and returns true; where the
// folder holds several cases of it, the first one that reading it gave.
bool FindNameIgnoringCase(const char* folder, char* name, std::size_t length);

// A change the stand-in makes to one name in a folder: made before the
// change (it looks at the folder), told the outcome after it.
class FolderChange {
  public:
    // entryPath: the POSIX path of the name that changes.
    explicit FolderChange(const char* entryPath);
    FolderChange(const FolderChange&) = delete;
    FolderChange& operator=(const FolderChange&) = delete;

    void Added() { Done(true); }
    void Removed() { Done(false); }

  private:
    void Done(bool added);

    char folder_[4096];
    const char* name_; // in entryPath, which outlives the object
    bool current_;     // the folder's index, if any, was current before the change
    std::uint64_t generation_;
};
