// CopyFileA: overwriting in place, and refusing before the target is
// touched wherever Windows refuses.
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

namespace {

bool Copy(const TempTree& tree, const char* from, const char* to, BOOL failIfExists = FALSE) {
    return CopyFileA(tree.Path(from).c_str(), tree.Path(to).c_str(), failIfExists) != FALSE;
}

FILETIME LastWriteTime(const std::string& path) {
    WIN32_FIND_DATAA data = {};
    HANDLE find = FindFirstFileA(path.c_str(), &data);
    EXPECT_NE(find, INVALID_HANDLE_VALUE) << path;
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    return data.ftLastWriteTime;
}

TEST(CopyFileA, OverwritesWithShorterContentsAndKeepsTimeAndReadOnly) {
    TempTree tree;
    tree.WriteFile("src.txt", "new");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    tree.WriteFile("old.txt", "a much longer old text");
    EXPECT_TRUE(Copy(tree, "src.txt", "old.txt"));
    EXPECT_EQ(tree.ReadFile("old.txt"), "new");
    FILETIME source = LastWriteTime(tree.Path("src.txt"));
    FILETIME target = LastWriteTime(tree.Path("old.txt"));
    EXPECT_EQ(source.dwLowDateTime, target.dwLowDateTime);
    EXPECT_EQ(source.dwHighDateTime, target.dwHighDateTime);

    tree.WriteFile("empty.txt", "");
    ASSERT_TRUE(SetFileAttributesA(tree.Path("empty.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(Copy(tree, "empty.txt", "old.txt"));
    EXPECT_EQ(tree.ReadFile("old.txt"), "");
    EXPECT_NE(GetFileAttributesA(tree.Path("old.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST(CopyFileA, RefusalsLeaveTheTargetUntouched) {
    TempTree tree;
    tree.WriteFile("src.txt", "new");
    tree.WriteFile("dir\\inner.txt", "inner");
    tree.WriteFile("ro.txt", "old");
    ASSERT_TRUE(SetFileAttributesA(tree.Path("ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    struct Case {
        const char* from;
        const char* to;
        BOOL failIfExists;
        DWORD error;
    } cases[] = {
        {"src.txt", "target.txt", TRUE, ERROR_FILE_EXISTS},
        {"missing.txt", "target.txt", FALSE, ERROR_FILE_NOT_FOUND},
        {"dir", "target.txt", FALSE, ERROR_ACCESS_DENIED},
        {"src.txt", "dir", FALSE, ERROR_ACCESS_DENIED},
        {"src.txt", "ro.txt", FALSE, ERROR_ACCESS_DENIED},
        {"target.txt", "target.txt", FALSE, ERROR_SHARING_VIOLATION},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " to " << c.to);
        tree.WriteFile("target.txt", "old");
        EXPECT_WIN32_FAILURE(Copy(tree, c.from, c.to, c.failIfExists), false, c.error);
        EXPECT_EQ(tree.ReadFile("target.txt"), "old");
    }
    EXPECT_EQ(tree.ReadFile("ro.txt"), "old");
    EXPECT_EQ(tree.ReadFile("dir\\inner.txt"), "inner");
}

TEST(CopyFileA, HonoursTheShareModesOfOpenHandles) {
    struct Case {
        const char* held;
        DWORD access;
        DWORD share;
        bool copies;
    } cases[] = {
        {"dst.txt", GENERIC_READ, FILE_SHARE_READ, false},   {"dst.txt", 0, 0, true},
        {"src.txt", GENERIC_WRITE, kShareAll, true}, // a file being written is read along
        {"src.txt", GENERIC_WRITE, FILE_SHARE_WRITE, false}, {"src.txt", GENERIC_READ, 0, false},
    };
    TempTree tree;
    tree.WriteFile("src.txt", "new");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.held << " " << std::hex << c.access << "/" << c.share);
        tree.WriteFile("dst.txt", "old");
        HANDLE holder = Open(tree.Path(c.held), c.access, c.share);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        if (c.copies) {
            EXPECT_TRUE(Copy(tree, "src.txt", "dst.txt"));
        } else {
            EXPECT_WIN32_FAILURE(Copy(tree, "src.txt", "dst.txt"), false, ERROR_SHARING_VIOLATION);
        }
        CloseHandle(holder);
        EXPECT_EQ(tree.ReadFile("dst.txt"), c.copies ? "new" : "old");
    }
}

} // namespace
