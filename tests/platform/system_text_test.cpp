// FormatMessageA for system error texts and GetLocalTime, as the update's
// log uses them: pinned where Windows and Wine agree (the texts themselves
// differ between them).
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "win32_check.h"

namespace {

const DWORD kSystemText = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

TEST(FormatMessageA, SystemTextsAreOneLineEndingInALineBreak) {
    // The errors that copying files and making directories give.
    for (DWORD error :
         {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION,
          ERROR_FILE_EXISTS, ERROR_INVALID_PARAMETER, ERROR_DISK_FULL, ERROR_INVALID_NAME,
          ERROR_ALREADY_EXISTS, ERROR_FILENAME_EXCED_RANGE, ERROR_DIRECTORY}) {
        SCOPED_TRACE(error);
        char text[512];
        std::memset(text, 'x', sizeof text);
        const DWORD length =
            FormatMessageA(kSystemText, nullptr, error, 0, text, sizeof text, nullptr);
        ASSERT_GT(length, 2u);
        EXPECT_EQ(std::strlen(text), length);
        const std::string shown(text, length);
        EXPECT_EQ(shown.substr(length - 2), "\r\n");
        EXPECT_EQ(shown.find_first_of("\r\n"), length - 2);
    }
}

TEST(FormatMessageA, BufferMustHoldTheTextAndItsTerminator) {
    char text[512];
    const DWORD length =
        FormatMessageA(kSystemText, nullptr, ERROR_ACCESS_DENIED, 0, text, sizeof text, nullptr);
    ASSERT_GT(length, 0u);
    const std::string whole(text, length);
    char exact[512];
    SetLastError(kMarker);
    EXPECT_EQ(
        FormatMessageA(kSystemText, nullptr, ERROR_ACCESS_DENIED, 0, exact, length + 1, nullptr),
        length);
    EXPECT_EQ(std::string(exact), whole);
    EXPECT_WIN32_FAILURE(
        FormatMessageA(kSystemText, nullptr, ERROR_ACCESS_DENIED, 0, exact, length, nullptr), 0u,
        ERROR_INSUFFICIENT_BUFFER);
}

TEST(FormatMessageA, CodeWithoutTextFails) {
    char text[512];
    EXPECT_WIN32_FAILURE(
        FormatMessageA(kSystemText, nullptr, 0x2FFF0000, 0, text, sizeof text, nullptr), 0u,
        ERROR_MR_MID_NOT_FOUND);
}

int DayOfWeek(int year, int month, int day) { // 0 is Sunday
    static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3)
        --year;
    return (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
}

TEST(GetLocalTime, FieldsAreADateAndATimeOfDay) {
    SYSTEMTIME now;
    std::memset(&now, 0xFF, sizeof now);
    GetLocalTime(&now);
    EXPECT_GE(now.wYear, 2020);
    EXPECT_LE(now.wYear, 9999);
    EXPECT_GE(now.wMonth, 1);
    EXPECT_LE(now.wMonth, 12);
    EXPECT_GE(now.wDay, 1);
    EXPECT_LE(now.wDay, 31);
    EXPECT_EQ(now.wDayOfWeek, DayOfWeek(now.wYear, now.wMonth, now.wDay));
    EXPECT_LE(now.wHour, 23);
    EXPECT_LE(now.wMinute, 59);
    EXPECT_LE(now.wSecond, 59);
    EXPECT_LE(now.wMilliseconds, 999);
}

} // namespace
