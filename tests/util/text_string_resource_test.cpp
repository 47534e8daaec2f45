// Runs against resources/strings_test.rc, compiled into this program.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "text_string.h"

namespace {

const UINT kPresentId = 100;
const UINT kEmptyId = 101;
const UINT kLongId = 102;
const UINT kEscapesId = 103;
const UINT kMissingInBlockId = 104;
const UINT kMissingBlockId = 4000;

const DWORD kMarker = 0xdeadbeef;

std::string Bytes(const TextString& s) {
    return std::string(s.GetText(), s.GetLength());
}

// A hundred of each letter a to k.
std::string LongText(std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += static_cast<char>('a' + i / 100);
    return text;
}

struct LoadCase {
    const char* what;
    UINT id;
    int bufferMax;
    int copied;
    std::string text;
    DWORD lastError;
};

TEST(StringResources, LoadStringA) {
    const HINSTANCE self = GetModuleHandleA(nullptr);
    const LoadCase cases[] = {
        {"present", kPresentId, 64, 12, "Present text", kMarker},
        {"cut to the buffer", kPresentId, 5, 4, "Pres", kMarker},
        {"room for the terminator only", kPresentId, 1, 0, "", kMarker},
        {"id by its low word", 0x10000 + kPresentId, 64, 12, "Present text", kMarker},
        {"empty resource", kEmptyId, 64, 0, "", kMarker},
        {"missing in a block", kMissingInBlockId, 64, 0, "", kMarker},
        {"missing block", kMissingBlockId, 64, 0, "", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"long", kLongId, 2000, 1100, LongText(1100), kMarker},
        {"escapes", kEscapesId, 64, 39, "Say \"hi\",\tthen C:\\dir\n// not a comment?", kMarker},
    };
    for (const LoadCase& c : cases) {
        char buffer[2000];
        std::memset(buffer, 'x', sizeof buffer);
        SetLastError(kMarker);
        EXPECT_EQ(LoadStringA(self, c.id, buffer, c.bufferMax), c.copied) << c.what;
        EXPECT_EQ(GetLastError(), c.lastError) << c.what;
        EXPECT_EQ(std::string(buffer, std::strlen(buffer)), c.text) << c.what;
    }
}

TEST(StringResources, NullInstanceIsTheProgram) {
    char buffer[64];
    EXPECT_EQ(LoadStringA(nullptr, kPresentId, buffer, sizeof buffer), 12);
    EXPECT_STREQ(buffer, "Present text");
}

TEST(StringResources, ZeroSizedBufferIsNotWritten) {
    char buffer[4] = {'x', 'x', 'x', 0};
    EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), kPresentId, buffer, 0), -1);
    EXPECT_STREQ(buffer, "xxx");
}

struct ResourceTextCase {
    const char* what;
    UINT id;
    bool loaded;
    std::string text;
};

TEST(TextStringResource, LoadResourceText) {
    const ResourceTextCase cases[] = {
        {"present", kPresentId, true, "Present text"},
        {"missing", kMissingInBlockId, false, "before"},
        {"missing block", kMissingBlockId, false, "before"},
        {"empty resource", kEmptyId, false, "before"},
        {"longer than 1023", kLongId, true, LongText(1023)},
    };
    for (const ResourceTextCase& c : cases) {
        TextString s("before");
        const char* const before = s.GetText();
        EXPECT_EQ(s.LoadResourceText(c.id, GetModuleHandleA(nullptr)), c.loaded) << c.what;
        EXPECT_EQ(Bytes(s), c.text) << c.what;
        if (!c.loaded) {
            EXPECT_EQ(s.GetText(), before) << c.what << ": the buffer is kept";
        }
    }

    TextString none;
    EXPECT_FALSE(none.LoadResourceText(kMissingBlockId, GetModuleHandleA(nullptr)));
    EXPECT_FALSE(none.HoldsBuffer());
}

// On Windows the box is modal and waits for a user; the stand-in writes it to
// standard error as "<caption>: <text>".
#ifndef _WIN32
TEST(TextStringResource, ShowInMessageBox) {
    const TextString s("Es wurden 3 Dateien kopiert.");
    ::testing::internal::CaptureStderr();
    s.ShowInMessageBox();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Output: Es wurden 3 Dateien kopiert.\n");
    EXPECT_EQ(GetActiveWindow(), nullptr);
}
#endif

} // namespace
