#include "entry_name.h"
#include "lead_bytes.h"

#include <cstddef>

#include "platform/win32_api.h"

namespace {

bool IsForbiddenCharacter(unsigned char c) {
    if (c < 0x20)
        return true;
    switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '/':
    case '\\':
    case '|':
    case '?':
    case '*':
        return true;
    default:
        return false;
    }
}

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The part before the first dot, without trailing spaces, is a device name.
bool IsReservedDeviceName(const char* name) {
    std::size_t stem = 0;
    while (name[stem] != '\0' && name[stem] != '.')
        ++stem;
    while (stem > 0 && name[stem - 1] == ' ')
        --stem;
    char upper[4] = {};
    if (stem != 3 && stem != 4)
        return false;
    for (std::size_t i = 0; i < 3; ++i)
        upper[i] = UpperAscii(name[i]);
    const char* const kThreeLetter[] = {"CON", "PRN", "AUX", "NUL"};
    if (stem == 3) {
        for (const char* device : kThreeLetter)
            if (upper[0] == device[0] && upper[1] == device[1] && upper[2] == device[2])
                return true;
        return false;
    }
    const bool numbered = (upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M') ||
                          (upper[0] == 'L' && upper[1] == 'P' && upper[2] == 'T');
    return numbered && name[3] >= '1' && name[3] <= '9';
}

} // namespace

bool IsWindowsFileName(const char* name) {
    if (name == nullptr || name[0] == '\0')
        return false;
    // In a double-byte code page the second byte of a character may look
    // like a separator; it is part of the character.
    std::size_t length = 0;
    while (name[length] != '\0') {
        const unsigned char c = static_cast<unsigned char>(name[length]);
        if (IsLeadByte(c) && name[length + 1] != '\0') {
            length += 2;
            continue;
        }
        if (IsForbiddenCharacter(c))
            return false;
        ++length;
    }
    const char last = name[length - 1];
    if (last == ' ' || last == '.')
        return false;
    return !IsReservedDeviceName(name);
}
