// MoveFileExA of the stand-in where Wine 8 differs from Windows: a read-only
// target is not replaced (Windows replaces it only when asked to ignore the
// attribute, FILE_RENAME_IGNORE_READONLY_ATTRIBUTE; Wine 8.0 replaces it,
// later Wine refuses it as Windows does).
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

} // namespace
