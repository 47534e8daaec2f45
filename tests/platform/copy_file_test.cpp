// CopyFileA: overwriting in place, and refusing before the target is
// touched wherever Windows refuses.
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"

namespace {

const DWORD kMarker = 0xdeadbeef;

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

TEST(CopyFileA, CopiesAndOverwritesWithShorterContents) {
    TempTree tree;
    tree.WriteFile("src.txt", "new");
    SetLastError(kMarker);
    EXPECT_TRUE(Copy(tree, "src.txt", "fresh.txt"));
    EXPECT_EQ(tree.ReadFile("fresh.txt"), "new");

    tree.WriteFile("old.txt", "a much longer old text");
    EXPECT_TRUE(Copy(tree, "src.txt", "old.txt"));
    EXPECT_EQ(tree.ReadFile("old.txt"), "new");

    tree.WriteFile("empty.txt", "");
    EXPECT_TRUE(Copy(tree, "empty.txt", "old.txt"));
    EXPECT_EQ(tree.ReadFile("old.txt"), "");
}

TEST(CopyFileA, KeepsTheLastWriteTimeAndTheReadOnlyAttribute) {
    TempTree tree;
    tree.WriteFile("src.txt", "x");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    tree.WriteFile("dst.txt", "y");
    ASSERT_TRUE(Copy(tree, "src.txt", "dst.txt"));
    FILETIME source = LastWriteTime(tree.Path("src.txt"));
    FILETIME target = LastWriteTime(tree.Path("dst.txt"));
    EXPECT_EQ(source.dwLowDateTime, target.dwLowDateTime);
    EXPECT_EQ(source.dwHighDateTime, target.dwHighDateTime);

    ASSERT_TRUE(SetFileAttributesA(tree.Path("src.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(Copy(tree, "src.txt", "ro-copy.txt"));
    EXPECT_NE(GetFileAttributesA(tree.Path("ro-copy.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST(CopyFileA, RefusalsLeaveTheTargetUntouched) {
    TempTree tree;
    tree.WriteFile("src.txt", "new");
    tree.MakeDirectory("dir");
    tree.WriteFile("dir\\inner.txt", "inner");

    struct Case {
        const char* label;
        const char* from;
        const char* to;
        BOOL failIfExists;
        DWORD error;
    } cases[] = {
        {"target exists", "src.txt", "target.txt", TRUE, ERROR_FILE_EXISTS},
        {"missing source", "missing.txt", "target.txt", FALSE, ERROR_FILE_NOT_FOUND},
        {"source is a directory", "dir", "target.txt", FALSE, ERROR_ACCESS_DENIED},
        {"target is a directory", "src.txt", "dir", FALSE, ERROR_ACCESS_DENIED},
        {"copy onto itself", "target.txt", "target.txt", FALSE, ERROR_SHARING_VIOLATION},
    };
    for (const Case& c : cases) {
        tree.WriteFile("target.txt", "old");
        SetLastError(kMarker);
        EXPECT_FALSE(Copy(tree, c.from, c.to, c.failIfExists)) << c.label;
        EXPECT_EQ(GetLastError(), c.error) << c.label;
        EXPECT_EQ(tree.ReadFile("target.txt"), "old") << c.label;
    }
    EXPECT_EQ(tree.ReadFile("dir\\inner.txt"), "inner");
}

TEST(CopyFileA, ReadOnlyTargetIsRefused) {
    TempTree tree;
    tree.WriteFile("src.txt", "new");
    tree.WriteFile("ro.txt", "old");
    ASSERT_TRUE(SetFileAttributesA(tree.Path("ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    SetLastError(kMarker);
    EXPECT_FALSE(Copy(tree, "src.txt", "ro.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(tree.ReadFile("ro.txt"), "old");
}

TEST(CopyFileA, HonoursTheShareModesOfOpenHandles) {
    const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    struct Case {
        const char* held;
        DWORD access;
        DWORD share;
        bool copies;
    } cases[] = {
        {"dst.txt", GENERIC_READ, 0, false},
        {"dst.txt", GENERIC_READ, FILE_SHARE_READ, false},
        {"dst.txt", 0, 0, true},
        {"src.txt", GENERIC_WRITE, kShareAll, true}, // a file being written is read along
        {"src.txt", GENERIC_WRITE, FILE_SHARE_WRITE, false},
        {"src.txt", GENERIC_READ, FILE_SHARE_READ, true},
        {"src.txt", GENERIC_READ, 0, false},
    };
    TempTree tree;
    tree.WriteFile("src.txt", "new");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.held << " " << std::hex << c.access << "/" << c.share);
        tree.WriteFile("dst.txt", "old");
        HANDLE holder = CreateFileA(tree.Path(c.held).c_str(), c.access, c.share, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        SetLastError(kMarker);
        EXPECT_EQ(Copy(tree, "src.txt", "dst.txt"), c.copies);
        if (!c.copies) {
            EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
        }
        CloseHandle(holder);
        EXPECT_EQ(tree.ReadFile("dst.txt"), c.copies ? "new" : "old");
    }
}

} // namespace
