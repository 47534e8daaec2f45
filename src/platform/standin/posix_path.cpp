#include "posix_path.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

PosixPath::PosixPath(LPCSTR win32Path) : text_{}, error_(ERROR_SUCCESS) {
    if (win32Path == nullptr || win32Path[0] == '\0') {
        error_ = ERROR_PATH_NOT_FOUND;
        return;
    }
    std::size_t length = std::strlen(win32Path);
    if (length >= sizeof(text_)) {
        error_ = ERROR_FILENAME_EXCED_RANGE;
        return;
    }
    for (std::size_t i = 0; i <= length; ++i)
        text_[i] = win32Path[i] == '\\' ? '/' : win32Path[i];
}

DWORD MissingPathError(const char* posixPath) {
    // The parent is everything before the last separator, trailing
    // separators of the path itself not counted.
    char parent[PATH_MAX];
    std::size_t length = std::strlen(posixPath);
    if (length >= sizeof(parent))
        return ERROR_PATH_NOT_FOUND;
    std::memcpy(parent, posixPath, length + 1);
    while (length > 1 && parent[length - 1] == '/')
        parent[--length] = '\0';
    char* slash = std::strrchr(parent, '/');
    if (slash == nullptr)
        return ERROR_FILE_NOT_FOUND; // relative to the current directory, which exists
    if (slash == parent)
        slash[1] = '\0';
    else
        *slash = '\0';
    struct stat info;
    if (stat(parent, &info) == 0 && S_ISDIR(info.st_mode))
        return ERROR_FILE_NOT_FOUND;
    return ERROR_PATH_NOT_FOUND;
}

DWORD Win32ErrorFromErrno(int error, const char* posixPath) {
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return posixPath != nullptr ? MissingPathError(posixPath) : ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ETXTBSY:
    case EBUSY:
        return ERROR_SHARING_VIOLATION;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EISDIR:
    case EACCES:
    case EPERM:
    default:
        return ERROR_ACCESS_DENIED;
    }
}
