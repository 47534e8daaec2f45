// Text functions of kernel32 over the stand-in's single-byte ANSI code page.
#include <cstring>

#include "../windows.h"

int WINAPI lstrlenA(LPCSTR text) {
    return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}

// The stand-in's code page is single-byte: no byte leads a pair.
BOOL WINAPI IsDBCSLeadByte(BYTE) {
    return FALSE;
}

// The program's texts are in code page 1252.
UINT WINAPI GetACP() {
    return 1252;
}

// Case-insensitive for the ASCII letters; other bytes compare by value.
int WINAPI lstrcmpiA(LPCSTR first, LPCSTR second) {
    if (first == nullptr)
        first = "";
    if (second == nullptr)
        second = "";
    for (;; ++first, ++second) {
        unsigned char a = static_cast<unsigned char>(*first);
        unsigned char b = static_cast<unsigned char>(*second);
        if (a >= 'A' && a <= 'Z')
            a = static_cast<unsigned char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = static_cast<unsigned char>(b - 'A' + 'a');
        if (a != b)
            return a < b ? -1 : 1;
        if (a == 0)
            return 0;
    }
}
