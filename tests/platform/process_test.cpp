// Module, text, registry, window and process calls of the run.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "win32_check.h"

namespace {

TEST(GetModuleFileNameA, FullPathAndCutToTheBuffer) {
    char path[1000];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    ASSERT_GT(length, 5u);
    ASSERT_LT(length, sizeof(path));
    EXPECT_EQ(std::strlen(path), length);
    DWORD attributes = GetFileAttributesA(path);
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << path;
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

    // Windows Vista and later cut to size - 1 characters and a terminator;
    // XP (and Wine) leave the last character in place of the terminator.
    char small[6];
    std::memset(small, 'x', sizeof(small));
    SetLastError(kMarker);
    EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(nullptr), small, sizeof(small)),
              DWORD(sizeof(small)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(small, sizeof(small) - 1), std::string(path, sizeof(small) - 1));
    EXPECT_TRUE(small[sizeof(small) - 1] == '\0' || small[sizeof(small) - 1] == path[5]);
}

// A buffer of exactly the path's length and one of the length and its
// terminator; a sentinel behind each shows that nothing is written past it.
TEST(GetModuleFileNameA, BufferOfExactlyTheLengthAndOneMore) {
    char path[1000];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    ASSERT_GT(length, 5u);
    ASSERT_LT(length, sizeof(path) - 2);
    std::string buffer(length + 2, '#');

    EXPECT_EQ(GetModuleFileNameA(nullptr, &buffer[0], length + 1), length);
    EXPECT_EQ(buffer, std::string(path) + '\0' + '#');

    buffer.assign(length + 1, '#');
    SetLastError(kMarker);
    EXPECT_EQ(GetModuleFileNameA(nullptr, &buffer[0], length), length);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(buffer.substr(0, length - 1), std::string(path, length - 1));
    EXPECT_TRUE(buffer[length - 1] == '\0' || buffer[length - 1] == path[length - 1]);
    EXPECT_EQ(buffer[length], '#');
}

// The size with the terminator when the buffer is too small (nothing
// written past it); the length without it when it fits.
TEST(GetTempPathA, BufferOfExactlyTheLengthAndOneMore) {
    const DWORD size = GetTempPathA(0, nullptr);
    ASSERT_GT(size, 1u);
    const DWORD length = size - 1;
    std::string buffer(size + 1, '#');
    EXPECT_EQ(GetTempPathA(length, &buffer[0]), size);
    EXPECT_EQ(buffer.substr(length), "##");

    buffer.assign(size + 1, '#');
    EXPECT_EQ(GetTempPathA(size, &buffer[0]), length);
    EXPECT_EQ(buffer[length], '\0');
    EXPECT_EQ(buffer[size], '#');
    EXPECT_EQ(std::string(buffer.c_str()).size(), length);
    EXPECT_TRUE(buffer[length - 1] == '\\' || buffer[length - 1] == '/') << buffer;
}

TEST(Process, MissingThingsAndEmptyAnswers) {
    HKEY key = nullptr;
    EXPECT_EQ(
        RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\No Such Vendor 4711", 0, KEY_ALL_ACCESS, &key),
        ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(WinExec("no-such-program-4711.exe faq.txt", SW_SHOWMAXIMIZED),
              UINT(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(GetDesktopWindow(), nullptr);
    EXPECT_EQ(GetActiveWindow(), nullptr);
    EXPECT_EQ(lstrlenA(nullptr), 0);
}

} // namespace
