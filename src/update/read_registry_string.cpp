#include "read_registry_string.h"

namespace {
const DWORD kValueBufferSize = 256;
}

TextString ReadRegistryString(HKEY root, const char* subKey, const char* valueName) {
    TextString result;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return result;

    char buffer[kValueBufferSize];
    DWORD size = kValueBufferSize;
    if (RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer),
                         &size) == ERROR_SUCCESS) {
        // A stored string need not end in a zero byte: never read past what
        // the query returned.
        if (size > kValueBufferSize)
            size = kValueBufferSize;
        DWORD count = 0;
        while (count < size && buffer[count] != 0)
            ++count;
        result.Assign(count, buffer);
    }
    RegCloseKey(key);
    return result;
}
