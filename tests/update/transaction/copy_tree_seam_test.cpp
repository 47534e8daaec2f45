// CopyTree on a file system that gives no file ids (some network and FUSE
// drives report index 0 for every directory): the identities of the loop
// guard are then unknown, and every subdirectory is copied. The stand-in
// cannot be such a file system, so this program puts its own
// IdentifyDirectory in place of the real one.
#include <string>

#include <gtest/gtest.h>

#include "copy_tree.h"
#include "directory_identity.h"
#include "temp_tree.h"

DirectoryIdentity IdentifyDirectory(const char*) {
    BY_HANDLE_FILE_INFORMATION information = {};
    information.dwVolumeSerialNumber = 0;
    return IdentityFromInformation(information);
}

namespace {

TEST(CopyTreeWithoutFileIds, CopiesEverySubdirectory) {
    TempTree tree;
    tree.WriteFile("package\\top.txt", "top");
    tree.WriteFile("package\\Data\\map.dat", "map");
    tree.WriteFile("package\\Data\\Levels\\one.lvl", "one");
    tree.WriteFile("package\\Help\\index.htm", "index");
    tree.MakeDirectory("install");
    const CopyResult result = CopyTree(TextString(tree.Path("package").c_str()),
                                       TextString(tree.Path("install").c_str()), "*.*");
    EXPECT_EQ(result.copied, 4);
    EXPECT_EQ(result.Failures(), 0u);
    EXPECT_EQ(tree.ReadFile("install\\Data\\Levels\\one.lvl"), "one");
    EXPECT_EQ(tree.ReadFile("install\\Help\\index.htm"), "index");
}

} // namespace
