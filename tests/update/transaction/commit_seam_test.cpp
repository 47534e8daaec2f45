// A rename of the commit that fails, which the stand-in cannot provoke (on
// Windows as here, whatever stops a rename stops the probe before it): the
// linker routes the core's MoveFileExA through this file (--wrap), which
// refuses the renames a case names and hands the others on.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "copy_tree.h"
#include "temp_tree.h"
#include "update_transaction.h"

namespace {

// A rename from a name ending in `from` to one ending in `to` fails.
struct Refusal {
    std::string from, to;
} refusal;

// Set: each rename first tries to rename the folder it acts in, which the
// run must be holding; the ones it could are counted.
bool tryFolders = false;
int foldersNotHeld = 0;

// Set: the first rename to a staged name (the undo's) first moves this
// folder away, as another program might.
std::string folderToSwap;

bool EndsWith(const char* text, const std::string& end) {
    const std::string whole(text == nullptr ? "" : text);
    return whole.size() >= end.size() &&
           whole.compare(whole.size() - end.size(), end.size(), end) == 0;
}

} // namespace

// MoveFileExA(const char*, const char*, unsigned) by its C++ symbol name.
extern "C" BOOL __real__Z11MoveFileExAPKcS0_j(LPCSTR from, LPCSTR to, DWORD flags);
extern "C" BOOL __wrap__Z11MoveFileExAPKcS0_j(LPCSTR from, LPCSTR to, DWORD flags) {
    if (tryFolders) {
        std::string folder(from);
        folder.erase(folder.find_last_of("\\/"));
        const std::string aside = folder + ".aside";
        if (__real__Z11MoveFileExAPKcS0_j(folder.c_str(), aside.c_str(), 0)) {
            ++foldersNotHeld;
            __real__Z11MoveFileExAPKcS0_j(aside.c_str(), folder.c_str(), 0);
        }
    }
    if (!folderToSwap.empty() && EndsWith(to, ".tmp")) {
        __real__Z11MoveFileExAPKcS0_j(folderToSwap.c_str(), (folderToSwap + ".gone").c_str(), 0);
        folderToSwap.clear();
    }
    if (!refusal.to.empty() && EndsWith(from, refusal.from) && EndsWith(to, refusal.to)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    return __real__Z11MoveFileExAPKcS0_j(from, to, flags);
}

namespace {

FILETIME LastWrite(const TempTree& tree, const std::string& relative) {
    WIN32_FIND_DATAA entry = {};
    FindClose(FindFirstFileA(tree.Path(relative).c_str(), &entry));
    return entry.ftLastWriteTime;
}

TEST(CommitThatFails, PutsEveryFileBack) {
    // A refused rename is not waited for long here.
    setenv("UPDATE_RETRY_STEP_MS", "50", 1);
    const struct {
        const char* what;
        Refusal refused;
        InstallState state;
    } cases[] = {
        {"an installed file not moved aside", {"b.txt", ".old"}, InstallState::kUnchanged},
        {"a new file not moved in", {".tmp", "c.txt"}, InstallState::kUnchanged},
        // Neither the new b.txt in, nor the old one back: the journal stays,
        // and the next run puts it back.
        {"not even put back", {"", "b.txt"}, InstallState::kDamaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree;
        for (const char* name : {"a.txt", "b.txt", "c.txt", "New\\d.txt"})
            tree.WriteFile(std::string("package\\") + name, std::string("new ") + name);
        tree.WriteFile("install\\a.txt", "old a");
        tree.WriteFile("install\\b.txt", "old b");
        const FILETIME before = LastWrite(tree, "install\\b.txt");
        refusal = c.refused;
        const CopyResult result = CopyTree(TextString(tree.Path("package").c_str()),
                                           TextString(tree.Path("install").c_str()), "*.*");
        EXPECT_EQ(result.state, c.state);
        EXPECT_EQ(result.copied, 0);
        EXPECT_EQ(result.failedFiles, 1u);
        EXPECT_EQ(tree.Exists("install\\.Update.journal"), c.state == InstallState::kDamaged);
        refusal = {};
        if (c.state == InstallState::kDamaged) {
            EXPECT_EQ(RecoverInstallation(TextString(tree.Path("install").c_str()), nullptr),
                      Recovery::kUndone);
        }
        EXPECT_EQ(tree.ReadFile("install\\a.txt"), "old a");
        EXPECT_EQ(tree.ReadFile("install\\b.txt"), "old b");
        const FILETIME after = LastWrite(tree, "install\\b.txt");
        EXPECT_EQ(after.dwLowDateTime, before.dwLowDateTime);
        EXPECT_EQ(after.dwHighDateTime, before.dwHighDateTime);
        EXPECT_FALSE(tree.Exists("install\\c.txt"));
        EXPECT_FALSE(tree.Exists("install\\New"));
        WIN32_FIND_DATAA entry;
        HANDLE left = FindFirstFileA(tree.Path("install\\.Update*").c_str(), &entry);
        EXPECT_EQ(left, INVALID_HANDLE_VALUE) << entry.cFileName;
        if (left != INVALID_HANDLE_VALUE)
            FindClose(left);
    }
}

// Nobody can rename a folder while the run renames in it: the installation
// and each folder on the way are held, in the commit and in its undo.
TEST(CommitThatFails, FoldersOfEveryRenameAreHeld) {
    TempTree tree;
    for (const char* name : {"a.txt", "Data\\b.txt", "Data\\Deep\\c.txt", "New\\d.txt"})
        tree.WriteFile(std::string("package\\") + name, "new");
    tree.WriteFile("install\\Data\\b.txt", "old b");
    tree.WriteFile("install\\Data\\Deep\\c.txt", "old c");
    refusal = {".tmp", "d.txt"}; // the last file: the undo renames the others back
    tryFolders = true;
    foldersNotHeld = 0;
    const CopyResult result = CopyTree(TextString(tree.Path("package").c_str()),
                                       TextString(tree.Path("install").c_str()), "*.*");
    tryFolders = false;
    refusal = {};
    EXPECT_EQ(result.state, InstallState::kUnchanged);
    EXPECT_EQ(foldersNotHeld, 0);
    EXPECT_EQ(tree.ReadFile("install\\Data\\Deep\\c.txt"), "old c");
}

// The run's own undo was there when it noted each folder: one that is gone
// by the time it is undone was moved by someone, with the run's files in it,
// and the run says that it could not put everything back.
TEST(CommitThatFails, AFolderMovedAwayDuringTheUndoIsNotPassedOver) {
    setenv("UPDATE_RETRY_STEP_MS", "50", 1);
    TempTree tree;
    for (const char* name : {"a.txt", "c.txt", "Data\\b.txt"})
        tree.WriteFile(std::string("package\\") + name, "new");
    tree.WriteFile("install\\Data\\b.txt", "old b");
    refusal = {".tmp", "c.txt"};
    folderToSwap = tree.Path("install\\Data");
    const CopyResult result = CopyTree(TextString(tree.Path("package").c_str()),
                                       TextString(tree.Path("install").c_str()), "*.*");
    refusal = {};
    folderToSwap.clear();
    EXPECT_TRUE(tree.Exists("install\\Data.gone"));
    EXPECT_EQ(result.state, InstallState::kDamaged);
}

} // namespace
