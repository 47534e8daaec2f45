// The Wine way of pinning a Win32 call: a marker in the last error before the
// call, then the result and the last error it left.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "platform/win32_api.h"

const DWORD kMarker = 0xdeadbeef;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The call returns failure and sets exactly error.
#define EXPECT_WIN32_FAILURE(call, failure, error)                                                 \
    do {                                                                                           \
        SetLastError(kMarker);                                                                     \
        EXPECT_EQ((call), (failure)) << #call;                                                     \
        EXPECT_EQ(GetLastError(), DWORD(error)) << #call;                                          \
    } while (0)

// The last-write time as the directory listing gives it.
inline FILETIME LastWriteTime(const std::string& path) {
    WIN32_FIND_DATAA data = {};
    HANDLE find = FindFirstFileA(path.c_str(), &data);
    EXPECT_NE(find, INVALID_HANDLE_VALUE) << path;
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    return data.ftLastWriteTime;
}

inline HANDLE Open(const std::string& path, DWORD access, DWORD share,
                   DWORD disposition = OPEN_EXISTING, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}
