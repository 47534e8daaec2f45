// A Win32 path as POSIX sees it: the core joins paths with backslashes, which
// on Linux would be taken as part of a name.
#pragma once

#include <climits>
#include <string>
#include <sys/stat.h>

#include "../windows.h"
#include "win32_names.h"

// When the components of a path that do not exist as written are looked up
// without regard to case: at once, or only when the caller finds the path
// missing (which spares a look-up of every path that is there as written).
enum class CaseLookup { Now, WhenMissing };

class PosixPath {
  public:
    // Copies the path with every '\\' turned into '/' and its names checked
    // and normalised as Win32 does (win32_names.h), and where that does not
    // exist, finds its missing components without regard to case, as Win32
    // would. A null, overlong or invalid path leaves the object invalid with
    // the Win32 error set by Error().
    explicit PosixPath(LPCSTR win32Path, CaseLookup lookup = CaseLookup::Now,
                       LastComponent last = LastComponent::Name);

    // The look-up of CaseLookup::WhenMissing: true when it changed the path,
    // which is then worth trying again.
    bool LookUpCase();
    // LookUpCase of a path that the caller found missing, or is about to
    // create exclusively (where a name as written fails anyway): the path
    // itself is not looked at first.
    bool LookUpMissingCase();

    // The look at the folder of the last name that the last case look-up
    // made, if it made one: for the change this call makes next there
    // (FolderChange).
    const struct stat* FolderLook() const {
        return folderLook_.st_mode != 0 ? &folderLook_ : nullptr;
    }

    bool IsValid() const { return error_ == ERROR_SUCCESS; }
    // IsValid, and when not, the error becomes the thread's last error.
    bool CheckValid() const {
        if (!IsValid())
            SetLastError(error_);
        return IsValid();
    }
    DWORD Error() const { return error_; }
    const char* Text() const { return text_; }
    char* MutableText() { return text_; }

  private:
    char text_[PATH_MAX];
    DWORD error_;
    struct stat folderLook_;
};

// lstat of a path made with CaseLookup::WhenMissing, whose case is looked up
// (and the path changed) where it is missing as written: one call where the
// path is there. 0, or -1 with errno as the last lstat left it.
int LstatLookingUpCase(PosixPath& path, struct stat* info);

// Win32 tells a missing file (2) from a missing directory on the way (3).
DWORD MissingPathError(const char* posixPath);

// The folder of a POSIX path: everything before its last separator; "." for
// a bare name, "/" for a name in the root.
std::string FolderOf(const std::string& posixPath);

// The nearest Win32 error for an errno of a call on posixPath.
DWORD Win32ErrorFromErrno(int error, const char* posixPath);
