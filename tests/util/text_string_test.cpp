#include <climits>
#include <cstddef>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "heap_watch.h"
#include "test_bytes.h"
#include "text_string.h"

namespace {

// Buffers are exact, an empty string holds none, and the text is terminated.
void ExpectExact(const TextString& s, const std::string& bytes, const std::string& what = "") {
    EXPECT_EQ(Bytes(s), bytes) << what;
    EXPECT_EQ(s.GetCapacity(), s.GetLength()) << what;
    EXPECT_EQ(s.GetText() == TextString::EmptyText(), bytes.empty()) << what;
    EXPECT_EQ(s.GetText()[s.GetLength()], '\0') << what;
}

TEST(TextStringStorage, BuffersAreExactAndEmptyStringsHoldNone) {
    const char* nullText = nullptr;
    TextString emptied("abc"), cleared("abc");
    emptied.Assign("");
    cleared.Clear();
    const TextString hello("hello"), copy(hello), innerZero = WithBytes(std::string("a\0b", 3));
    ExpectExact(TextString(), "", "default");
    ExpectExact(TextString(""), "", "from \"\"");
    ExpectExact(TextString(nullText), "", "from null");
    ExpectExact(TextString(emptied), "", "copy of an emptied string");
    ExpectExact(cleared, "", "cleared");
    ExpectExact(hello, "hello");
    ExpectExact(copy, "hello", "copy");
    EXPECT_NE(copy.GetText(), hello.GetText());
    ExpectExact(TextString(innerZero), std::string("a\0b", 3), "copy with an inner zero");
}

TEST(TextStringStorage, ShrinkingKeepsTheBufferAndAFittingAppendReusesIt) {
    TextString s("abcdef");
    const char* buffer = s.GetText();
    s.Assign("");
    EXPECT_EQ(s.GetCapacity(), 6u);
    EXPECT_EQ(s.GetText(), buffer);
    EXPECT_STREQ(s.GetText(), "");
    s.Append("xyz").Append("abc").DropLastIf('c');
    EXPECT_EQ(Bytes(s), "xyzab");
    EXPECT_STREQ(s.GetText(), "xyzab"); // terminated at the new length
    EXPECT_EQ(s.GetText(), buffer);
    s.Append("c!");
    EXPECT_NE(s.GetText(), buffer);
    ExpectExact(s, "xyzabc!");
}

// Every block a string makes goes back to the heap once: when it grows out
// of its buffer, and at its end.
struct BlockCount {
    int made = 0, released = 0;
    static void Made(void*, std::size_t, void* context) {
        ++static_cast<BlockCount*>(context)->made;
    }
    static void Released(void*, void* context) { ++static_cast<BlockCount*>(context)->released; }
};

TEST(TextStringStorage, AStringThatGrowsReleasesItsOldBuffer) {
    BlockCount count;
    {
        ScopedHeapWatch watch({BlockCount::Made, BlockCount::Released, &count, nullptr});
        TextString s("ab");
        s.Append("cd").Append('e').Append(s);
        EXPECT_EQ(Bytes(s), "abcdeabcde");
        EXPECT_EQ(count.made, 4);
        EXPECT_EQ(count.released, 3);
    }
    EXPECT_EQ(count.released, 4);
}

// The heap may hand a released block straight back, so the blocks are
// counted, not their addresses compared.
TEST(TextStringStorage, AssignOfExactlyTheCapacityReusesTheBuffer) {
    TextString s("abcdef");
    BlockCount count;
    {
        ScopedHeapWatch watch({BlockCount::Made, BlockCount::Released, &count, nullptr});
        s.Assign("uvwxyz");
    }
    EXPECT_EQ(count.made, 0);
    EXPECT_EQ(count.released, 0);
    ExpectExact(s, "uvwxyz");
}

TEST(TextStringAssign, OwnTextAndNull) {
    TextString s("abcdef");
    const char* nullText = nullptr;
    s.Assign(s);
    s = s;
    s.Assign(3, s.GetText()); // the own pointer changes nothing
    s.Assign(nullText);
    EXPECT_EQ(Bytes(s), "abcdef");
    s.Assign(3, s.GetText() + 3); // an overlapping tail moves down
    EXPECT_EQ(Bytes(s), "def");
    EXPECT_EQ(s.GetCapacity(), 6u);
}

TEST(TextStringAppend, SelfAppendDoublesAndTheZeroCharacterCounts) {
    TextString s("ab");
    s.Append(s);
    ExpectExact(s, "abab");
    TextString roomy("abcdefgh");
    roomy.Assign("ab");
    roomy.Append(roomy);
    EXPECT_EQ(Bytes(roomy), "abab");
    EXPECT_EQ(roomy.GetCapacity(), 8u);

    // The zero character counts, but the text reads as before.
    s.Append('\0');
    EXPECT_EQ(s.GetLength(), 5u);
    EXPECT_STREQ(s.GetText(), "abab");
    s.Append('c');
    EXPECT_EQ(Bytes(s), std::string("abab\0c", 6));
}

TEST(TextStringAppend, OtherForms) {
    const char* nullText = nullptr;
    TextString none;
    none.Append(nullText).Append("").Append(TextString());
    ExpectExact(none, "", "null and empty append nothing");

    TextString s("n=");
    s.Append(-42).Append(' ').Append(INT_MIN);
    EXPECT_EQ(Bytes(s), "n=-42 -2147483648");

    TextString slash;
    slash.AppendUnlessLast('\\').AppendUnlessLast('\\').DropLastIf('x');
    EXPECT_EQ(Bytes(slash), "\\");
    TextString emptied("a");
    emptied.Assign("");
    emptied.DropLastIf('x');
    ExpectExact(emptied, "", "DropLastIf on an empty string releases its buffer");
}

TEST(TextStringInteger, TextsInEachRadix) {
    const struct {
        std::int32_t value;
        unsigned radix;
        const char* text;
    } cases[] = {{0, 10, "0"},
                 {-42, 10, "-42"},
                 {-42, 16, "ffffffd6"},
                 {255, 2, "11111111"},
                 {INT_MIN, 10, "-2147483648"},
                 {INT_MAX, 10, "2147483647"},
                 {INT_MIN, 2, "10000000000000000000000000000000"},
                 {35, 36, "z"},
                 {-1, 36, "1z141z3"},
                 {7, 0, "7"},
                 {7, 1, "7"},
                 {100, 37, "100"}, // unsupported radixes give radix 10
                 {100, 1000, "100"}};
    for (const auto& c : cases)
        ExpectExact(TextString(c.value, c.radix), c.text, c.text);
}

TEST(TextStringFormat, Expansions) {
    TextString s("abc");
    s.Format("[%s|%s]", s.GetText(), s.GetText());
    EXPECT_EQ(Bytes(s), "[abc|abc]");
    s.Format("x%cy", 0);
    EXPECT_EQ(Bytes(s), "x");
    s.Format("%s \xFC\xDF\xE4", "x");
    EXPECT_EQ(Bytes(s), "x \xFC\xDF\xE4");

    const std::string big(5000, 'q');
    s.Format("<%s>%d", big.c_str(), 12);
    ExpectExact(s, "<" + big + ">12", "longer than the classic 1024-byte block");
}

// The C99 dialect on every platform, also over msvcrt's older one.
TEST(TextStringFormat, C99LengthModifiersAndConversions) {
    TextString s;
    const std::size_t size = 3;
    const signed char small = 7;
    s.Format("%zu|%lld|%hhd|%5.1f|%#x|%%", size, -9000000000LL, small, 2.5, 255u);
    EXPECT_EQ(Bytes(s), "3|-9000000000|7|  2.5|0xff|%");
    const double infinity = std::numeric_limits<double>::infinity();
    s.Format("%f %F", infinity, -infinity); // not "1.#INF"
    EXPECT_EQ(Bytes(s), "inf -INF");
}

struct DerivedCase {
    const char* what;
    TextString result;
    std::string expected;
};

TEST(TextStringDerived, ConcatenationAndSubstrings) {
    TextString holder("xyz");
    holder.Assign(""); // length 0, but keeps a buffer
    const TextString empty, ab("ab"), cd("cd"), abc("abc"),
        innerZero = WithBytes(std::string("a\0b", 3));
    const char* const nullText = nullptr;
    const DerivedCase cases[] = {
        {"empty + empty", empty + empty, ""},
        {"\"\" + emptied", "" + holder, ""},
        {"emptied + emptied", holder + holder, ""},
        {"string + emptied", ab + holder, "ab"},
        {"string + null", ab + nullText, "ab"},
        {"null + string", nullText + ab, "ab"},
        {"string + itself", ab + ab, "abab"},
        {"string + text", ab + "xyz", "abxyz"},
        {"text + string", "xyz" + ab, "xyzab"},
        {"char + string", 'c' + ab, "cab"},
        {"string + zero char", ab + '\0', std::string("ab\0", 3)},
        {"zero char + empty", '\0' + empty, std::string("\0", 1)},
        {"inner zero + string", innerZero + cd, std::string("a\0bcd", 5)},
        {"string + inner zero", cd + innerZero, std::string("cda\0b", 5)},
        {"string + -5", ab + -5, "ab-5"},
        {"empty + 0", empty + 0, "0"},
        {"INT_MIN + empty", INT_MIN + empty, "-2147483648"},
        {"INT_MAX + string", INT_MAX + ab, "2147483647ab"},
        {"Left(0)", abc.Left(0), ""},
        {"Left(2)", abc.Left(2), "ab"},
        {"Left(UINT32_MAX)", abc.Left(UINT32_MAX), "abc"},
        {"Right(2)", abc.Right(2), "bc"},
        {"Right(4)", abc.Right(4), "abc"},
        {"Right(UINT32_MAX)", abc.Right(UINT32_MAX), "abc"},
        {"Mid(1)", abc.Mid(1), "bc"},
        {"Mid(3)", abc.Mid(3), ""},
        {"Mid(UINT32_MAX)", abc.Mid(UINT32_MAX), ""},
        {"Mid(7, 1)", abc.Mid(7, 1), ""},
        {"Mid(1, UINT32_MAX)", abc.Mid(1, UINT32_MAX), "bc"},
        {"Mid(1, 1)", abc.Mid(1, 1), "b"},
        {"Mid(2, 5)", abc.Mid(2, 5), "c"},
        {"Mid(1, 3)", abc.Mid(1, 3), "bc"}, // a count above length - start, not above length
        {"empty Right(3)", empty.Right(3), ""},
        {"inner zero Mid(1, 2)", innerZero.Mid(1, 2), std::string("\0b", 2)},
        {"inner zero Left(9)", innerZero.Left(9), std::string("a\0b", 3)},
    };
    for (const DerivedCase& c : cases)
        ExpectExact(c.result, c.expected, c.what);
    EXPECT_EQ(Bytes(ab) + Bytes(abc), "ababc") << "operands are unchanged";
    EXPECT_EQ(Bytes(innerZero), std::string("a\0b", 3)) << "operands are unchanged";
}

// Find(sought) and ReverseFind(sought[0]); both end at the first zero byte.
TEST(TextStringSearch, FindAndReverseFind) {
    const std::string innerZero("ab\0cb", 5);
    const struct {
        std::string text;
        const char* sought;
        std::int32_t found, foundReverse;
    } cases[] = {{"abcb", "b", 1, 3},
                 {"abcb", "cb", 2, 2},
                 {"abcb", "bcb", 1, 3},
                 {"abcb", "abcbx", -1, 0},
                 {"abcb", "bb", -1, 3},
                 {"abcb", "x", -1, -1},
                 {"abcb", "", 0, 4},
                 {"", "", 0, 0},
                 {"", "a", -1, -1},
                 {"a\xC4\xE4", "\xE4", 2, 2},
                 {"x\xE4y\xE4", "\xE4", 1, 3},
                 {innerZero, "b", 1, 1},
                 {innerZero, "c", -1, -1},
                 {innerZero, "", 0, 2}};
    for (const auto& c : cases) {
        const TextString s = WithBytes(c.text);
        EXPECT_EQ(s.Find(c.sought), c.found) << c.text << " / " << c.sought;
        EXPECT_EQ(s.ReverseFind(c.sought[0]), c.foundReverse) << c.text << " / " << c.sought;
    }
}

// The neighbours of the letter ranges (@ [ ` {) and the letters of code page
// 1252 from 0x80 up (0xDF sharp s, 0xE4 and 0xC4 a umlaut) stay; so does all
// behind the first zero byte.
TEST(TextStringCase, OnlyAsciiLettersChange) {
    TextString s = WithBytes(std::string("azAZ\xDF\xE4\xC4@[`{09\0cd", 16));
    s.MakeUpper();
    EXPECT_EQ(Bytes(s), std::string("AZAZ\xDF\xE4\xC4@[`{09\0cd", 16));
    s.MakeLower();
    EXPECT_EQ(Bytes(s), std::string("azaz\xDF\xE4\xC4@[`{09\0cd", 16));
    TextString none;
    ExpectExact(none.MakeUpper().MakeLower(), "");
}

TEST(TextStringCase, EqualsNoCase) {
    const struct {
        std::string left, right;
        bool equal;
    } cases[] = {{"Update.EXE", "update.exe", true},
                 {"\xC4", "\xE4", false},
                 {"\xDF", "\xDF", true},
                 {"", "", true},
                 {"", "a", false},
                 {"abc", "abcd", false},
                 {"@", "`", false},
                 {"[", "{", false},
                 {std::string("ab\0x", 4), std::string("AB\0y", 4), true},
                 {std::string("ab\0x", 4), "AB", true}};
    for (const auto& c : cases) {
        const TextString left = WithBytes(c.left), right = WithBytes(c.right);
        EXPECT_EQ(left.EqualsNoCase(right), c.equal) << c.left << " / " << c.right;
        EXPECT_EQ(right.EqualsNoCase(left), c.equal) << c.right << " / " << c.left;
    }
}

} // namespace
