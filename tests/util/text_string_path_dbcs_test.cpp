// The double-byte clauses of the path rules. They apply only under a
// double-byte ANSI code page (the Windows build runs this program once more
// under Wine with a Japanese locale); elsewhere the cases are skipped.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "text_string.h"

namespace {

std::string Bytes(const TextString& s) {
    return std::string(s.GetText(), s.GetLength());
}

// 0x95 0x5C is one character in code pages 932, 936 and 950; its trail byte
// is the backslash.
const char kPair[] = "\x95\x5C";

bool PairIsOneCharacter(UINT codePage) {
    return codePage == 932 || codePage == 936 || codePage == 950;
}

class TextStringPathDbcs : public ::testing::Test {
  protected:
    void SetUp() override {
        const UINT codePage = GetACP();
        // A run that was started under a double-byte locale must not pass by
        // skipping.
        const char* expected = std::getenv("UPDATE_EXPECT_ACP");
        if (expected != nullptr) {
            ASSERT_EQ(codePage, static_cast<UINT>(std::atoi(expected)));
        }
        if (!PairIsOneCharacter(codePage))
            GTEST_SKIP() << "ANSI code page " << codePage << " is not double-byte";
        ASSERT_TRUE(IsDBCSLeadByte(0x95));
    }
};

struct SplitCase {
    std::string path, drive, directory, fileName, extension;
};

TEST_F(TextStringPathDbcs, TrailByteIsNeitherSeparatorNorDot) {
    const std::string p = kPair;
    const SplitCase cases[] = {
        {"C:\\A" + p + "\\file.txt", "C:", "\\A" + p + "\\", "file", ".txt"},
        {"C:\\A" + p + "B\\f", "C:", "\\A" + p + "B\\", "f", ""},
        {"dir\\" + p + "name.e", "", "dir\\", p + "name", ".e"},
        {p + "x" + p, "", "", p + "x" + p, ""},
        {"a" + p + ".b" + p, "", "", "a" + p, ".b" + p},
    };
    for (const SplitCase& c : cases) {
        TextString path(c.path.c_str()), drive, directory, fileName, extension;
        path.SplitPath(&drive, &directory, &fileName, &extension);
        EXPECT_EQ(Bytes(drive), c.drive) << c.path;
        EXPECT_EQ(Bytes(directory), c.directory) << c.path;
        EXPECT_EQ(Bytes(fileName), c.fileName) << c.path;
        EXPECT_EQ(Bytes(extension), c.extension) << c.path;
    }
}

TEST_F(TextStringPathDbcs, OwnDirectoryOfAProgramInADoubleByteFolder) {
    TextString s(("C:\\" + std::string(kPair) + "\\Update.exe").c_str());
    s.SplitPath(&s, &s, nullptr, nullptr);
    EXPECT_EQ(Bytes(s), "C:\\" + std::string(kPair) + "\\");
}

TEST_F(TextStringPathDbcs, ComponentIsNotCutBetweenLeadAndTrailByte) {
    const std::string a253(253, 'a'), a254(254, 'a');
    struct Case {
        std::string path;
        std::string directory, fileName, extension;
    } cases[] = {
        // The pair fits exactly: 255 bytes.
        {a253 + kPair, "", a253 + kPair, ""},
        // The pair would end at byte 256: its lead byte goes too.
        {a254 + kPair, "", a254, ""},
        {a254 + kPair + "\\f", a254, "f", ""},
        {std::string(252, 'a') + kPair + "\\f", std::string(252, 'a') + kPair + "\\", "f", ""},
        {"n." + std::string(253, 'b') + kPair + "c", "", "n", "." + std::string(253, 'b')},
        {"n." + std::string(252, 'b') + "c" + kPair, "", "n", "." + std::string(252, 'b') + "c"},
    };
    for (const Case& c : cases) {
        TextString path(c.path.c_str()), directory, fileName, extension;
        path.SplitPath(nullptr, &directory, &fileName, &extension);
        EXPECT_EQ(Bytes(directory), c.directory) << c.path.size();
        EXPECT_EQ(Bytes(fileName), c.fileName) << c.path.size();
        EXPECT_EQ(Bytes(extension), c.extension) << c.path.size();
    }
}

TEST_F(TextStringPathDbcs, TrailingSeparatorOperationsLookAtTheLastByteAlone) {
    const std::string dir = "C:\\" + std::string(kPair);

    TextString ensured(dir.c_str());
    ensured.EnsureTrailingSeparator();
    EXPECT_EQ(Bytes(ensured), dir);

    TextString dropped(dir.c_str());
    dropped.DropTrailingSeparator();
    EXPECT_EQ(Bytes(dropped), "C:\\\x95");
}

TEST_F(TextStringPathDbcs, ComposingRuleTakesThePairAsOneCharacter) {
    // The trail byte satisfies the last-byte test of the separator step, but
    // the composing rule sees a double-byte character and adds a backslash.
    TextString s;
    s.MakePath(nullptr, ("\\" + std::string(kPair)).c_str(), "f", nullptr);
    EXPECT_EQ(Bytes(s), "\\" + std::string(kPair) + "\\f");

    // The drive's first character is the whole pair.
    s.MakePath(kPair, "\\", "f", "e");
    EXPECT_EQ(Bytes(s), std::string(kPair) + ":\\f.e");
}

} // namespace
