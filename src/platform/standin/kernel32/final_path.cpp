// GetFinalPathNameByHandleA: the path of an open file as the file system
// names it now, its last name in the case it has on the disk.
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "file_object.h"

DWORD WINAPI GetFinalPathNameByHandleA(HANDLE handle, LPSTR buffer, DWORD size, DWORD) {
    FileObject* file = FileFromHandle(handle);
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (DescriptorOf(file) < 0)
        return 0;
    char link[64], path[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", file->fd);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (length <= 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    // As Win32 counts: the terminator included when it does not fit.
    const DWORD needed = static_cast<DWORD>(length);
    if (buffer == nullptr || size <= needed)
        return needed + 1;
    std::memcpy(buffer, path, needed);
    buffer[needed] = '\0';
    return needed;
}
