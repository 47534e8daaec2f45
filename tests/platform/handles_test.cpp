// Handles of one kind are refused by the calls for another kind, and the
// refused handle still works afterwards.
#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

namespace {

TEST(Handles, AFindHandleIsRefusedByFileCalls) {
    TempTree tree;
    tree.WriteFile("only.txt", "abc");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(tree.Path("*.txt").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    char buffer[4];
    DWORD read = 0;
    EXPECT_WIN32_FAILURE(CloseHandle(find), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_WIN32_FAILURE(ReadFile(find, buffer, sizeof(buffer), &read, nullptr), FALSE,
                         ERROR_INVALID_HANDLE);
    EXPECT_WIN32_FAILURE(FindNextFileA(find, &data), FALSE, ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(find));
}

} // namespace
