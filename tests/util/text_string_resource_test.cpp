// Runs against resources/strings_test.rc, compiled into this program.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "test_bytes.h"
#include "text_string.h"
#ifndef _WIN32
#include "platform/standin/user32/message_box_record.h"
#endif

namespace {

const UINT kPresentId = 100, kEmptyId = 101, kLongId = 102, kEscapesId = 103;
const UINT kMissingInBlockId = 104, kMissingBlockId = 4000;
const DWORD kMarker = 0xdeadbeef;

// A hundred of each letter a to k.
std::string LongText(std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += static_cast<char>('a' + i / 100);
    return text;
}

TEST(StringResources, LoadStringA) {
    const HINSTANCE self = GetModuleHandleA(nullptr);
    const struct {
        const char* what;
        HINSTANCE instance;
        UINT id;
        int bufferMax, copied;
        std::string text;
        DWORD lastError;
    } cases[] = {
        {"present", self, kPresentId, 64, 12, "Present text", kMarker},
        {"null instance is the program", nullptr, kPresentId, 64, 12, "Present text", kMarker},
        {"cut to the buffer", self, kPresentId, 5, 4, "Pres", kMarker},
        {"room for the terminator only", self, kPresentId, 1, 0, "", kMarker},
        {"id by its low word", self, 0x10000 + kPresentId, 64, 12, "Present text", kMarker},
        {"empty resource", self, kEmptyId, 64, 0, "", kMarker},
        {"missing in a block", self, kMissingInBlockId, 64, 0, "", kMarker},
        {"missing block", self, kMissingBlockId, 64, 0, "", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"long", self, kLongId, 2000, 1100, LongText(1100), kMarker},
        {"escapes", self, kEscapesId, 64, 39, "Say \"hi\",\tthen C:\\dir\n// not a comment?",
         kMarker},
    };
    for (const auto& c : cases) {
        char buffer[2000];
        std::memset(buffer, 'x', sizeof buffer - 1);
        buffer[sizeof buffer - 1] = '\0';
        SetLastError(kMarker);
        EXPECT_EQ(LoadStringA(c.instance, c.id, buffer, c.bufferMax), c.copied) << c.what;
        EXPECT_EQ(GetLastError(), c.lastError) << c.what;
        EXPECT_EQ(std::string(buffer), c.text) << c.what;
    }
    char unwritten[4] = {'x', 'x', 'x', 0};
    EXPECT_EQ(LoadStringA(self, kPresentId, unwritten, 0), -1);
    EXPECT_STREQ(unwritten, "xxx");
}

TEST(TextStringResource, LoadResourceText) {
    const struct {
        const char* what;
        UINT id;
        bool loaded;
        std::string text;
    } cases[] = {
        {"present", kPresentId, true, "Present text"},
        {"missing", kMissingInBlockId, false, "before"},
        {"missing block", kMissingBlockId, false, "before"},
        {"empty resource", kEmptyId, false, "before"},
        {"longer than 1023", kLongId, true, LongText(1023)},
    };
    for (const auto& c : cases) {
        TextString s("before");
        const char* const before = s.GetText();
        EXPECT_EQ(s.LoadResourceText(c.id, GetModuleHandleA(nullptr)), c.loaded) << c.what;
        EXPECT_EQ(Bytes(s), c.text) << c.what;
        EXPECT_TRUE(c.loaded || s.GetText() == before) << c.what << ": the buffer is kept";
    }
    TextString none;
    EXPECT_FALSE(none.LoadResourceText(kMissingBlockId, GetModuleHandleA(nullptr)));
    EXPECT_FALSE(none.HoldsBuffer());
}

// On Windows the box is modal and waits for a user; the stand-in writes it to
// standard error as "<caption>: <text>".
#ifndef _WIN32
TEST(TextStringResource, ShowInMessageBox) {
    ::testing::internal::CaptureStderr();
    TextString("Es wurden 3 Dateien kopiert.").ShowInMessageBox();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Output: Es wurden 3 Dateien kopiert.\n");
    EXPECT_EQ(GetActiveWindow(), nullptr);
    // Owned by the active window, with the information icon and OK alone.
    const MessageBoxRecord box = LastMessageBox();
    EXPECT_EQ(box.owner, GetActiveWindow());
    EXPECT_EQ(box.type, UINT(MB_ICONINFORMATION));
}
#endif

} // namespace
