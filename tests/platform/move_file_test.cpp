// MoveFileExA: one rename, replacing a target only where asked and where
// Windows lets it, and leaving both files as they were when it refuses.
#include <string>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

namespace {

TEST(MoveFileExA, ReplacesOrRefusesLeavingBothFilesAsTheyWere) {
    const DWORD kHold = DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
    TempTree tree;
    tree.WriteFile("dir\\inner.txt", "inner");
    struct Case {
        const char* to;
        DWORD flags;
        DWORD error;                // 0 when it moves
        const char* held = nullptr; // held open during the move
        DWORD access = 0, share = 0;
    } cases[] = {
        {"new.txt", 0, 0},
        {"dst.txt", MOVEFILE_REPLACE_EXISTING, 0},
        {"dst.txt", 0, ERROR_ALREADY_EXISTS},
        {"dst.txt", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, 0},
        // On one volume copying allowed is a plain move.
        {"new.txt", MOVEFILE_COPY_ALLOWED, 0},
        {"dst.txt", MOVEFILE_COPY_ALLOWED, ERROR_ALREADY_EXISTS},
        {"dst.txt", MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING, 0},
        {"dir", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
        {"missing\\dst.txt", MOVEFILE_REPLACE_EXISTING, ERROR_PATH_NOT_FOUND},
        // An open target is not replaced, however it is shared.
        {"dst.txt", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED, "dst.txt", GENERIC_READ,
         kShareAll},
        // The source is renamed along with opens that share deleting only.
        {"dst.txt", MOVEFILE_REPLACE_EXISTING, ERROR_SHARING_VIOLATION, "src.txt", GENERIC_READ,
         FILE_SHARE_READ | FILE_SHARE_WRITE},
        {"dst.txt", MOVEFILE_REPLACE_EXISTING, 0, "src.txt", GENERIC_READ, kShareAll},
        // A handle with delete access alone that shares all three (an update
        // run's hold) lets its file be moved, not replaced.
        {"new.txt", 0, 0, "src.txt", kHold, kShareAll},
        {"dst.txt", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED, "dst.txt", kHold, kShareAll},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "to " << c.to << " flags " << c.flags << " holding "
                                        << (c.held ? c.held : "nothing"));
        tree.WriteFile("src.txt", "new");
        tree.WriteFile("dst.txt", "old");
        DeleteFileA(tree.Path("new.txt").c_str());
        HANDLE holder = c.held ? Open(tree.Path(c.held), c.access, c.share) : nullptr;
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        const std::string from = tree.Path("src.txt"), to = tree.Path(c.to);
        if (c.error == 0) {
            EXPECT_TRUE(MoveFileExA(from.c_str(), to.c_str(), c.flags));
            EXPECT_EQ(tree.ReadFile(c.to), "new");
            EXPECT_FALSE(tree.Exists("src.txt"));
        } else {
            EXPECT_WIN32_FAILURE(MoveFileExA(from.c_str(), to.c_str(), c.flags), FALSE, c.error);
            EXPECT_EQ(tree.ReadFile("src.txt"), "new");
        }
        if (holder != nullptr)
            CloseHandle(holder);
        if (c.error != 0 || std::string(c.to) != "dst.txt") {
            EXPECT_EQ(tree.ReadFile("dst.txt"), "old");
        }
    }
    EXPECT_EQ(tree.ReadFile("dir\\inner.txt"), "inner");
}

TEST(MoveFileExA, MissingSourceOrTheSameFile) {
    TempTree tree;
    tree.WriteFile("file.txt", "kept");
    EXPECT_WIN32_FAILURE(MoveFileExA(tree.Path("missing.txt").c_str(),
                                     tree.Path("file.txt").c_str(), MOVEFILE_REPLACE_EXISTING),
                         FALSE, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(MoveFileExA(tree.Path("file.txt").c_str(), tree.Path("file.txt").c_str(),
                            MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(MoveFileExA(tree.Path("file.txt").c_str(), tree.Path("FILE.TXT").c_str(), 0));
    EXPECT_EQ(tree.ReadFile("file.txt"), "kept");
}

// A name renamed away is gone in every case: a new file of that name in
// another case is made as written.
TEST(MoveFileExA, TheOldNameIsFreeForANewFile) {
    TempTree tree;
    tree.WriteFile("A.txt", "a");
    ASSERT_TRUE(MoveFileExA(tree.Path("A.txt").c_str(), tree.Path("B.txt").c_str(), 0));
    tree.WriteFile("a.txt", "new");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(tree.Path("a.txt").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    EXPECT_STREQ(found.cFileName, "a.txt");
    EXPECT_EQ(tree.ReadFile("B.txt"), "a");
}

// A handle with delete access alone that shares all three goes with its
// file, read-only or not, through a rename: under its new name the file
// still keeps out an open that does not share deleting, and the old name
// is free of it.
TEST(MoveFileExA, AHoldGoesWithItsFile) {
    const DWORD kHold = DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
    TempTree tree;
    tree.WriteFile("held.txt", "old");
    const std::string held = tree.Path("held.txt"), moved = tree.Path("moved.txt");
    ASSERT_TRUE(SetFileAttributesA(held.c_str(), FILE_ATTRIBUTE_READONLY));
    SetLastError(kMarker);
    HANDLE hold = Open(held, kHold, kShareAll);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(MoveFileExA(held.c_str(), moved.c_str(), 0));
    EXPECT_WIN32_FAILURE(Open(moved, GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE,
                         ERROR_SHARING_VIOLATION);
    HANDLE reader = Open(moved, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    tree.WriteFile("held.txt", "new");
    reader = Open(held, GENERIC_READ, 0);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    EXPECT_TRUE(CloseHandle(hold));
    reader = Open(moved, GENERIC_READ, FILE_SHARE_READ);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    SetFileAttributesA(moved.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// What CopyFileA gave the file travels with it: a read-only file is renamed
// (only a read-only target is refused) and keeps its time.
TEST(MoveFileExA, KeepsTheReadOnlyAttributeAndTheLastWriteTime) {
    TempTree tree;
    tree.WriteFile("src.txt", "new");
    tree.WriteFile("dst.txt", "old");
    ASSERT_TRUE(SetFileAttributesA(tree.Path("src.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    const FILETIME before = LastWriteTime(tree.Path("src.txt"));
    ASSERT_TRUE(MoveFileExA(tree.Path("src.txt").c_str(), tree.Path("dst.txt").c_str(),
                            MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(tree.ReadFile("dst.txt"), "new");
    EXPECT_NE(GetFileAttributesA(tree.Path("dst.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    const FILETIME after = LastWriteTime(tree.Path("dst.txt"));
    EXPECT_EQ(before.dwLowDateTime, after.dwLowDateTime);
    EXPECT_EQ(before.dwHighDateTime, after.dwHighDateTime);
}

} // namespace
