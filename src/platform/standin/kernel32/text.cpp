// Text functions of kernel32 over the stand-in's ANSI code page.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../windows.h"
#include "name_case.h"

namespace {

const UINT kWesternCodePage = 1252;
const UINT kJapaneseCodePage = 932;

// The ANSI code page is 1252, the code page of the program's texts, unless
// UPDATE_ANSI_CODE_PAGE names 932 (Japanese). Wine takes it from the locale
// instead; here the locale does not count, so that the program splits paths
// alike for every user.
UINT CodePageFromEnvironment() {
    const char* value = std::getenv("UPDATE_ANSI_CODE_PAGE");
    if (value == nullptr || *value == 0 || std::strcmp(value, "1252") == 0)
        return kWesternCodePage;
    if (std::strcmp(value, "932") == 0)
        return kJapaneseCodePage;
    std::fprintf(stderr,
                 "UPDATE_ANSI_CODE_PAGE=%s is not a code page of this platform (1252, 932); "
                 "using 1252\n",
                 value);
    return kWesternCodePage;
}

// Fixed for the life of the process, as on Windows.
UINT AnsiCodePage() {
    static const UINT codePage = CodePageFromEnvironment();
    return codePage;
}

} // namespace

int WINAPI lstrlenA(LPCSTR text) {
    return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}

// Code page 1252 is single-byte. In code page 932 (Shift JIS) the bytes
// 0x81-0x9F and 0xE0-0xFC lead a pair; 0xA1-0xDF are single half-width
// katakana.
BOOL WINAPI IsDBCSLeadByte(BYTE test) {
    if (AnsiCodePage() != kJapaneseCodePage)
        return FALSE;
    return ((test >= 0x81 && test <= 0x9F) || (test >= 0xE0 && test <= 0xFC)) ? TRUE : FALSE;
}

UINT WINAPI GetACP() {
    return AnsiCodePage();
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

// The ANSI code page only (1252 or 932, name_case.h), by its number or as
// CP_ACP.
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength,
                               LPWSTR wide, int wideLength) {
    if (codePage == CP_ACP)
        codePage = AnsiCodePage();
    if ((codePage != kWesternCodePage && codePage != kJapaneseCodePage) ||
        codePage != AnsiCodePage() || multiByte == nullptr || multiByteLength == 0 ||
        multiByteLength < -1 || wideLength < 0 || (wide == nullptr && wideLength > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t length = multiByteLength == -1 ? std::strlen(multiByte) + 1
                                                     : static_cast<std::size_t>(multiByteLength);
    std::u16string converted;
    if (!AnsiToUtf16(multiByte, length, converted) && (flags & MB_ERR_INVALID_CHARS)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (wideLength == 0)
        return static_cast<int>(converted.size());
    if (converted.size() > static_cast<std::size_t>(wideLength)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(wide, converted.data(), converted.size() * sizeof(WCHAR));
    return static_cast<int>(converted.size());
}

// Ignoring case, each unit up-cased as the file system does.
int WINAPI CompareStringOrdinal(LPCWCH first, int firstLength, LPCWCH second, int secondLength,
                                BOOL ignoreCase) {
    if (first == nullptr || second == nullptr || firstLength < -1 || secondLength < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string a = firstLength == -1
                           ? std::u16string(first)
                           : std::u16string(first, static_cast<std::size_t>(firstLength));
    std::u16string b = secondLength == -1
                           ? std::u16string(second)
                           : std::u16string(second, static_cast<std::size_t>(secondLength));
    if (ignoreCase) {
        for (char16_t& unit : a)
            unit = UpcaseUnit(unit);
        for (char16_t& unit : b)
            unit = UpcaseUnit(unit);
    }
    const int order = a.compare(b);
    return order < 0 ? CSTR_LESS_THAN : order == 0 ? CSTR_EQUAL : CSTR_GREATER_THAN;
}
