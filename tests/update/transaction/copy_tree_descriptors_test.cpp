// CopyTree gives back every search it opens: the process holds as many
// descriptors after a copy of many directories as before it (each open
// search of the stand-in holds its directory open).
#include <dirent.h>

#include <string>

#include <gtest/gtest.h>

#include "copy_tree.h"
#include "temp_tree.h"

namespace {

int OpenDescriptors() {
    int count = 0;
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr)
        return -1;
    while (readdir(directory) != nullptr)
        ++count;
    closedir(directory);
    return count;
}

TEST(CopyTree, ClosesTheSearchOfEveryDirectory) {
    TempTree tree;
    for (int i = 0; i < 20; ++i)
        tree.WriteFile("package\\d" + std::to_string(i) + "\\e\\f.txt", "x");
    tree.MakeDirectory("install");
    const int before = OpenDescriptors();
    ASSERT_GT(before, 0);
    const CopyResult result = CopyTree(TextString(tree.Path("package").c_str()),
                                       TextString(tree.Path("install").c_str()), "*.*");
    EXPECT_EQ(result.copied, 20);
    EXPECT_EQ(result.Failures(), 0u);
    EXPECT_EQ(OpenDescriptors(), before);
}

} // namespace
