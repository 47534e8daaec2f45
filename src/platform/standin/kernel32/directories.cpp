// Deleting files, making and removing directories, the temporary directory.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "folder_index.h"
#include "owner.h"
#include "posix_path.h"
#include "share_modes.h"
#include "trusted_open.h"

BOOL WINAPI DeleteFileA(LPCSTR fileName) {
    PosixPath path(fileName, CaseLookup::WhenMissing);
    if (!path.CheckValid())
        return FALSE;
    struct stat info;
    if (LstatLookingUpCase(path, &info) != 0) {
        SetLastError(Win32ErrorFromErrno(errno, path.Text()));
        return FALSE;
    }
    if (S_ISDIR(info.st_mode) || (!S_ISLNK(info.st_mode) && !(info.st_mode & S_IWUSR))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Deleting is an open for delete access that shares everything. The
    // name itself is opened, not what a link leads to; a link or a special
    // file, which no handle holds, is removed as it is.
    int fd = -1;
    if (S_ISREG(info.st_mode)) {
        DWORD shareError;
        fd =
            OpenCheckingDelete(path.Text(), O_NOFOLLOW,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &shareError);
        if (fd < 0) {
            SetLastError(shareError);
            return FALSE;
        }
    }
    FolderChange change(path.Text());
    int result = unlink(path.Text());
    int error = errno;
    if (result == 0)
        change.Removed();
    if (fd >= 0)
        close(fd);
    if (result != 0) {
        SetLastError(Win32ErrorFromErrno(error, path.Text()));
        return FALSE;
    }
    return TRUE;
}

namespace {

// mkdir of path, made in its folder as a path to write is opened (no other
// user's link on the way), taking the folder's owner; 0 or an errno.
int MakeDirectory(const char* path) {
    std::string whole = path;
    while (whole.size() > 1 && whole.back() == '/')
        whole.pop_back();
    const std::size_t slash = whole.rfind('/');
    const std::string name = slash == std::string::npos ? whole : whole.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return mkdir(path, 0777) == 0 ? 0 : errno;
    const std::string parent = FolderOf(whole);
    const int folder = OpenFollowingTrustedLinks(parent.c_str(), O_PATH | O_DIRECTORY, 0);
    if (folder < 0)
        return errno;
    FolderChange change(whole.c_str());
    int error = mkdirat(folder, name.c_str(), 0777) == 0 ? 0 : errno;
    if (error == 0) {
        change.Added();
        struct stat folderInfo;
        const int made =
            openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (made >= 0 && fstat(folder, &folderInfo) == 0)
            GiveToFolderOwner(made, folderInfo);
        if (made >= 0)
            close(made);
    }
    close(folder);
    return error;
}

} // namespace

BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES) {
    PosixPath path(pathName);
    if (!path.CheckValid())
        return FALSE;
    if (const int error = MakeDirectory(path.Text())) {
        SetLastError(error == EEXIST   ? ERROR_ALREADY_EXISTS
                     : error == ENOENT ? ERROR_PATH_NOT_FOUND
                                       : Win32ErrorFromErrno(error, path.Text()));
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR pathName) {
    PosixPath path(pathName);
    if (!path.CheckValid())
        return FALSE;
    // A link to a directory goes as a link, as a directory symlink or
    // junction does on Windows; what it leads to stays.
    struct stat linkInfo, targetInfo;
    FolderChange change(path.Text());
    if (lstat(path.Text(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode) &&
        stat(path.Text(), &targetInfo) == 0 && S_ISDIR(targetInfo.st_mode)) {
        if (unlink(path.Text()) == 0) {
            change.Removed();
            return TRUE;
        }
        SetLastError(Win32ErrorFromErrno(errno, path.Text()));
        return FALSE;
    }
    if (rmdir(path.Text()) != 0) {
        int error = errno;
        SetLastError(error == ENOTDIR  ? ERROR_DIRECTORY
                     : error == EEXIST ? ERROR_DIR_NOT_EMPTY
                                       : Win32ErrorFromErrno(error, path.Text()));
        return FALSE;
    }
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
