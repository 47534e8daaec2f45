// MoveFileExA of the stand-in where Wine 8 differs from Windows: a read-only
// target is not replaced (Windows replaces it only when asked to ignore the
// attribute, FILE_RENAME_IGNORE_READONLY_ATTRIBUTE; Wine 8.0 replaces it,
// later Wine refuses it as Windows does), and moves across file systems.
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

namespace {

TEST(StandinMoveFileExA, ReadOnlyTargetIsNotReplaced) {
    TempTree tree;
    tree.WriteFile("src.txt", "new");
    tree.WriteFile("dst.txt", "old");
    ASSERT_TRUE(SetFileAttributesA(tree.Path("dst.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_WIN32_FAILURE(MoveFileExA(tree.Path("src.txt").c_str(), tree.Path("dst.txt").c_str(),
                                     MOVEFILE_REPLACE_EXISTING),
                         FALSE, ERROR_ACCESS_DENIED);
    EXPECT_EQ(tree.ReadFile("dst.txt"), "old");
    EXPECT_EQ(tree.ReadFile("src.txt"), "new");
}

// Across file systems (the test's temporary folder and /dev/shm, where they
// differ) a plain file moves only where copying is allowed.
TEST(StandinMoveFileExA, CopiesAcrossFileSystemsOnlyWhereAllowed) {
    TempTree tree;
    struct stat here, there;
    if (stat(tree.Root().c_str(), &here) != 0 || stat("/dev/shm", &there) != 0 ||
        here.st_dev == there.st_dev)
        GTEST_SKIP() << "no second file system";
    tree.WriteFile("src.txt", "moved");
    const std::string source = tree.Path("src.txt");
    const std::string target = "/dev/shm/standin-move-" + std::to_string(getpid());
    EXPECT_WIN32_FAILURE(MoveFileExA(source.c_str(), target.c_str(), 0), FALSE,
                         ERROR_NOT_SAME_DEVICE);
    EXPECT_TRUE(MoveFileExA(source.c_str(), target.c_str(),
                            MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH));
    EXPECT_FALSE(tree.Exists("src.txt"));
    EXPECT_TRUE(MoveFileExA(target.c_str(), tree.Path("back.txt").c_str(), MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(tree.ReadFile("back.txt"), "moved");
}

} // namespace
