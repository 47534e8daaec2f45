#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "text_string.h"

namespace {

std::string Bytes(const TextString& s) {
    return std::string(s.GetText(), s.GetLength());
}

// A derived string has a buffer of exactly its size, or none when empty.
void ExpectExactStorage(const TextString& s, const std::string& label) {
    EXPECT_EQ(s.GetCapacity(), s.GetLength()) << label;
    EXPECT_EQ(s.HoldsBuffer(), s.GetLength() > 0) << label;
    EXPECT_EQ(s.GetText()[s.GetLength()], 0) << label;
}

TextString WithBytes(const std::string& bytes) {
    TextString s;
    s.Assign(static_cast<std::uint32_t>(bytes.size()), bytes.data());
    return s;
}

struct DerivedCase {
    const char* what;
    TextString result;
    std::string expected;
};

TEST(TextStringConcatenation, AllForms) {
    const TextString empty, ab("ab"), cd("cd");
    const TextString innerZero = WithBytes(std::string("a\0b", 3));
    const char* const nullText = nullptr;
    const DerivedCase cases[] = {
        {"empty + empty", empty + empty, ""},
        {"empty + \"\"", empty + "", ""},
        {"\"\" + empty", "" + empty, ""},
        {"empty + null", empty + nullText, ""},
        {"string + null", ab + nullText, "ab"},
        {"null + string", nullText + ab, "ab"},
        {"string + string", ab + cd, "abcd"},
        {"string + itself", ab + ab, "abab"},
        {"string + text", ab + "xyz", "abxyz"},
        {"text + string", "xyz" + ab, "xyzab"},
        {"string + char", ab + 'c', "abc"},
        {"char + string", 'c' + ab, "cab"},
        {"string + zero char", ab + '\0', std::string("ab\0", 3)},
        {"zero char + empty", '\0' + empty, std::string("\0", 1)},
        {"inner zero + string", innerZero + cd, std::string("a\0bcd", 5)},
        {"string + inner zero", cd + innerZero, std::string("cda\0b", 5)},
        {"string + -5", ab + -5, "ab-5"},
        {"42 + string", 42 + ab, "42ab"},
        {"empty + 0", empty + 0, "0"},
        {"string + INT_MIN", ab + INT_MIN, "ab-2147483648"},
        {"INT_MIN + empty", INT_MIN + empty, "-2147483648"},
        {"INT_MAX + string", INT_MAX + ab, "2147483647ab"},
    };
    for (const DerivedCase& c : cases) {
        EXPECT_EQ(Bytes(c.result), c.expected) << c.what;
        ExpectExactStorage(c.result, c.what);
    }
    EXPECT_EQ(Bytes(ab), "ab") << "operands are unchanged";
    EXPECT_EQ(Bytes(cd), "cd") << "operands are unchanged";
    EXPECT_EQ(Bytes(innerZero), std::string("a\0b", 3)) << "operands are unchanged";
}

TEST(TextStringConcatenation, EmptyOperandsGiveACopyInItsOwnBuffer) {
    TextString holder("xyz");
    holder.Assign(""); // length 0, but keeps a buffer
    const TextString ab("ab");
    const TextString sum = ab + holder;
    EXPECT_NE(sum.GetText(), ab.GetText());
    EXPECT_EQ(Bytes(sum), "ab");
    const TextString none = holder + holder;
    EXPECT_FALSE(none.HoldsBuffer());
}

TEST(TextStringSubstring, ClampsOverTheLengthBytes) {
    const TextString abc("abc");
    const TextString empty;
    const TextString innerZero = WithBytes(std::string("a\0bc", 4));
    const DerivedCase cases[] = {
        {"Left(5)", abc.Left(5), "abc"},
        {"Left(0)", abc.Left(0), ""},
        {"Left(2)", abc.Left(2), "ab"},
        {"Left(UINT32_MAX)", abc.Left(UINT32_MAX), "abc"},
        {"Right(0)", abc.Right(0), ""},
        {"Right(2)", abc.Right(2), "bc"},
        {"Right(3)", abc.Right(3), "abc"},
        {"Right(4)", abc.Right(4), "abc"},
        {"Right(UINT32_MAX)", abc.Right(UINT32_MAX), "abc"},
        {"Mid(0)", abc.Mid(0), "abc"},
        {"Mid(1)", abc.Mid(1), "bc"},
        {"Mid(3)", abc.Mid(3), ""},
        {"Mid(4)", abc.Mid(4), ""},
        {"Mid(UINT32_MAX)", abc.Mid(UINT32_MAX), ""},
        {"Mid(7, 1)", abc.Mid(7, 1), ""},
        {"Mid(3, 1)", abc.Mid(3, 1), ""},
        {"Mid(1, 4294967295)", abc.Mid(1, 4294967295u), "bc"},
        {"Mid(1, 1)", abc.Mid(1, 1), "b"},
        {"Mid(2, 5)", abc.Mid(2, 5), "c"},
        {"Mid(0, 0)", abc.Mid(0, 0), ""},
        {"empty Left(3)", empty.Left(3), ""},
        {"empty Right(3)", empty.Right(3), ""},
        {"empty Mid(0, 1)", empty.Mid(0, 1), ""},
        {"inner zero Mid(1, 2)", innerZero.Mid(1, 2), std::string("\0b", 2)},
        {"inner zero Right(2)", innerZero.Right(2), "bc"},
        {"inner zero Left(9)", innerZero.Left(9), std::string("a\0bc", 4)},
    };
    for (const DerivedCase& c : cases) {
        EXPECT_EQ(Bytes(c.result), c.expected) << c.what;
        ExpectExactStorage(c.result, c.what);
    }
    EXPECT_EQ(Bytes(abc), "abc") << "the source is unchanged";
}

} // namespace
