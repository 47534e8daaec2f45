// CopyTree gives back every search it opens, and refuses two names that are
// one on Windows: the process holds as many
// descriptors after a copy of many directories as before it (each open
// search of the stand-in holds its directory open).
#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
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

// Two names that are one on Windows are refused in a folder of just the two
// of them as among others (made here on the Linux side, where they are two).
TEST(CopyTree, TwoNamesThatAreOneOnWindowsAreRefusedAlone) {
    TempTree tree;
    tree.MakeDirectory("package\\Pair");
    tree.MakeDirectory("install");
    for (const char* name : {"/package/Pair/A.dat", "/package/Pair/a.dat"})
        std::ofstream(tree.Root() + name) << name;
    const CopyResult result = CopyTree(TextString(tree.Path("package").c_str()),
                                       TextString(tree.Path("install").c_str()), "*.*");
    EXPECT_EQ(result.failedFiles, 2u);
    EXPECT_EQ(result.state, InstallState::kUnchanged);
    struct stat info;
    EXPECT_NE(stat((tree.Root() + "/install/Pair/A.dat").c_str(), &info), 0);
    EXPECT_NE(stat((tree.Root() + "/install/Pair/a.dat").c_str(), &info), 0);
}

} // namespace
