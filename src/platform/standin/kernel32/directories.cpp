// Deleting files, making and removing directories, the temporary directory.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "folder_entry.h"
#include "folder_index.h"
#include "owner.h"
#include "posix_path.h"
#include "share_modes.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

} // namespace

BOOL WINAPI DeleteFileA(LPCSTR fileName) {
    PosixPath path(fileName, CaseLookup::WhenMissing);
    if (!path.CheckValid())
        return FALSE;
    FolderEntry entry(path.Text());
    struct stat info;
    if (LookLookingUpCase(path, entry, &info) != 0)
        return Fail(Win32ErrorFromErrno(errno, path.Text()));
    if (S_ISDIR(info.st_mode) || (!S_ISLNK(info.st_mode) && !(info.st_mode & S_IWUSR)))
        return Fail(ERROR_ACCESS_DENIED);
    // Deleting is an open for delete access that shares everything. The
    // name itself is opened, not what a link leads to; a link or a special
    // file, which no handle holds, is removed as it is.
    int fd = -1;
    if (S_ISREG(info.st_mode)) {
        DWORD shareError;
        fd = OpenCheckingDelete(entry, kShareAll, &shareError);
        if (fd < 0)
            return Fail(shareError);
    }
    FolderChange change(path.Text());
    const int result = unlinkat(entry.Folder(), entry.Name(), 0);
    const int error = errno;
    if (result == 0)
        change.Removed();
    if (fd >= 0)
        close(fd);
    if (result != 0)
        return Fail(Win32ErrorFromErrno(error, path.Text()));
    return TRUE;
}

namespace {

// mkdir of path in its folder (FolderEntry), taking the folder's owner; 0
// or an errno.
int MakeDirectory(const char* path) {
    FolderEntry entry(path);
    // A path that ends in "." or ".." names a folder that is there or
    // missing, and mkdir makes nothing of it either way.
    if (entry.Error() == EISDIR)
        return mkdir(path, 0777) == 0 ? 0 : errno;
    if (!entry.IsOpen())
        return entry.Error();
    FolderChange change(path);
    if (mkdirat(entry.Folder(), entry.Name(), 0777) != 0)
        return errno;
    change.Added();
    struct stat folderInfo;
    const int made = entry.OpenName(O_RDONLY | O_DIRECTORY);
    if (made >= 0 && fstat(entry.Folder(), &folderInfo) == 0)
        GiveToFolderOwner(made, folderInfo);
    if (made >= 0)
        close(made);
    return 0;
}

DWORD RemoveDirectoryError(int error, const char* path) {
    return error == ENOTDIR                        ? ERROR_DIRECTORY
           : error == EEXIST || error == ENOTEMPTY ? ERROR_DIR_NOT_EMPTY
                                                   : Win32ErrorFromErrno(error, path);
}

} // namespace

BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES) {
    PosixPath path(pathName);
    if (!path.CheckValid())
        return FALSE;
    if (const int error = MakeDirectory(path.Text())) {
        return Fail(error == EEXIST   ? ERROR_ALREADY_EXISTS
                    : error == ENOENT ? ERROR_PATH_NOT_FOUND
                                      : Win32ErrorFromErrno(error, path.Text()));
    }
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR pathName) {
    PosixPath path(pathName);
    if (!path.CheckValid())
        return FALSE;
    FolderEntry entry(path.Text());
    struct stat info;
    if (entry.Look(&info) != 0)
        return Fail(RemoveDirectoryError(errno, path.Text()));
    FolderChange change(path.Text());
    // A link to a directory goes as a link, as a directory symlink or
    // junction does on Windows; what it leads to stays.
    if (S_ISLNK(info.st_mode)) {
        struct stat target;
        if (fstatat(entry.Folder(), entry.Name(), &target, 0) != 0 || !S_ISDIR(target.st_mode))
            return Fail(ERROR_DIRECTORY);
        if (unlinkat(entry.Folder(), entry.Name(), 0) != 0)
            return Fail(Win32ErrorFromErrno(errno, path.Text()));
        change.Removed();
        return TRUE;
    }
    if (!S_ISDIR(info.st_mode))
        return Fail(ERROR_DIRECTORY);
    // Removing is an open for delete access that shares everything: a
    // handle on the folder that does not share deleting keeps it.
    DWORD shareError;
    const int fd = OpenCheckingDelete(entry, kShareAll, &shareError);
    if (fd < 0)
        return Fail(shareError);
    const int result = unlinkat(entry.Folder(), entry.Name(), AT_REMOVEDIR);
    const int error = errno;
    close(fd);
    if (result != 0)
        return Fail(RemoveDirectoryError(error, path.Text()));
    change.Removed();
    return TRUE;
}

DWORD WINAPI GetTempPathA(DWORD bufferLength, LPSTR buffer) {
    const char* directory = std::getenv("TMPDIR");
    if (directory == nullptr || directory[0] == '\0')
        directory = "/tmp";
    std::size_t length = std::strlen(directory);
    bool addSeparator = directory[length - 1] != '/';
    DWORD needed = static_cast<DWORD>(length + (addSeparator ? 1 : 0));
    if (buffer == nullptr || bufferLength <= needed)
        return needed + 1; // the size with the terminator
    std::memcpy(buffer, directory, length);
    if (addSeparator)
        buffer[length] = '/';
    buffer[needed] = '\0';
    return needed;
}
