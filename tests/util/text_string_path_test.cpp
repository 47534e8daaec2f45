// The double-byte clauses of the path rules apply only under a double-byte
// ANSI code page, so TextStringPathDbcs runs once more under code page 932:
// under Wine with a Japanese locale, on the Linux stand-in with
// UPDATE_ANSI_CODE_PAGE=932. In the plain runs those cases are skipped.
#include <cstddef>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "lead_bytes.h"
#include "test_bytes.h"
#include "text_string.h"

namespace {

struct SplitCase {
    std::string path, drive, directory, fileName, extension;
};

template <std::size_t N> void ExpectSplits(const SplitCase (&cases)[N]) {
    for (const SplitCase& c : cases) {
        TextString path = WithBytes(c.path), drive, directory, fileName, extension;
        path.SplitPath(&drive, &directory, &fileName, &extension);
        EXPECT_EQ(Bytes(drive), c.drive) << c.path;
        EXPECT_EQ(Bytes(directory), c.directory) << c.path;
        EXPECT_EQ(Bytes(fileName), c.fileName) << c.path;
        EXPECT_EQ(Bytes(extension), c.extension) << c.path;
        EXPECT_EQ(Bytes(path), c.path) << "the source is unchanged";
    }
}

TEST(TextStringPath, SplittingRule) {
    // Each component is cut to 255 characters; a cut directory loses its
    // separator.
    const std::string directory = "\\" + std::string(300, 'd') + "\\", name(300, 'n'),
                      extension = "." + std::string(300, 'e'), fits = std::string(254, 'd') + "\\";
    const SplitCase cases[] = {
        {"C:\\Apps\\Update\\Update.exe", "C:", "\\Apps\\Update\\", "Update", ".exe"},
        {"archive.tar.gz", "", "", "archive.tar", ".gz"},
        {"C:dir.d\\file", "C:", "dir.d\\", "file", ""},
        {"\\\\server\\share\\x.txt", "", "\\\\server\\share\\", "x", ".txt"},
        {".profile", "", "", "", ".profile"},
        {"dir/", "", "dir/", "", ""},
        {"name.", "", "", "name", "."},
        {"C:", "C:", "", "", ""},
        {"1:x", "1:", "", "x", ""},
        {"", "", "", "", ""},
        {"a/b\\c.d/e", "", "a/b\\c.d/", "e", ""},
        {"C:" + directory + name + extension, "C:", directory.substr(0, 255), name.substr(0, 255),
         extension.substr(0, 255)},
        {fits, "", fits, "", ""},
        {std::string("a\\b\0c\\d.e", 9), "", "a\\", "b", ""}, // up to the first zero byte
    };
    ExpectSplits(cases);
}

TEST(TextStringPath, SplitIntoItselfAndIntoStringsThatHoldText) {
    TextString s("C:\\Apps\\Up\\Update.exe");
    s.SplitPath(&s, &s, nullptr, nullptr);
    EXPECT_EQ(Bytes(s), "C:\\Apps\\Up\\");

    TextString bare("Update.exe");
    bare.SplitPath(&bare, &bare, nullptr, nullptr);
    EXPECT_FALSE(bare.HoldsBuffer());

    // Into itself as the drive: the other targets only select what goes into it.
    TextString t("C:\\Apps\\Up\\Update.exe"), name("untouched"), ext("also");
    t.SplitPath(&t, nullptr, &name, &ext);
    EXPECT_EQ(Bytes(t), "C:Update.exe");
    EXPECT_EQ(Bytes(name) + Bytes(ext), "untouchedalso");

    // Components are appended behind what the targets hold.
    TextString path("C:\\dir\\f.txt"), drive("<"), directory("<"), fileName("<"), extension("<");
    path.SplitPath(&drive, &directory, &fileName, &extension);
    EXPECT_EQ(Bytes(drive) + Bytes(directory) + Bytes(fileName) + Bytes(extension),
              "<C:<\\dir\\<f<.txt");
    TextString self("x\\y.z");
    self.SplitPath(nullptr, nullptr, &self, nullptr);
    EXPECT_EQ(Bytes(self), "x\\y.zy");
}

TEST(TextStringPath, TrailingSeparators) {
    const struct {
        const char* text;
        const char* ensured;
        const char* dropped;
    } cases[] = {
        {"C:\\dir", "C:\\dir\\", "C:\\dir"},
        {"C:\\dir/", "C:\\dir/", "C:\\dir"},
        {"C:\\d\\\\", "C:\\d\\\\", "C:\\d\\"},
        {"C:", "C:\\", "C:"},
        {"", "\\", ""},
        {"/", "/", ""},
        {"\\dir", "\\dir\\", "\\dir"}, // a separator first is not one last
    };
    for (const auto& c : cases) {
        TextString ensured(c.text), dropped(c.text);
        const std::uint32_t capacity = dropped.GetCapacity();
        EXPECT_EQ(Bytes(ensured.EnsureTrailingSeparator()), c.ensured) << c.text;
        EXPECT_EQ(Bytes(dropped.DropTrailingSeparator()), c.dropped) << c.text;
        EXPECT_EQ(dropped.GetCapacity(), capacity) << c.text << ": the buffer is kept";
    }
}

TEST(TextStringPath, MakePath) {
    const struct {
        const char *drive, *directory, *fileName, *extension, *path;
    } cases[] = {
        {"C:", "Apps", "faq", "txt", "C:/Apps\\faq.txt"},
        {nullptr, "", "readme", ".txt", "/readme.txt"},
        {"D", "\\x\\", nullptr, nullptr, "D:\\x\\"},
        {"C", "/a/b", "f", "", "C:/a/b\\f"},
        {"", "\\", "", nullptr, "\\"},
        {"C", nullptr, "f", "e", "C:/f.e"}, // a null directory is the empty one
    };
    for (const auto& c : cases) {
        TextString s("old text");
        EXPECT_EQ(Bytes(s.MakePath(c.drive, c.directory, c.fileName, c.extension)), c.path);
    }
    const std::string directory(400, 'd'); // no length limit
    TextString s;
    EXPECT_EQ(Bytes(s.MakePath("C", directory.c_str(), "n", "e")), "C:/" + directory + "\\n.e");
    TextString own("dir");
    EXPECT_EQ(Bytes(own.MakePath(nullptr, own.GetText(), own.GetText(), nullptr)), "/dir\\dir");
}

// 0x95 0x5C is one character in code pages 932, 936 and 950; its trail byte
// is the backslash.
const std::string kPair = "\x95\x5C";

class TextStringPathDbcs : public ::testing::Test {
  protected:
    void SetUp() override {
        const UINT codePage = GetACP();
        // A run started under a double-byte locale must not pass by skipping.
        const char* expected = std::getenv("UPDATE_EXPECT_ACP");
        if (expected != nullptr) {
            ASSERT_EQ(codePage, static_cast<UINT>(std::atoi(expected)));
        }
        if (codePage != 932 && codePage != 936 && codePage != 950)
            GTEST_SKIP() << "ANSI code page " << codePage << " is not double-byte";
        ASSERT_TRUE(IsDBCSLeadByte(0x95));
    }
};

// What the path rules ask of the platform: which bytes lead a pair, at the
// edges of the ranges. UPDATE_EXPECT_ACP names the code page the run must
// have.
TEST(AnsiCodePage, LeadBytesAtTheEdgesOfTheRanges) {
    const UINT codePage = GetACP();
    const char* expected = std::getenv("UPDATE_EXPECT_ACP");
    if (expected != nullptr) {
        ASSERT_EQ(codePage, static_cast<UINT>(std::atoi(expected)));
    }
    if (codePage != 1252 && codePage != 932)
        GTEST_SKIP() << "no table for ANSI code page " << codePage;
    const struct {
        BYTE byte;
        bool leads932;
    } cases[] = {
        {0x00, false}, {0x5C, false}, {0x7F, false}, {0x80, false}, {0x81, true},
        {0x95, true},  {0x9F, true},  {0xA0, false}, {0xA1, false}, {0xDF, false},
        {0xE0, true},  {0xEA, true},  {0xFC, true},  {0xFD, false}, {0xFF, false},
    };
    for (const auto& c : cases) {
        const bool leads = codePage == 932 && c.leads932;
        EXPECT_EQ(IsDBCSLeadByte(c.byte) != FALSE, leads)
            << "byte 0x" << std::hex << int(c.byte) << " in code page " << std::dec << codePage;
        EXPECT_EQ(IsLeadByte(c.byte), leads) << "the table, byte 0x" << std::hex << int(c.byte);
    }
}

TEST_F(TextStringPathDbcs, TrailByteIsNeitherSeparatorNorDot) {
    const std::string p = kPair;
    const SplitCase cases[] = {
        {"C:\\A" + p + "\\file.txt", "C:", "\\A" + p + "\\", "file", ".txt"},
        {"C:\\A" + p + "B\\f", "C:", "\\A" + p + "B\\", "f", ""},
        {"dir\\" + p + "name.e", "", "dir\\", p + "name", ".e"},
        {p + "x" + p, "", "", p + "x" + p, ""},
        {"a" + p + ".b" + p, "", "", "a" + p, ".b" + p},
        {"d\\a\x95", "", "d\\", "a\x95", ""}, // a lead byte at the end stands alone
    };
    ExpectSplits(cases);

    TextString s(("C:\\" + p + "\\Update.exe").c_str());
    s.SplitPath(&s, &s, nullptr, nullptr);
    EXPECT_EQ(Bytes(s), "C:\\" + p + "\\");
}

// A pair that would end at byte 256 loses its lead byte too.
TEST_F(TextStringPathDbcs, ComponentIsNotCutBetweenLeadAndTrailByte) {
    const std::string a252(252, 'a'), a253(253, 'a'), a254(254, 'a'), b252(252, 'b');
    const SplitCase cases[] = {
        {a253 + kPair, "", "", a253 + kPair, ""},
        {a254 + kPair, "", "", a254, ""},
        {a254 + kPair + "\\f", "", a254, "f", ""},
        {a252 + kPair + "\\f", "", a252 + kPair + "\\", "f", ""},
        {"n." + b252 + "b" + kPair + "c", "", "", "n", "." + b252 + "b"},
        {"n." + b252 + "c" + kPair, "", "", "n", "." + b252 + "c"},
    };
    ExpectSplits(cases);
}

TEST_F(TextStringPathDbcs, SeparatorStepsLookAtTheLastByteButComposingSeesThePair) {
    const std::string dir = "C:\\" + kPair;
    TextString ensured(dir.c_str()), dropped(dir.c_str()), made;
    EXPECT_EQ(Bytes(ensured.EnsureTrailingSeparator()), dir);
    EXPECT_EQ(Bytes(dropped.DropTrailingSeparator()), "C:\\\x95");
    // The composing rule adds a backslash behind the pair; the drive's first
    // character is the whole pair.
    EXPECT_EQ(Bytes(made.MakePath(nullptr, ("\\" + kPair).c_str(), "f", nullptr)),
              "\\" + kPair + "\\f");
    EXPECT_EQ(Bytes(made.MakePath(kPair.c_str(), "\\", "f", "e")), kPair + ":\\f.e");
}

} // namespace
