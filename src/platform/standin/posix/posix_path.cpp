#include "posix_path.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "folder_index.h"

namespace {

// Replaces component [begin, end) of path by the name in its parent
// directory that matches it without regard to case, if there is one.
bool ResolveComponent(char* path, std::size_t begin, std::size_t end,
                      struct stat* folderLook = nullptr) {
    if (begin <= 1)
        return FindNameIgnoringCase(begin == 0 ? "." : "/", path + begin, end - begin, folderLook);
    path[begin - 1] = '\0';
    const bool found = FindNameIgnoringCase(path, path + begin, end - begin, folderLook);
    path[begin - 1] = '/';
    return found;
}

// Win32 names are not case-sensitive: where the path as written does not
// exist, each component that is missing is looked up without regard to
// case. What still cannot be found is left as written, for the caller to
// create or to report. True when a component was replaced. knownMissing:
// the caller found the path missing, so it is not looked at again.
// folderLook receives the look at the folder of the last component when
// that folder was there as written (st_mode 0 otherwise).
bool ResolveCase(char* path, bool knownMissing, struct stat* folderLook) {
    folderLook->st_mode = 0;
    struct stat info;
    if (!knownMissing && (lstat(path, &info) == 0 || errno != ENOENT))
        return false;
    std::size_t length = std::strlen(path);
    // Mostly only the last component is missing (a file about to be made,
    // or one written in another case): where its parent exists as written,
    // that one component is all there is to look up.
    std::size_t lastEnd = length;
    while (lastEnd > 0 && path[lastEnd - 1] == '/')
        --lastEnd;
    std::size_t lastBegin = lastEnd;
    while (lastBegin > 0 && path[lastBegin - 1] != '/')
        --lastBegin;
    if (lastBegin < lastEnd) {
        const bool found = ResolveComponent(path, lastBegin, lastEnd, folderLook);
        if (folderLook->st_mode != 0)
            return found;
    }
    bool changed = false;
    std::size_t begin = 0;
    while (begin < length) {
        while (begin < length && path[begin] == '/')
            ++begin;
        std::size_t end = begin;
        while (end < length && path[end] != '/')
            ++end;
        if (end == begin)
            break;
        char kept = path[end];
        path[end] = '\0';
        bool exists = lstat(path, &info) == 0;
        path[end] = kept;
        if (!exists) {
            if (!ResolveComponent(path, begin, end))
                return changed;
            changed = true;
        }
        begin = end;
    }
    return changed;
}

} // namespace

PosixPath::PosixPath(LPCSTR win32Path, CaseLookup lookup, LastComponent last)
    : text_{}, error_(ERROR_SUCCESS), folderLook_{} {
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
    error_ = NormalizeWin32Path(text_, last);
    if (error_ != ERROR_SUCCESS)
        return;
    if (lookup == CaseLookup::Now)
        ResolveCase(text_, false, &folderLook_);
}

bool PosixPath::LookUpCase() {
    return IsValid() && ResolveCase(text_, false, &folderLook_);
}

bool PosixPath::LookUpMissingCase() {
    return IsValid() && ResolveCase(text_, true, &folderLook_);
}

int LstatLookingUpCase(PosixPath& path, struct stat* info) {
    if (lstat(path.Text(), info) == 0)
        return 0;
    const int error = errno;
    if (error == ENOENT && path.LookUpMissingCase())
        return lstat(path.Text(), info);
    errno = error;
    return -1;
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
    case ELOOP:
        // Too many links on the way, as Windows says of too many reparse
        // points.
        return ERROR_CANT_RESOLVE_FILENAME;
    case EISDIR:
    case EACCES:
    case EPERM:
    default:
        return ERROR_ACCESS_DENIED;
    }
}

std::string FolderOf(const std::string& posixPath) {
    const std::size_t slash = posixPath.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : posixPath.substr(0, slash);
}
