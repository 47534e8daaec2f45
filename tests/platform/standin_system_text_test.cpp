// The stand-in's system texts: Windows' own (English) for every error code
// that its calls give, and only those.
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

// The log's lines pin some texts word for word; here every code that the
// file calls give (from POSIX errors) must have one.
TEST(StandinFormatMessageA, EveryErrorItGivesHasAText) {
    for (DWORD error : {ERROR_FILE_NOT_FOUND,       ERROR_PATH_NOT_FOUND,      ERROR_ACCESS_DENIED,
                        ERROR_SHARING_VIOLATION,    ERROR_ALREADY_EXISTS,      ERROR_DISK_FULL,
                        ERROR_FILENAME_EXCED_RANGE, ERROR_TOO_MANY_OPEN_FILES, ERROR_INVALID_HANDLE,
                        ERROR_NOT_ENOUGH_MEMORY,    ERROR_NO_MORE_FILES,       ERROR_WRITE_PROTECT,
                        ERROR_FILE_EXISTS,          ERROR_INVALID_PARAMETER,   ERROR_INVALID_NAME,
                        ERROR_DIR_NOT_EMPTY,        ERROR_DIRECTORY,           ERROR_HANDLE_EOF,
                        ERROR_NOT_SAME_DEVICE,      ERROR_CANT_ACCESS_FILE,    ERROR_NOACCESS,
                        ERROR_INVALID_USER_BUFFER})
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
