// The process's own module: Linux has no module handles, so the running
// program gets a fixed one.
#include <cstring>
#include <unistd.h>

#include "../windows.h"
#include "module_handle.h"

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    if (moduleName != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return ProgramModuleHandle();
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    if (module != nullptr && module != ProgramModuleHandle()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length < 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    // A backslash is a separator in every Win32 path the stand-in takes,
    // so a folder with one in its name (say "pkg\..\other") cannot be named
    // at all: the name would lead elsewhere.
    if (std::memchr(path, '\\', static_cast<std::size_t>(length)) != nullptr) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    if (size == 0 || fileName == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Cut as Windows XP and later cut: size - 1 characters and the
    // terminator, the full size returned.
    DWORD pathLength = static_cast<DWORD>(length);
    if (pathLength >= size) {
        for (DWORD i = 0; i + 1 < size; ++i)
            fileName[i] = path[i];
        fileName[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    for (DWORD i = 0; i < pathLength; ++i)
        fileName[i] = path[i];
    fileName[pathLength] = '\0';
    return pathLength;
}
