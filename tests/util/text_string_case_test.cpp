#include <string>

#include <gtest/gtest.h>

#include "text_string.h"

namespace {

std::string Bytes(const TextString& s) {
    return std::string(s.GetText(), s.GetLength());
}

TextString WithBytes(const std::string& bytes) {
    TextString s;
    s.Assign(static_cast<std::uint32_t>(bytes.size()), bytes.data());
    return s;
}

// The neighbours of the letter ranges (@ [ ` {) and the German letters of
// code page 1252 (0xDF sharp s, 0xE4 and 0xC4 a umlaut) must stay.
TEST(TextStringCase, OnlyAsciiLettersChange) {
    TextString upper("az\xDF\xE4\xC4@[`{AZ09");
    upper.MakeUpper();
    EXPECT_EQ(Bytes(upper), "AZ\xDF\xE4\xC4@[`{AZ09");

    TextString lower("AZ\xDF\xE4\xC4@[`{az09");
    lower.MakeLower();
    EXPECT_EQ(Bytes(lower), "az\xDF\xE4\xC4@[`{az09");
}

TEST(TextStringCase, StopsAtTheFirstZeroByteAndLeavesEmptyStringsAlone) {
    TextString s = WithBytes(std::string("ab\0cd", 5));
    s.MakeUpper();
    EXPECT_EQ(Bytes(s), std::string("AB\0cd", 5));
    s.MakeLower();
    EXPECT_EQ(Bytes(s), std::string("ab\0cd", 5));

    TextString none;
    none.MakeUpper().MakeLower();
    EXPECT_FALSE(none.HoldsBuffer());
    EXPECT_STREQ(none.GetText(), "");
}

struct EqualsCase {
    std::string left;
    std::string right;
    bool equal;
};

TEST(TextStringCase, EqualsNoCase) {
    const EqualsCase cases[] = {
        {"Update.EXE", "update.exe", true},
        {"\xC4", "\xE4", false},
        {"\xDF", "\xDF", true},
        {"", "", true},
        {"", "a", false},
        {"abc", "abcd", false},
        {"Z", "z", true},
        {"@", "`", false},
        {"[", "{", false},
        {std::string("ab\0x", 4), std::string("AB\0y", 4), true},
        {std::string("ab\0x", 4), "AB", true},
    };
    for (const EqualsCase& c : cases) {
        const TextString left = WithBytes(c.left), right = WithBytes(c.right);
        EXPECT_EQ(left.EqualsNoCase(right), c.equal) << c.left << " / " << c.right;
        EXPECT_EQ(right.EqualsNoCase(left), c.equal) << c.right << " / " << c.left;
    }
}

} // namespace
