// CreateFileA of the stand-in where Wine differs from Windows: a directory
// named with a trailing separator and opened as a file is a path not found
// (Wine's own test of it is marked as failing on Wine).
#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

namespace {

TEST(StandinCreateFileA, DirectoryWithTrailingSeparatorOpenedAsAFile) {
    TempTree tree;
    tree.MakeDirectory("dir");
    EXPECT_WIN32_FAILURE(Open(tree.Path("dir\\"), GENERIC_READ, kShareAll), INVALID_HANDLE_VALUE,
                         ERROR_PATH_NOT_FOUND);
    EXPECT_WIN32_FAILURE(Open(tree.Path("dir\\"), GENERIC_WRITE, 0, CREATE_ALWAYS),
                         INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND);
}

} // namespace
