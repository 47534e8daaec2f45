// The size and free space of a volume, as Windows gives them.
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

namespace {

TEST(DiskFreeSpace, ADirectoryTellsItsVolumesSpaceAndTheRootItsCluster) {
    TempTree tree;
    tree.WriteFile("f.txt", "a file");
    ULARGE_INTEGER available, total, free;
    ASSERT_TRUE(GetDiskFreeSpaceExA(tree.Root().c_str(), &available, &total, &free));
    EXPECT_LE(available.QuadPart, free.QuadPart);
    EXPECT_LE(free.QuadPart, total.QuadPart);
    char root[MAX_PATH + 1];
    DWORD sectors = 0, sectorBytes = 0;
    ASSERT_TRUE(GetVolumePathNameA(tree.Root().c_str(), root, sizeof root));
    ASSERT_TRUE(GetDiskFreeSpaceA(root, &sectors, &sectorBytes, nullptr, nullptr));
    const ULONGLONG cluster = ULONGLONG(sectors) * sectorBytes;
    EXPECT_EQ(cluster & (cluster - 1), 0u) << cluster << " is no power of two";

    const std::pair<std::string, DWORD> noDirectory[] = {
        {tree.Path("missing\\deeper"), ERROR_PATH_NOT_FOUND},
        {tree.Path("f.txt"), ERROR_DIRECTORY}};
    for (const auto& [path, error] : noDirectory) {
        EXPECT_WIN32_FAILURE(GetDiskFreeSpaceExA(path.c_str(), &available, nullptr, nullptr), FALSE,
                             error);
        EXPECT_WIN32_FAILURE(GetDiskFreeSpaceA(path.c_str(), &sectors, nullptr, nullptr, nullptr),
                             FALSE, error);
    }
}

} // namespace
