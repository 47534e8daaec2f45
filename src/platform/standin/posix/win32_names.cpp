#include "win32_names.h"

#include <cstring>
#include <initializer_list>
#include <strings.h>

namespace {

bool IsForbidden(unsigned char c, bool inPattern) {
    if (c < 0x20)
        return true;
    switch (c) {
    case '|':
        return true;
    case '<':
    case '>':
    case '"':
    case '?':
    case '*':
        return !inPattern;
    default:
        return false;
    }
}

bool OnlyDots(const char* begin, const char* end) {
    for (const char* c = begin; c < end; ++c)
        if (*c != '.')
            return false;
    return true;
}

} // namespace

DWORD NormalizeWin32Path(char* path, LastComponent last) {
    const std::size_t length = std::strlen(path);
    const char* lastSlash = std::strrchr(path, '/');
    const char* lastBegin = lastSlash == nullptr ? path : lastSlash + 1;
    // The second byte of a double-byte character may look like any of them.
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (IsDBCSLeadByte(c) && path[i + 1] != '\0') {
            ++i;
            continue;
        }
        if (IsForbidden(c, last == LastComponent::Pattern && path + i >= lastBegin))
            return ERROR_INVALID_NAME;
    }
    // Components are copied down over what is dropped.
    char* out = path;
    const char* in = path;
    while (*in != '\0') {
        if (*in == '/') {
            *out++ = *in++;
            continue;
        }
        const char* end = in;
        while (*end != '\0' && *end != '/')
            ++end;
        const char* kept = end;
        if (!OnlyDots(in, end)) {
            if (*end == '/') {
                if (kept[-1] == '.')
                    --kept;
            } else if (last == LastComponent::Name) {
                while (kept > in && (kept[-1] == '.' || kept[-1] == ' '))
                    --kept;
            }
        }
        std::memmove(out, in, static_cast<std::size_t>(kept - in));
        out += kept - in;
        in = end;
    }
    *out = '\0';
    return ERROR_SUCCESS;
}

std::size_t DeviceNameLength(const char* name) {
    std::size_t stem = std::strcspn(name, ".:");
    while (stem > 0 && name[stem - 1] == ' ')
        --stem;
    if (stem == 3) {
        for (const char* device : {"CON", "PRN", "AUX", "NUL"})
            if (strncasecmp(name, device, 3) == 0)
                return 3;
    } else if (stem == 4 && name[3] >= '1' && name[3] <= '9' &&
               (strncasecmp(name, "COM", 3) == 0 || strncasecmp(name, "LPT", 3) == 0)) {
        return 4;
    }
    return 0;
}
