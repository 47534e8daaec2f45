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
// deleted) are put into the index, provided the index was current at the
// last look at the folder just before the change (the call's own case
// look-up, where it made one); the folder's new times are taken at the next
// look at it (or at once, where the call looked at the folder after its
// change), as those of our own changes. So a run that fills a folder reads
// it only now and then, and looks at it once per change. A change by
// someone else between our change and the next look could go unseen; the
// index is therefore read anew once it has taken in as many of its own
// changes as it held names (at least 64), which bounds such a miss and
// costs a constant per change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/stat.h>

// Looks for the name of `length` bytes in the folder `folder` without
// regard to case, as Windows compares names (name_case.h). When found, copies the name as the
// folder holds it over `name` (the same length) and returns true; where the
// folder holds several cases of it, the first one that reading it gave.
// folderLook, if given, receives the status of the folder as looked at, its
// st_mode 0 where the folder is not there (as a directory).
bool FindNameIgnoringCase(const char* folder, char* name, std::size_t length,
                          struct stat* folderLook = nullptr);

// A change the stand-in makes to one name in a folder: made before the
// change (it looks at the folder), told the outcome after it.
class FolderChange {
  public:
    // entryPath: the POSIX path of the name that changes (null: no change).
    // For a rename, newEntryPath is the path it goes to; when that lies in
    // the same folder, this one change covers both names (CoversNewName).
    // folderBefore, if given, is a look at the folder that the same call
    // made just before (PosixPath::FolderLook), taken instead of another;
    // newFolderBefore one at the folder of newEntryPath, taken where that
    // is the same folder.
    explicit FolderChange(const char* entryPath, const char* newEntryPath = nullptr,
                          const struct stat* folderBefore = nullptr,
                          const struct stat* newFolderBefore = nullptr);
    FolderChange(const FolderChange&) = delete;
    FolderChange& operator=(const FolderChange&) = delete;

    bool CoversNewName() const { return newName_ != nullptr; }

    // folderAfter, if given, is the folder's status taken after the change,
    // which spares looking at it once more.
    void Added(const struct stat* folderAfter = nullptr) { Done(true, folderAfter); }
    void Removed() { Done(false, nullptr); }
    // The rename of a change that CoversNewName.
    void Renamed() { Done(false, nullptr, true); }

  private:
    void Done(bool added, const struct stat* folderAfter, bool renamed = false);

    char folder_[4096];
    const char* name_;    // in entryPath, which outlives the object
    const char* newName_; // in newEntryPath, for a rename in the same folder
    bool current_;        // the folder's index, if any, was current before the change
    std::uint64_t generation_;
};
