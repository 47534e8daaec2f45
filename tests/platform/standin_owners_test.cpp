// Owners of what the stand-in makes in another user's folder (as root).
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

namespace {

// New files and folders take the owner and group of their folder; a file
// put in another's place takes that one's; a file deleted on close stays
// the caller's.
TEST(Owners, NewNamesTakeTheFolderOwnerAndAReplacingFileTheReplacedOne) {
    TempTree tree;
    tree.WriteFile("user\\old.txt", "old");
    tree.WriteFile("mine.txt", "mine");
    const std::string user = tree.Root() + "/user";
    if (geteuid() != 0 || chown(user.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "giving files to other users needs root";
    ASSERT_EQ(chown((user + "/old.txt").c_str(), 1234, 4321), 0);

    HANDLE made = Open(tree.Path("user\\new.txt"), GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(made, INVALID_HANDLE_VALUE);
    CloseHandle(made);
    EXPECT_TRUE(CreateDirectoryA(tree.Path("user\\dir").c_str(), nullptr));
    EXPECT_TRUE(
        CopyFileA(tree.Path("mine.txt").c_str(), tree.Path("user\\copy.txt").c_str(), TRUE));
    EXPECT_TRUE(MoveFileExA(tree.Path("mine.txt").c_str(), tree.Path("user\\old.txt").c_str(),
                            MOVEFILE_REPLACE_EXISTING));
    HANDLE lock =
        Open(tree.Path("user\\.lock"), GENERIC_WRITE, 0, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);

    struct Case {
        const char* name;
        uid_t owner;
        gid_t group;
    } cases[] = {{"new.txt", 65534, 65534},
                 {"dir", 65534, 65534},
                 {"copy.txt", 65534, 65534},
                 {"old.txt", 1234, 4321},
                 {".lock", 0, 0}};
    for (const Case& c : cases) {
        struct stat info;
        ASSERT_EQ(lstat((user + "/" + c.name).c_str(), &info), 0) << c.name;
        EXPECT_EQ(info.st_uid, c.owner) << c.name;
        EXPECT_EQ(info.st_gid, c.group) << c.name;
    }
    CloseHandle(lock);
    EXPECT_EQ(tree.ReadFile("user\\old.txt"), "mine");
}

// A file that takes root's place keeps no write permission for others that
// root's file did not give: the user's 0666 file becomes root's 0644 file.
TEST(Owners, AFileThatTakesAnotherOwnerKeepsNoWriteForOthersThatItLacked) {
    TempTree tree;
    tree.WriteFile("theirs.txt", "theirs");
    tree.WriteFile("root.txt", "root's");
    const std::string theirs = tree.Root() + "/theirs.txt", root = tree.Root() + "/root.txt";
    if (geteuid() != 0 || chown(theirs.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "giving files to other users needs root";
    ASSERT_EQ(chmod(theirs.c_str(), 0666), 0);
    ASSERT_EQ(chmod(root.c_str(), 0644), 0);
    EXPECT_TRUE(MoveFileExA(tree.Path("theirs.txt").c_str(), tree.Path("root.txt").c_str(),
                            MOVEFILE_REPLACE_EXISTING));
    struct stat info;
    ASSERT_EQ(lstat(root.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(tree.ReadFile("root.txt"), "theirs");
}

} // namespace
