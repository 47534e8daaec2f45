#include "file_attributes.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#include "folder_entry.h"
#include "posix_path.h"

namespace {

// The status of the name itself, a link not followed.
bool StatPath(const PosixPath& path, struct stat& info) {
    if (lstat(path.Text(), &info) == 0)
        return true;
    SetLastError(Win32ErrorFromErrno(errno, path.Text()));
    return false;
}

} // namespace

DWORD AttributesFromStatus(const struct stat& info) {
    if (S_ISDIR(info.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (!(info.st_mode & S_IWUSR))
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

DWORD LinkAttributes(int directoryFd, const char* name) {
    struct stat target;
    if (fstatat(directoryFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
    PosixPath path(fileName);
    if (!path.CheckValid())
        return INVALID_FILE_ATTRIBUTES;
    struct stat info;
    if (!StatPath(path, info))
        return INVALID_FILE_ATTRIBUTES;
    if (S_ISLNK(info.st_mode))
        return LinkAttributes(AT_FDCWD, path.Text());
    return AttributesFromStatus(info);
}

BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
    PosixPath path(fileName);
    if (!path.CheckValid())
        return FALSE;
    FolderEntry entry(path.Text());
    struct stat info;
    if (entry.Look(&info) != 0) {
        SetLastError(Win32ErrorFromErrno(errno, path.Text()));
        return FALSE;
    }
    // A directory's read-only attribute means nothing for its contents on
    // Win32; its permissions are left alone. A link has no permissions of
    // its own, and what it leads to is not changed through it: its
    // attributes are taken and kept nowhere.
    if (S_ISDIR(info.st_mode) || S_ISLNK(info.st_mode))
        return TRUE;
    mode_t mode = info.st_mode & 07777;
    mode_t wanted = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
    // Should the name have become a link since, that link is left as well.
    if (wanted != mode &&
        fchmodat(entry.Folder(), entry.Name(), wanted, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno != EOPNOTSUPP) {
        SetLastError(Win32ErrorFromErrno(errno, path.Text()));
        return FALSE;
    }
    return TRUE;
}
