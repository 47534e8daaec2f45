#include <climits>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "text_string.h"

namespace {

std::string Bytes(const TextString& s) {
    return std::string(s.GetText(), s.GetLength());
}

void ExpectNoBuffer(const TextString& s) {
    EXPECT_EQ(s.GetLength(), 0u);
    EXPECT_EQ(s.GetCapacity(), 0u);
    EXPECT_FALSE(s.HoldsBuffer());
    EXPECT_EQ(s.GetText(), TextString::EmptyText());
}

TEST(TextStringStorage, EmptyStringsShareTheEmptyTextAndHoldNoBuffer) {
    const char* nullText = nullptr;
    TextString byDefault, fromEmpty(""), fromNull(nullText);
    ExpectNoBuffer(byDefault);
    ExpectNoBuffer(fromEmpty);
    ExpectNoBuffer(fromNull);
    EXPECT_STREQ(byDefault.GetText(), "");
}

TEST(TextStringStorage, BuffersAreExactAndCopiesOfEmptyStringsHoldNone) {
    TextString s("hello");
    EXPECT_EQ(s.GetLength(), 5u);
    EXPECT_EQ(s.GetCapacity(), 5u);

    TextString holder("abc");
    holder.Assign("");
    EXPECT_TRUE(holder.HoldsBuffer());
    TextString copy(holder);
    ExpectNoBuffer(copy);

    TextString full(s);
    EXPECT_EQ(full.GetCapacity(), 5u);
    EXPECT_NE(full.GetText(), s.GetText());
    EXPECT_EQ(Bytes(full), "hello");
}

TEST(TextStringAssign, ShorterAssignmentKeepsTheBufferAndAFittingAppendReusesIt) {
    TextString s("abcdef");
    const char* buffer = s.GetText();
    s.Assign("");
    EXPECT_EQ(s.GetLength(), 0u);
    EXPECT_EQ(s.GetCapacity(), 6u);
    EXPECT_EQ(s.GetText(), buffer);
    EXPECT_STREQ(s.GetText(), "");
    s.Append("xyz");
    EXPECT_EQ(s.GetText(), buffer);
    EXPECT_STREQ(s.GetText(), "xyz");
    s.Append("abc");
    EXPECT_EQ(s.GetText(), buffer);
    s.Append('!');
    EXPECT_NE(s.GetText(), buffer);
    EXPECT_EQ(s.GetCapacity(), 7u);
    EXPECT_STREQ(s.GetText(), "xyzabc!");
}

TEST(TextStringAssign, OwnPointerChangesNothing) {
    TextString s("abcdef");
    s.Assign(s);
    EXPECT_EQ(Bytes(s), "abcdef");
    s.Assign(3, s.GetText());
    EXPECT_EQ(Bytes(s), "abcdef");
    s = s;
    EXPECT_EQ(Bytes(s), "abcdef");
}

TEST(TextStringAssign, OverlappingTailOfOwnTextMovesDown) {
    TextString s("abcdef");
    s.Assign(3, s.GetText() + 3);
    EXPECT_EQ(Bytes(s), "def");
    EXPECT_EQ(s.GetCapacity(), 6u);
}

TEST(TextStringAssign, NullTextLeavesTheStringUnchanged) {
    TextString s("keep");
    const char* nullText = nullptr;
    s.Assign(nullText);
    EXPECT_EQ(Bytes(s), "keep");
}

TEST(TextStringAssign, CountedBytesKeepInnerZeros) {
    TextString s;
    s.Assign(3, "a\0b");
    EXPECT_EQ(s.GetLength(), 3u);
    EXPECT_EQ(Bytes(s), std::string("a\0b", 3));
    TextString copy(s);
    EXPECT_EQ(Bytes(copy), std::string("a\0b", 3));
}

TEST(TextStringAppend, SelfAppendDoublesWithAndWithoutRoom) {
    TextString s("ab");
    s.Append(s);
    EXPECT_EQ(Bytes(s), "abab");

    TextString roomy("abcdefgh");
    roomy.Assign("ab");
    roomy.Append(roomy);
    EXPECT_EQ(Bytes(roomy), "abab");
    EXPECT_EQ(roomy.GetCapacity(), 8u);
}

TEST(TextStringAppend, ZeroCharacterCountsButTextReadsAsBefore) {
    TextString s("ab");
    s.Append('\0');
    EXPECT_EQ(s.GetLength(), 3u);
    EXPECT_STREQ(s.GetText(), "ab");
    s.Append('c');
    EXPECT_EQ(Bytes(s), std::string("ab\0c", 4));
}

TEST(TextStringAppend, NullAndEmptyAppendNothingAndAllocateNothing) {
    TextString s;
    const char* nullText = nullptr;
    s.Append(nullText);
    s.Append("");
    s.Append(TextString());
    ExpectNoBuffer(s);
}

TEST(TextStringAppend, IntegersInRadixTen) {
    TextString s("n=");
    s.Append(-42).Append(' ').Append(INT_MIN);
    EXPECT_EQ(Bytes(s), "n=-42 -2147483648");
}

TEST(TextStringAppend, AppendUnlessLastAndDropLastIf) {
    TextString s;
    s.AppendUnlessLast('\\');
    EXPECT_EQ(Bytes(s), "\\");
    s.AppendUnlessLast('\\');
    EXPECT_EQ(Bytes(s), "\\");

    TextString ax("ax");
    const char* buffer = ax.GetText();
    ax.DropLastIf('x');
    EXPECT_EQ(Bytes(ax), "a");
    EXPECT_EQ(ax.GetText(), buffer);
    EXPECT_EQ(ax.GetCapacity(), 2u);

    TextString ab("ab");
    ab.DropLastIf('x');
    EXPECT_EQ(Bytes(ab), "ab");

    TextString empty;
    empty.DropLastIf('x');
    ExpectNoBuffer(empty);

    TextString emptied("a");
    emptied.Assign("");
    emptied.DropLastIf('x');
    ExpectNoBuffer(emptied);
}

TEST(TextStringAppend, ClearReleasesTheBuffer) {
    TextString s("abc");
    s.Clear();
    ExpectNoBuffer(s);
}

struct IntegerCase {
    std::int32_t value;
    unsigned radix;
    const char* text;
};

TEST(TextStringInteger, TextsInEachRadix) {
    const IntegerCase cases[] = {
        {0, 10, "0"},
        {-42, 10, "-42"},
        {-42, 16, "ffffffd6"},
        {255, 2, "11111111"},
        {INT_MIN, 10, "-2147483648"},
        {INT_MAX, 10, "2147483647"},
        {-1, 16, "ffffffff"},
        {-1, 2, "11111111111111111111111111111111"},
        {INT_MIN, 2, "10000000000000000000000000000000"},
        {35, 36, "z"},
        {-1, 36, "1z141z3"},
        {7, 0, "7"},
        {7, 1, "7"},
    };
    for (const IntegerCase& c : cases) {
        TextString s(c.value, c.radix);
        EXPECT_EQ(Bytes(s), c.text) << c.value << " radix " << c.radix;
        EXPECT_EQ(s.GetCapacity(), std::strlen(c.text));
    }
}

TEST(TextStringFormat, ExpandsPrintfFormats) {
    TextString s;
    s.Format("%s-%d", "a", 5);
    EXPECT_EQ(Bytes(s), "a-5");
    s.Format("x%cy", 0);
    EXPECT_EQ(Bytes(s), "x");
    s.Format("%s", "");
    EXPECT_EQ(s.GetLength(), 0u);
}

TEST(TextStringFormat, OwnTextAsArgument) {
    TextString s("abc");
    s.Format("[%s|%s]", s.GetText(), s.GetText());
    EXPECT_EQ(Bytes(s), "[abc|abc]");
}

TEST(TextStringFormat, ExpansionFarLongerThanTheClassicBlock) {
    const std::string big(5000, 'q');
    TextString s;
    s.Format("<%s>%d", big.c_str(), 12);
    EXPECT_EQ(Bytes(s), "<" + big + ">12");
    EXPECT_EQ(s.GetCapacity(), 5004u);
    s.Format("%3000d", 1);
    EXPECT_EQ(s.GetLength(), 3000u);
}

TEST(TextStringFormat, MessageWithCodePage1252Bytes) {
    TextString s;
    s.Format("Es wurden %d Dateien kopiert.\r\nDas Update wurde korrekt installiert.", 2);
    EXPECT_EQ(Bytes(s), "Es wurden 2 Dateien kopiert.\r\nDas Update wurde korrekt installiert.");
    s.Format("%s \xFC\xDF\xE4", "x");
    EXPECT_EQ(Bytes(s), "x \xFC\xDF\xE4");
}

} // namespace
