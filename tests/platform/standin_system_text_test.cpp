// The stand-in's system texts are Windows' own (English) for every error
// code that its calls give.
#include <string>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "win32_check.h"

namespace {

std::string SystemText(DWORD error, DWORD language = 0) {
    char text[512];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, language, text, sizeof text, nullptr);
    return length == 0 ? "<none>" : std::string(text, length);
}

TEST(StandinFormatMessageA, WindowsTextsOfTheErrorsItGives) {
    struct Case {
        DWORD error;
        const char* text;
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
        {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
        {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
        {ERROR_SHARING_VIOLATION,
         "The process cannot access the file because it is being used by another process.\r\n"},
        {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.\r\n"},
        {ERROR_DISK_FULL, "There is not enough space on the disk.\r\n"},
        {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SystemText(c.error), c.text) << c.error;
    // Every code that the file calls map a POSIX error to has a text.
    for (DWORD error :
         {ERROR_TOO_MANY_OPEN_FILES, ERROR_INVALID_HANDLE, ERROR_NOT_ENOUGH_MEMORY,
          ERROR_NO_MORE_FILES, ERROR_WRITE_PROTECT, ERROR_FILE_EXISTS, ERROR_INVALID_PARAMETER,
          ERROR_INVALID_NAME, ERROR_DIR_NOT_EMPTY, ERROR_DIRECTORY, ERROR_HANDLE_EOF,
          ERROR_BAD_FORMAT, ERROR_MOD_NOT_FOUND, ERROR_INSUFFICIENT_BUFFER, ERROR_MORE_DATA})
        EXPECT_NE(SystemText(error), "<none>") << error;
}

TEST(StandinFormatMessageA, OnlySystemTextsInEnglish) {
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, 0x0409), "Access is denied.\r\n");
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, 0x0407), "<none>"); // German
    char text[64];
    EXPECT_WIN32_FAILURE(
        FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "text", 0, 0, text, sizeof text, nullptr), 0u,
        ERROR_INVALID_PARAMETER);
    EXPECT_WIN32_FAILURE(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0,
                                        nullptr, 64, nullptr),
                         0u, ERROR_INVALID_PARAMETER);
}

} // namespace
