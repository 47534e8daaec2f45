#include "read_registry_string.h"

namespace {
const DWORD kValueBufferSize = 256;
}

TextString ReadRegistryString(HKEY root, const char* subKey, const char* valueName, LONG* status) {
    TextString result;
    HKEY key = nullptr;
    LONG outcome = RegOpenKeyExA(root, subKey, 0, KEY_ALL_ACCESS, &key);
    if (status != nullptr)
        *status = outcome;
    if (outcome != ERROR_SUCCESS)
        return result;

    char buffer[kValueBufferSize];
    DWORD size = kValueBufferSize;
    outcome =
        RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size);
    if (status != nullptr)
        *status = outcome;
    if (outcome == ERROR_SUCCESS) {
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
