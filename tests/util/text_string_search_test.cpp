#include <string>

#include <gtest/gtest.h>

#include "text_string.h"

namespace {

TextString WithBytes(const std::string& bytes) {
    TextString s;
    s.Assign(static_cast<std::uint32_t>(bytes.size()), bytes.data());
    return s;
}

struct FindCase {
    const char* text;
    std::int32_t position;
};

struct ReverseFindCase {
    char character;
    std::int32_t position;
};

TEST(TextStringSearch, Find) {
    const TextString abcb("abcb");
    const FindCase cases[] = {
        {"b", 1}, {"", 0}, {"x", -1}, {"cb", 2}, {"abcb", 0}, {"abcbx", -1}, {"bb", -1}, {"bcb", 1},
    };
    for (const FindCase& c : cases)
        EXPECT_EQ(abcb.Find(c.text), c.position) << c.text;

    const TextString empty;
    EXPECT_EQ(empty.Find(""), 0);
    EXPECT_EQ(empty.Find("a"), -1);

    const TextString high("a\xC4\xE4");
    EXPECT_EQ(high.Find("\xE4"), 2);
    EXPECT_EQ(high.Find("\xC4\xE4"), 1);
}

TEST(TextStringSearch, ReverseFind) {
    const TextString abcb("abcb");
    const ReverseFindCase cases[] = {{'b', 3}, {'a', 0}, {'c', 2}, {'x', -1}, {'\0', 4}};
    for (const ReverseFindCase& c : cases)
        EXPECT_EQ(abcb.ReverseFind(c.character), c.position) << c.character;

    const TextString empty;
    EXPECT_EQ(empty.ReverseFind('\0'), 0);
    EXPECT_EQ(empty.ReverseFind('a'), -1);

    const TextString high("x\xE4y\xE4z");
    EXPECT_EQ(high.ReverseFind('\xE4'), 3);
}

TEST(TextStringSearch, AnInnerZeroByteEndsTheSearchedText) {
    const TextString s = WithBytes(std::string("ab\0cb", 5));
    EXPECT_EQ(s.Find("b"), 1);
    EXPECT_EQ(s.Find("c"), -1);
    EXPECT_EQ(s.ReverseFind('b'), 1);
    EXPECT_EQ(s.ReverseFind('c'), -1);
    EXPECT_EQ(s.ReverseFind('\0'), 2);
}

} // namespace
