// A name in the folder that holds it, for every call that changes a name:
// removing, renaming, making, changing its attributes. The folder is opened
// by the walk that writes follow (trusted_open.h: no other user's link at
// any part of the path), and the call then acts on the name in that opened
// folder (unlinkat, renameat2, mkdirat, fchmodat, ...). So a folder on the
// way that someone swaps for a link after the walk changes nothing: the
// call still acts in the folder it walked to, never where the link leads.
// A path through another user's link fails (EACCES) before anything is
// touched.
#pragma once

#include <string>
#include <sys/stat.h>

class PosixPath;

class FolderEntry {
  public:
    // Opens the folder of posixPath (trailing separators not counted).
    explicit FolderEntry(const char* posixPath);
    // The same, where the folder is that of `sibling` (the same path before
    // the last name): its descriptor is shared, not walked to again, as a
    // rename within a folder acts in one folder. sibling outlives this.
    FolderEntry(const char* posixPath, const FolderEntry& sibling);
    ~FolderEntry();
    FolderEntry(const FolderEntry&) = delete;
    FolderEntry& operator=(const FolderEntry&) = delete;

    // Opens the folder anew, for a path that the caller has changed (its
    // case looked up).
    void Reopen(const char* posixPath);

    bool IsOpen() const { return folder_ >= 0; }
    // The errno of a walk that failed: EACCES for another user's link on
    // the way, ENOENT or ENOTDIR for a missing folder; EISDIR where the
    // path ends in "." or ".." (or is the root), which names no entry.
    int Error() const { return error_; }
    // The folder (O_PATH) and the name in it.
    int Folder() const { return folder_; }
    const char* Name() const { return name_.c_str(); }

    // fstatat of the name itself, a link at it not followed: 0, or -1 with
    // errno set (that of the walk where it failed).
    int Look(struct stat* info) const;
    // openat of the name (a link at it never followed): the descriptor, or
    // -1 with errno set.
    int OpenName(int flags, mode_t mode = 0) const;
    // Hands the folder's descriptor to the caller, who closes it.
    int TakeFolder();

  private:
    void Close();
    // Sets name_ and folderPath_; false where the path names no entry.
    bool Split(const char* posixPath);

    int folder_;
    bool ownsFolder_;
    int error_;
    std::string name_;
    std::string folderPath_;
};

// FolderEntry::Look of a path made with CaseLookup::WhenMissing: where the
// name is missing as written, its case is looked up (changing the path)
// and the folder opened anew. 0, or -1 with errno set.
int LookLookingUpCase(PosixPath& path, FolderEntry& entry, struct stat* info);
