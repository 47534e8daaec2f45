// The process environment, as the C library holds it.
#include <cstdlib>
#include <cstring>

#include "../windows.h"

// Win32's contract: the length without the terminator when the value fits,
// else the size needed with it; 0 and ERROR_ENVVAR_NOT_FOUND when unset.
DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    const char* value = name != nullptr ? std::getenv(name) : nullptr;
    if (value == nullptr) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    const std::size_t length = std::strlen(value);
    if (buffer == nullptr || length >= size)
        return static_cast<DWORD>(length + 1);
    std::memcpy(buffer, value, length + 1);
    return static_cast<DWORD>(length);
}
