// CreateFileA where Wine differs from Windows (its own test of this fails on
// Wine): a directory named with a trailing separator opened as a file.
#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

namespace {

TEST(StandinCreateFileA, DirectoryWithTrailingSeparatorOpenedAsAFile) {
    TempTree tree;
    tree.MakeDirectory("dir");
    EXPECT_WIN32_FAILURE(Open(tree.Path("dir\\"), GENERIC_WRITE, 0, CREATE_ALWAYS),
                         INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND);
}

} // namespace
