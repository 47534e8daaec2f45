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
// put in another's place takes that one's, and no write permission for
// others that that one lacked (the user's 0666 file becomes root's 0644
// file); a file deleted on close stays the caller's.
TEST(Owners, NewNamesTakeTheFolderOwnerAndAReplacingFileTheReplacedOne) {
    TempTree tree;
    tree.WriteFile("user\\old.txt", "old");
    tree.WriteFile("mine.txt", "mine");
    tree.WriteFile("user\\theirs.txt", "theirs");
    tree.WriteFile("root.txt", "root's");
    const std::string user = tree.Root() + "/user";
    if (geteuid() != 0 || chown(user.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "giving files to other users needs root";
    ASSERT_EQ(chown((user + "/old.txt").c_str(), 1234, 4321), 0);
    ASSERT_EQ(chown((user + "/theirs.txt").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod((user + "/theirs.txt").c_str(), 0666), 0);
    ASSERT_EQ(chmod((tree.Root() + "/root.txt").c_str(), 0644), 0);

    HANDLE made = Open(tree.Path("user\\new.txt"), GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(made, INVALID_HANDLE_VALUE);
    CloseHandle(made);
    EXPECT_TRUE(CreateDirectoryA(tree.Path("user\\dir").c_str(), nullptr));
    EXPECT_TRUE(
        CopyFileA(tree.Path("mine.txt").c_str(), tree.Path("user\\copy.txt").c_str(), TRUE));
    EXPECT_TRUE(MoveFileExA(tree.Path("mine.txt").c_str(), tree.Path("user\\old.txt").c_str(),
                            MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(MoveFileExA(tree.Path("user\\theirs.txt").c_str(), tree.Path("root.txt").c_str(),
                            MOVEFILE_REPLACE_EXISTING));
    HANDLE lock =
        Open(tree.Path("user\\.lock"), GENERIC_WRITE, 0, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);

    struct Case {
        const char* name;
        uid_t owner;
        gid_t group;
        mode_t mode; // 0: any
    } cases[] = {{"user/new.txt", 65534, 65534, 0},
                 {"user/dir", 65534, 65534, 0},
                 {"user/copy.txt", 65534, 65534, 0},
                 {"user/old.txt", 1234, 4321, 0},
                 {"user/.lock", 0, 0, 0},
                 {"root.txt", 0, 0, 0644}};
    for (const Case& c : cases) {
        struct stat info;
        ASSERT_EQ(lstat((tree.Root() + "/" + c.name).c_str(), &info), 0) << c.name;
        EXPECT_EQ(info.st_uid, c.owner) << c.name;
        EXPECT_EQ(info.st_gid, c.group) << c.name;
        if (c.mode != 0) {
            EXPECT_EQ(info.st_mode & 07777, c.mode) << c.name;
        }
    }
    CloseHandle(lock);
    EXPECT_EQ(tree.ReadFile("user\\old.txt"), "mine");
    EXPECT_EQ(tree.ReadFile("root.txt"), "theirs");
}

} // namespace
