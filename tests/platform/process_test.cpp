// Module, text, registry and process calls of the run.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32_api.h"

namespace {

const DWORD kMarker = 0xdeadbeef;

TEST(GetModuleFileNameA, FullPathAndCutToTheBuffer) {
    EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
    char path[1000];
    SetLastError(kMarker);
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

TEST(lstrcmpiA, IgnoresTheCaseOfLetters) {
    struct Case {
        const char* first;
        const char* second;
        int sign;
    } cases[] = {
        {"Update.exe", "UPDATE.EXE", 0},
        {"update.exe", "Update.exe", 0},
        {"", "", 0},
        {"a", "B", -1},
        {"B", "a", 1},
        {"abc", "ab", 1},
        {"ab", "abc", -1},
        {"Update.exe", "Update.ex", 1},
    };
    for (const Case& c : cases) {
        int result = lstrcmpiA(c.first, c.second);
        int sign = result < 0 ? -1 : result > 0 ? 1 : 0;
        EXPECT_EQ(sign, c.sign) << c.first << " vs " << c.second;
    }
    EXPECT_EQ(lstrlenA("Brenvolt"), 8);
    EXPECT_EQ(lstrlenA(nullptr), 0);
}

TEST(Registry, MissingKeyAndBadHandle) {
    HKEY key = reinterpret_cast<HKEY>(kMarker);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\No Such Vendor 4711\\Product", 0,
                            KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(
        RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\No Such Vendor 4711", 0, KEY_ALL_ACCESS, &key),
        ERROR_FILE_NOT_FOUND);
}

TEST(WinExec, MissingProgramGivesFileNotFound) {
    EXPECT_EQ(WinExec("no-such-program-4711.exe faq.txt", SW_SHOWMAXIMIZED),
              UINT(ERROR_FILE_NOT_FOUND));
}

TEST(Windows, DesktopButNoActiveWindow) {
    EXPECT_NE(GetDesktopWindow(), nullptr);
    EXPECT_EQ(GetActiveWindow(), nullptr);
}

} // namespace
