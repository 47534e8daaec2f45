// A package directory whose listing breaks off part way, which the stand-in
// cannot provoke (its listing is read whole when the search starts): the
// linker routes FindNextFileA through this file (--wrap), which ends the
// listing with an error at a name that a test chooses.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "copy_tree.h"
#include "temp_tree.h"

namespace {

// The listing ends, with this error, where it would deliver this name.
const char* breakAt = nullptr;
const DWORD kBreakError = ERROR_NOT_ENOUGH_MEMORY;

} // namespace

// FindNextFileA(void*, WIN32_FIND_DATAA*) by its C++ symbol name.
extern "C" BOOL __real__Z13FindNextFileAPvP17_WIN32_FIND_DATAA(HANDLE, LPWIN32_FIND_DATAA);
extern "C" BOOL __wrap__Z13FindNextFileAPvP17_WIN32_FIND_DATAA(HANDLE search,
                                                               LPWIN32_FIND_DATAA found) {
    const BOOL more = __real__Z13FindNextFileAPvP17_WIN32_FIND_DATAA(search, found);
    if (more && breakAt != nullptr && std::strcmp(found->cFileName, breakAt) == 0) {
        SetLastError(kBreakError);
        return FALSE;
    }
    return more;
}

namespace {

// The directory whose reading failed, and why.
void NoteDirectory(void* context, const TextString& path, CopyStep step, DWORD error) {
    if (step == CopyStep::kReadPackageDirectory)
        *static_cast<std::string*>(context) +=
            std::string(path.GetText()) + " " + std::to_string(error) + ";";
}

// What was listed up to the break is no package: the run fails, and
// nothing is installed.
TEST(ListingThatBreaksOff, IsAFailureAndInstallsNothing) {
    TempTree tree;
    for (const char* name : {"a.txt", "Sub\\b.txt", "Sub\\c.txt", "Sub\\d.txt"})
        tree.WriteFile(std::string("package\\") + name, name);
    tree.WriteFile("install\\a.txt", "old a");
    std::string unread;
    const CopyReporter reporter{&unread, nullptr, NoteDirectory, nullptr, nullptr, nullptr};
    breakAt = "c.txt";
    const CopyResult result = CopyTree(TextString(tree.Path("package").c_str()),
                                       TextString(tree.Path("install").c_str()), "*.*", &reporter);
    breakAt = nullptr;
    EXPECT_EQ(result.failedDirectories, 1u);
    EXPECT_EQ(result.state, InstallState::kUnchanged);
    EXPECT_EQ(result.copied, 0);
    EXPECT_EQ(unread, tree.Path("package\\Sub") + " " + std::to_string(kBreakError) + ";");
    EXPECT_EQ(tree.ReadFile("install\\a.txt"), "old a");
    EXPECT_FALSE(tree.Exists("install\\Sub\\b.txt"));
}

} // namespace
