// The size and free space of a volume, as Windows gives them.
#include <string>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

namespace {

TEST(DiskFreeSpace, AnyDirectoryOfAVolumeTellsItsSpaceAndItsRootItsCluster) {
    TempTree tree;
    tree.MakeDirectory("dir");
    const std::string directory = tree.Path("dir");
    ULARGE_INTEGER available, total, free;
    ASSERT_TRUE(GetDiskFreeSpaceExA(directory.c_str(), &available, &total, &free));
    EXPECT_GT(total.QuadPart, 0u);
    EXPECT_LE(free.QuadPart, total.QuadPart);
    EXPECT_LE(available.QuadPart, free.QuadPart);

    char root[MAX_PATH + 1];
    ASSERT_TRUE(GetVolumePathNameA(directory.c_str(), root, sizeof root));
    DWORD sectors = 0, sectorBytes = 0, freeClusters = 0, clusters = 0;
    ASSERT_TRUE(GetDiskFreeSpaceA(root, &sectors, &sectorBytes, &freeClusters, &clusters));
    const ULONGLONG cluster = ULONGLONG(sectors) * sectorBytes;
    EXPECT_GE(sectorBytes, 512u);
    EXPECT_EQ(cluster & (cluster - 1), 0u) << cluster << " is no power of two";
    EXPECT_LE(freeClusters, clusters);
    if (clusters != 0xFFFFFFFFu) {
        EXPECT_LE(total.QuadPart, clusters * cluster);
    }
    // The root is what the documentation asks for; a directory below it
    // answers the same.
    DWORD belowSectors = 0, belowSectorBytes = 0;
    ASSERT_TRUE(
        GetDiskFreeSpaceA(directory.c_str(), &belowSectors, &belowSectorBytes, nullptr, nullptr));
    EXPECT_EQ(ULONGLONG(belowSectors) * belowSectorBytes, cluster);
}

TEST(DiskFreeSpace, NoDirectoryThereFails) {
    TempTree tree;
    tree.WriteFile("f.txt", "a file");
    const struct {
        std::string path;
        DWORD error;
    } cases[] = {
        {tree.Path("missing\\deeper"), ERROR_PATH_NOT_FOUND},
        {tree.Path("f.txt"), ERROR_DIRECTORY},
        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ULARGE_INTEGER available;
        DWORD sectors = 0;
        EXPECT_WIN32_FAILURE(GetDiskFreeSpaceExA(c.path.c_str(), &available, nullptr, nullptr),
                             FALSE, c.error);
        EXPECT_WIN32_FAILURE(GetDiskFreeSpaceA(c.path.c_str(), &sectors, nullptr, nullptr, nullptr),
                             FALSE, c.error);
    }
}

} // namespace
