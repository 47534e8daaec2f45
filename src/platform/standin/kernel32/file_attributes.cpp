#include "file_attributes.h"

#include <cerrno>
#include <sys/stat.h>

#include "posix_path.h"

namespace {

bool StatPath(const PosixPath& path, struct stat& info) {
    if (stat(path.Text(), &info) == 0)
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

DWORD LinkAttribute(const struct stat& named) {
    return S_ISLNK(named.st_mode) ? FILE_ATTRIBUTE_REPARSE_POINT : 0;
}

// A link shows what it leads to plus the reparse point attribute; one that
// leads nowhere still exists as a name, as on Windows.
DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
    PosixPath path(fileName);
    if (!path.CheckValid())
        return INVALID_FILE_ATTRIBUTES;
    struct stat named, info;
    const bool isLink = lstat(path.Text(), &named) == 0 && S_ISLNK(named.st_mode);
    if (isLink && stat(path.Text(), &info) != 0)
        return FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
    if (!isLink && !StatPath(path, info))
        return INVALID_FILE_ATTRIBUTES;
    return AttributesFromStatus(info) | (isLink ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
}

BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
    PosixPath path(fileName);
    if (!path.CheckValid())
        return FALSE;
    struct stat info;
    if (!StatPath(path, info))
        return FALSE;
    // A directory's read-only attribute means nothing for its contents on
    // Win32; its permissions are left alone.
    if (S_ISDIR(info.st_mode))
        return TRUE;
    mode_t mode = info.st_mode & 07777;
    mode_t wanted = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
    if (wanted != mode && chmod(path.Text(), wanted) != 0) {
        SetLastError(Win32ErrorFromErrno(errno, path.Text()));
        return FALSE;
    }
    return TRUE;
}
