// Directory enumeration: Win32 pattern semantics and error codes.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

namespace {

using Names = std::vector<std::string>;

// The names in the order delivered, and the error that FindFirstFileA or the
// last FindNextFileA left.
Names FindAll(const std::string& pattern, DWORD* error) {
    Names names;
    WIN32_FIND_DATAA data;
    SetLastError(kMarker);
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return names;
    }
    do
        names.push_back(data.cFileName);
    while (FindNextFileA(find, &data));
    *error = GetLastError();
    EXPECT_TRUE(FindClose(find));
    return names;
}

Names SortedWithoutDots(Names names) {
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& n) { return n == "." || n == ".."; }),
                names.end());
    std::sort(names.begin(), names.end());
    return names;
}

class FindTest : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"readme.txt", "README2.TXT", "noext", "a.b.c", "x", ".hidden"})
            tree.WriteFile(name, "x");
        tree.MakeDirectory("Data");
    }
    TempTree tree;
};

TEST_F(FindTest, PatternsMatchAsOnWindows) {
    const Names all = {".hidden", "Data", "README2.TXT", "a.b.c", "noext", "readme.txt", "x"};
    const DWORD kEnd = ERROR_NO_MORE_FILES;
    struct Case {
        const char* pattern;
        Names names; // sorted, without "." and ".."
        DWORD error;
    } cases[] = {
        {"*.*", all, kEnd},
        {"*", all, kEnd},
        {"*.txt", {"README2.TXT", "readme.txt"}, kEnd},
        {"READ*", {"README2.TXT", "readme.txt"}, kEnd},
        {"?oext", {"noext"}, kEnd},
        {"noext.*", {"noext"}, kEnd},
        {"a.?.c", {"a.b.c"}, kEnd},
        {"*.c", {"a.b.c"}, kEnd},
        {"data", {"Data"}, kEnd},
        {"readme?.txt", {"README2.TXT"}, kEnd},
        {"nomatch*", {}, ERROR_FILE_NOT_FOUND},
        {"nowhere\\*.*", {}, ERROR_PATH_NOT_FOUND},
        {"Data\\*.txt", {}, ERROR_FILE_NOT_FOUND},
        // A device is in every folder that exists, under the name given.
        {"nul", {"nul"}, kEnd},
        {"Data\\lpt1", {"lpt1"}, kEnd},
        {"con.txt", {"con"}, kEnd},
        {"nowhere\\nul", {}, ERROR_PATH_NOT_FOUND},
        {"nul\\*", {}, ERROR_PATH_NOT_FOUND},
        {"nul*", {}, ERROR_FILE_NOT_FOUND},
    };
    DWORD error = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(SortedWithoutDots(FindAll(tree.Path(c.pattern), &error)), c.names) << c.pattern;
        EXPECT_EQ(error, c.error) << c.pattern;
    }
    // A directory's listing starts with its dot entries, once each.
    Names found = FindAll(tree.Path("*.*"), &error);
    ASSERT_EQ(found.size(), all.size() + 2);
    EXPECT_EQ(Names(found.begin(), found.begin() + 2), Names({".", ".."}));
    // A device shows as an empty file.
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(tree.Path("nul").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, DWORD(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(data.nFileSizeLow, 0u);
    FindClose(find);
    // The root of a drive has none.
    found = FindAll("\\*", &error);
    EXPECT_FALSE(found.empty());
    EXPECT_EQ(SortedWithoutDots(found).size(), found.size());
}

} // namespace
