// Directory enumeration with Win32 search patterns.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

#include "file_attributes.h"
#include "file_time.h"
#include "handle_objects.h"
#include "name_case.h"
#include "name_pattern.h"
#include "posix_path.h"

namespace {

struct EntryName {
    char text[MAX_PATH];
    unsigned char type; // as the directory listed it (DT_DIR, ...)
};

struct FindObject {
    HandleObject header;
    int directoryFd;
    EntryName* names; // the matching names, in the order delivered
    std::size_t count;
    std::size_t next;
    bool device; // its one name is a DOS device (win32_names.h)
};

int CompareNames(const void* first, const void* second) {
    return CompareNamesIgnoringCase(static_cast<const EntryName*>(first)->text,
                                    static_cast<const EntryName*>(second)->text);
}

bool AppendName(FindObject* find, std::size_t* capacity, const char* name,
                unsigned char type = DT_DIR) {
    if (find->count == *capacity) {
        std::size_t grown = *capacity == 0 ? 16 : *capacity * 2;
        void* names = std::realloc(find->names, grown * sizeof(EntryName));
        if (names == nullptr)
            return false;
        find->names = static_cast<EntryName*>(names);
        *capacity = grown;
    }
    find->names[find->count].type = type;
    std::strcpy(find->names[find->count++].text, name);
    return true;
}

void DestroyFind(FindObject* find) {
    close(find->directoryFd);
    std::free(find->names);
    std::free(find);
}

// Collects the names of the directory that match: "." and ".." first, as a
// Win32 directory other than a drive's root delivers them, then the rest in
// the order of their up-cased names, which is what NTFS delivers.
DWORD CollectNames(FindObject* find, const char* pattern, bool isRoot) {
    int readFd = dup(find->directoryFd);
    DIR* directory = readFd < 0 ? nullptr : fdopendir(readFd);
    if (directory == nullptr) {
        if (readFd >= 0)
            close(readFd);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    std::size_t capacity = 0;
    DWORD error = ERROR_SUCCESS;
    if (!isRoot) {
        for (const char* dots : {".", ".."}) {
            if (MatchesNamePattern(dots, pattern) && !AppendName(find, &capacity, dots))
                error = ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    std::size_t firstSorted = find->count;
    while (error == ERROR_SUCCESS) {
        errno = 0;
        struct dirent* entry = readdir(directory);
        if (entry == nullptr)
            break;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (std::strlen(name) >= MAX_PATH || !MatchesNamePattern(name, pattern))
            continue;
        if (!AppendName(find, &capacity, name, entry->d_type))
            error = ERROR_NOT_ENOUGH_MEMORY;
    }
    closedir(directory);
    if (find->count > firstSorted)
        std::qsort(find->names + firstSorted, find->count - firstSorted, sizeof(EntryName),
                   CompareNames);
    return error;
}

void FillFindData(const FindObject* find, const EntryName& entry, LPWIN32_FIND_DATAA data) {
    const char* const name = entry.text;
    std::memset(data, 0, sizeof(*data));
    if (find->device) {
        // What Windows lists for a device: an empty file without times.
        data->dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
        std::strcpy(data->cFileName, name);
        return;
    }
    struct stat info;
    // A link shows as a reparse point, a link to a directory as a
    // directory too, as a junction does; the times and size are what it
    // leads to. An entry removed since the listing keeps the kind it was
    // listed with, as Windows delivers what its listing read.
    if (fstatat(find->directoryFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        std::memset(&info, 0, sizeof(info));
        info.st_mode = (entry.type == DT_DIR ? S_IFDIR : S_IFREG) | S_IWUSR;
    }
    data->dwFileAttributes = AttributesFromStatus(info);
    if (S_ISLNK(info.st_mode)) {
        data->dwFileAttributes = LinkAttributes(find->directoryFd, name);
        data->dwReserved0 = IO_REPARSE_TAG_SYMLINK;
        if (fstatat(find->directoryFd, name, &info, 0) != 0)
            std::memset(&info, 0, sizeof(info));
    }
    data->ftCreationTime = FileTimeFromTimespec(info.st_mtim);
    data->ftLastAccessTime = FileTimeFromTimespec(info.st_atim);
    data->ftLastWriteTime = FileTimeFromTimespec(info.st_mtim);
    if (!S_ISDIR(info.st_mode)) {
        unsigned long long size = static_cast<unsigned long long>(info.st_size);
        data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(size);
    }
    std::strcpy(data->cFileName, name);
}

FindObject* FindFromHandle(HANDLE handle) {
    return reinterpret_cast<FindObject*>(FindHandle(handle, HandleKind::Find));
}

} // namespace

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
    PosixPath path(fileName, CaseLookup::Now, LastComponent::Pattern);
    if (!path.IsValid()) {
        SetLastError(path.Error() == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : path.Error());
        return INVALID_HANDLE_VALUE;
    }
    // Split into directory and pattern at the last separator.
    char* text = path.MutableText();
    char* slash = std::strrchr(text, '/');
    const char* pattern = slash == nullptr ? text : slash + 1;
    const char* directoryPath = ".";
    if (slash == text)
        directoryPath = "/";
    else if (slash != nullptr) {
        *slash = '\0';
        directoryPath = text;
    }
    if (pattern[0] == '\0') {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    int directoryFd = open(directoryPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd < 0) {
        int error = errno;
        SetLastError(error == ENOENT || error == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                         : Win32ErrorFromErrno(error, nullptr));
        return INVALID_HANDLE_VALUE;
    }
    struct stat directoryInfo, rootInfo;
    bool isRoot = fstat(directoryFd, &directoryInfo) == 0 && stat("/", &rootInfo) == 0 &&
                  directoryInfo.st_dev == rootInfo.st_dev &&
                  directoryInfo.st_ino == rootInfo.st_ino;

    FindObject* find = static_cast<FindObject*>(std::calloc(1, sizeof(FindObject)));
    if (find == nullptr) {
        close(directoryFd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    find->directoryFd = directoryFd;
    // A device is found in every directory that exists, under the name
    // given (without its extension), and only it.
    DWORD error = ERROR_SUCCESS;
    if (std::size_t device = DeviceNameLength(pattern)) {
        std::size_t capacity = 0;
        find->device = true;
        char name[5] = {};
        std::memcpy(name, pattern, device);
        if (!AppendName(find, &capacity, name))
            error = ERROR_NOT_ENOUGH_MEMORY;
    } else {
        error = CollectNames(find, pattern, isRoot);
    }
    if (error == ERROR_SUCCESS && find->count == 0)
        error = ERROR_FILE_NOT_FOUND;
    if (error != ERROR_SUCCESS) {
        DestroyFind(find);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    FillFindData(find, find->names[0], findData);
    find->next = 1;
    RegisterHandle(&find->header, HandleKind::Find);
    return &find->header;
}

BOOL WINAPI FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA findData) {
    FindObject* find = FindFromHandle(handle);
    if (find == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (find->next >= find->count) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    FillFindData(find, find->names[find->next++], findData);
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE handle) {
    FindObject* find = FindFromHandle(handle);
    if (find == nullptr || !UnregisterHandle(&find->header)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DestroyFind(find);
    return TRUE;
}
