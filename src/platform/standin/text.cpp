// Text functions of kernel32 over the stand-in's single-byte ANSI code page.
#include <cstring>

#include "windows.h"

int WINAPI lstrlenA(LPCSTR text) {
    return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}

// The stand-in's code page is single-byte: no byte leads a pair.
BOOL WINAPI IsDBCSLeadByte(BYTE) {
    return FALSE;
}

UINT WINAPI GetACP() {
    return 1252;
}
