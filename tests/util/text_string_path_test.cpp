#include <string>

#include <gtest/gtest.h>

#include "text_string.h"

namespace {

std::string Bytes(const TextString& s) {
    return std::string(s.GetText(), s.GetLength());
}

struct SplitCase {
    const char* path;
    const char* drive;
    const char* directory;
    const char* fileName;
    const char* extension;
};

TEST(TextStringPath, SplittingRule) {
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
        {"C", "", "", "C", ""},
        {"a/b\\c.d/e", "", "a/b\\c.d/", "e", ""},
    };
    for (const SplitCase& c : cases) {
        TextString path(c.path), drive, directory, fileName, extension;
        path.SplitPath(&drive, &directory, &fileName, &extension);
        EXPECT_EQ(Bytes(drive), c.drive) << c.path;
        EXPECT_EQ(Bytes(directory), c.directory) << c.path;
        EXPECT_EQ(Bytes(fileName), c.fileName) << c.path;
        EXPECT_EQ(Bytes(extension), c.extension) << c.path;
        EXPECT_EQ(Bytes(path), c.path) << "the source is unchanged";
    }
}

TEST(TextStringPath, SplitIntoItselfKeepsDriveAndDirectory) {
    TextString s("C:\\Apps\\Up\\Update.exe");
    s.SplitPath(&s, &s, nullptr, nullptr);
    EXPECT_EQ(Bytes(s), "C:\\Apps\\Up\\");

    TextString bare("Update.exe");
    bare.SplitPath(&bare, &bare, nullptr, nullptr);
    EXPECT_EQ(bare.GetLength(), 0u);
    EXPECT_FALSE(bare.HoldsBuffer());
}

TEST(TextStringPath, SplitIntoItselfOnlySelectsTheOtherComponents) {
    TextString s("C:\\Apps\\Up\\Update.exe");
    TextString name("untouched"), extension("also");
    s.SplitPath(&s, nullptr, &name, &extension);
    EXPECT_EQ(Bytes(s), "C:Update.exe");
    EXPECT_EQ(Bytes(name), "untouched");
    EXPECT_EQ(Bytes(extension), "also");
}

TEST(TextStringPath, SplitAppendsBehindWhatTheTargetsHold) {
    TextString s("C:\\dir\\f.txt");
    TextString drive("<"), directory("<"), name("<"), extension("<");
    s.SplitPath(&drive, &directory, &name, &extension);
    EXPECT_EQ(Bytes(drive), "<C:");
    EXPECT_EQ(Bytes(directory), "<\\dir\\");
    EXPECT_EQ(Bytes(name), "<f");
    EXPECT_EQ(Bytes(extension), "<.txt");

    // This string as a later out-argument gets the component behind itself.
    TextString self("x\\y.z");
    self.SplitPath(nullptr, nullptr, &self, nullptr);
    EXPECT_EQ(Bytes(self), "x\\y.zy");
}

TEST(TextStringPath, SplitSeesTheTextUpToItsFirstZeroByte) {
    TextString s;
    s.Assign(8, "a\\b\0c\\d.e");
    TextString directory, name, extension;
    s.SplitPath(nullptr, &directory, &name, &extension);
    EXPECT_EQ(Bytes(directory), "a\\");
    EXPECT_EQ(Bytes(name), "b");
    EXPECT_EQ(Bytes(extension), "");
}

TEST(TextStringPath, ComponentsAreCutTo255Characters) {
    const std::string longDirectory = "\\" + std::string(300, 'd') + "\\";
    const std::string longName(300, 'n');
    const std::string longExtension = "." + std::string(300, 'e');
    TextString s(("C:" + longDirectory + longName + longExtension).c_str());
    TextString drive, directory, name, extension;
    s.SplitPath(&drive, &directory, &name, &extension);
    EXPECT_EQ(Bytes(drive), "C:");
    EXPECT_EQ(Bytes(directory), longDirectory.substr(0, 255));
    EXPECT_NE(directory.GetText()[254], '\\') << "a cut directory loses its separator";
    EXPECT_EQ(Bytes(name), longName.substr(0, 255));
    EXPECT_EQ(Bytes(extension), longExtension.substr(0, 255));

    const std::string exact = std::string(254, 'd') + "\\";
    TextString fits(exact.c_str());
    TextString kept;
    fits.SplitPath(nullptr, &kept, nullptr, nullptr);
    EXPECT_EQ(Bytes(kept), exact);
}

TEST(TextStringPath, EnsureTrailingSeparator) {
    const char* const cases[][2] = {
        {"C:\\dir", "C:\\dir\\"},
        {"C:\\dir/", "C:\\dir/"},
        {"C:\\dir\\", "C:\\dir\\"},
        {"C:", "C:\\"},
        {"", "\\"},
    };
    for (const auto& c : cases) {
        TextString s(c[0]);
        s.EnsureTrailingSeparator();
        EXPECT_EQ(Bytes(s), c[1]) << c[0];
    }
}

TEST(TextStringPath, DropTrailingSeparatorRemovesOneAndKeepsTheBuffer) {
    const char* const cases[][2] = {
        {"C:\\dir\\\\", "C:\\dir\\"}, {"C:\\dir", "C:\\dir"}, {"", ""}, {"a/", "a"}, {"/", ""},
    };
    for (const auto& c : cases) {
        TextString s(c[0]);
        const std::uint32_t capacity = s.GetCapacity();
        s.DropTrailingSeparator();
        EXPECT_EQ(Bytes(s), c[1]) << c[0];
        EXPECT_EQ(s.GetCapacity(), capacity) << c[0];
    }
}

struct MakeCase {
    const char* drive;
    const char* directory;
    const char* fileName;
    const char* extension;
    const char* path;
};

TEST(TextStringPath, MakePath) {
    const MakeCase cases[] = {
        {"C:", "Apps", "faq", "txt", "C:/Apps\\faq.txt"},
        {nullptr, "", "readme", ".txt", "/readme.txt"},
        {"D", "\\x\\", nullptr, nullptr, "D:\\x\\"},
        {"C", "/a/b", "f", "", "C:/a/b\\f"},
        {"", "\\", "", nullptr, "\\"},
    };
    for (const MakeCase& c : cases) {
        TextString s("old text");
        s.MakePath(c.drive, c.directory, c.fileName, c.extension);
        EXPECT_EQ(Bytes(s), c.path) << c.path;
    }
}

TEST(TextStringPath, MakePathHasNoLengthLimit) {
    const std::string directory(400, 'd');
    TextString s;
    s.MakePath("C", directory.c_str(), "name", "ext");
    EXPECT_EQ(Bytes(s), "C:/" + directory + "\\name.ext");
}

TEST(TextStringPath, MakePathFromItsOwnText) {
    TextString s("dir");
    s.MakePath(nullptr, s.GetText(), s.GetText(), nullptr);
    EXPECT_EQ(Bytes(s), "/dir\\dir");
}

} // namespace
