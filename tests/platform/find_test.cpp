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

struct Found {
    Names names; // in the order delivered
    DWORD firstError = 0;
    DWORD endError = ERROR_SUCCESS;
};

Found FindAll(const std::string& pattern) {
    Found found;
    WIN32_FIND_DATAA data;
    SetLastError(kMarker);
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        found.firstError = GetLastError();
        return found;
    }
    do
        found.names.push_back(data.cFileName);
    while (FindNextFileA(find, &data));
    found.endError = GetLastError();
    EXPECT_TRUE(FindClose(find));
    return found;
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
    struct Case {
        const char* pattern;
        Names names; // sorted, without "." and ".."
        DWORD error; // of FindFirstFileA when nothing matches
    } cases[] = {
        {"*.*", all, 0},
        {"*", all, 0},
        {"*.txt", {"README2.TXT", "readme.txt"}, 0},
        {"READ*", {"README2.TXT", "readme.txt"}, 0},
        {"?oext", {"noext"}, 0},
        {"noext.*", {"noext"}, 0},
        {"a.?.c", {"a.b.c"}, 0},
        {"*.c", {"a.b.c"}, 0},
        {"data", {"Data"}, 0},
        {"readme?.txt", {"README2.TXT"}, 0},
        {"nomatch*", {}, ERROR_FILE_NOT_FOUND},
        {"nowhere\\*.*", {}, ERROR_PATH_NOT_FOUND},
        {"Data\\*.txt", {}, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        Found found = FindAll(tree.Path(c.pattern));
        EXPECT_EQ(found.firstError, c.error) << c.pattern;
        EXPECT_EQ(SortedWithoutDots(found.names), c.names) << c.pattern;
        if (c.error == 0) {
            EXPECT_EQ(found.endError, DWORD(ERROR_NO_MORE_FILES)) << c.pattern;
        }
    }
    // A directory's listing starts with its dot entries, once each.
    Found found = FindAll(tree.Path("*.*"));
    ASSERT_EQ(found.names.size(), all.size() + 2);
    EXPECT_EQ(Names(found.names.begin(), found.names.begin() + 2), Names({".", ".."}));
}

} // namespace
