// Calls that change a name act in the folder that their walk opened: a
// folder of the tree swapped for another user's link (to a folder of
// root's elsewhere) makes them fail, and never sends them where it leads,
// also when the swap races them.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

namespace {

const uid_t kNobody = 65534;

// The calls, each on a name in the folder "Data" (or, for the target of a
// move, from a file beside it).
struct Call {
    const char* what;
    std::function<BOOL(const TempTree&)> call;
};
const Call kCalls[] = {
    {"DeleteFileA", [](const TempTree& t) { return DeleteFileA(t.Path("Data\\a.txt").c_str()); }},
    {"MoveFileExA from",
     [](const TempTree& t) {
         return MoveFileExA(t.Path("Data\\b.txt").c_str(), t.Path("moved.txt").c_str(), 0);
     }},
    {"MoveFileExA to",
     [](const TempTree& t) {
         return MoveFileExA(t.Path("here.txt").c_str(), t.Path("Data\\c.txt").c_str(),
                            MOVEFILE_REPLACE_EXISTING);
     }},
    {"RemoveDirectoryA",
     [](const TempTree& t) { return RemoveDirectoryA(t.Path("Data\\sub").c_str()); }},
    {"CreateDirectoryA",
     [](const TempTree& t) { return CreateDirectoryA(t.Path("Data\\new").c_str(), nullptr); }},
    {"SetFileAttributesA",
     [](const TempTree& t) {
         return SetFileAttributesA(t.Path("Data\\d.txt").c_str(), FILE_ATTRIBUTE_READONLY);
     }},
};

// Fills the folder at fd with what the calls act on, as far as it is
// missing; and beside it, the file that a move takes in and no file where
// a move puts one.
void Fill(int folder, const TempTree& tree) {
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
        const int fd = openat(folder, name, O_WRONLY | O_CREAT | O_NOFOLLOW, 0644);
        if (fd >= 0)
            close(fd);
        fchmodat(folder, name, 0644, 0);
    }
    mkdirat(folder, "sub", 0755);
    unlinkat(folder, "new", AT_REMOVEDIR);
    tree.WriteFile("here.txt", "here");
    unlink((tree.Root() + "/moved.txt").c_str());
}

// Each name of the folder with its kind, permissions and size.
std::string Listing(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return "<no folder>";
    while (const dirent* entry = readdir(dir)) {
        struct stat info;
        if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0)
            names.push_back(std::string(entry->d_name) + " " + std::to_string(info.st_mode) + " " +
                            std::to_string(info.st_size));
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    std::string listing;
    for (const std::string& name : names)
        listing += name + "\n";
    return listing;
}

class SwappedFolder : public testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "links of another user need root";
        outside_ = tree_.Root() + "/outside";
        ASSERT_EQ(mkdir(outside_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(Posix("Data").c_str(), 0777), 0);
        ASSERT_EQ(symlink(outside_.c_str(), Posix("link").c_str()), 0);
        ASSERT_EQ(lchown(Posix("link").c_str(), kNobody, kNobody), 0);
        real_ = open(Posix("Data").c_str(), O_RDONLY | O_DIRECTORY);
        outsideFd_ = open(outside_.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(real_, 0);
        Fill(outsideFd_, tree_);
        Fill(real_, tree_);
        before_ = Listing(outside_);
    }
    void TearDown() override {
        if (real_ >= 0)
            close(real_);
        if (outsideFd_ >= 0)
            close(outsideFd_);
    }
    std::string Posix(const char* name) const { return tree_.Root() + "/" + name; }
    // Puts the link in the place of "Data", or the folder back.
    bool Swap() const {
        return renameat2(AT_FDCWD, Posix("Data").c_str(), AT_FDCWD, Posix("link").c_str(),
                         RENAME_EXCHANGE) == 0;
    }

    TempTree tree_;
    std::string outside_, before_;
    int real_ = -1, outsideFd_ = -1;
};

TEST_F(SwappedFolder, AnotherUsersLinkIsRefusedAndRootsOwnIsFollowed) {
    ASSERT_TRUE(Swap());
    for (const Call& c : kCalls) {
        SCOPED_TRACE(c.what);
        EXPECT_WIN32_FAILURE(c.call(tree_), FALSE, ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(Listing(outside_), before_);
    EXPECT_EQ(tree_.ReadFile("here.txt"), "here");

    ASSERT_EQ(lchown(Posix("Data").c_str(), 0, 0), 0);
    for (const Call& c : kCalls)
        EXPECT_TRUE(c.call(tree_)) << c.what << " error " << GetLastError();
    EXPECT_NE(Listing(outside_), before_);
}

// One thread swaps the folder for the link and back as fast as it can while
// the calls run: each call either acts in the folder or fails, and nothing
// where the link leads ever changes.
TEST_F(SwappedFolder, ARacingSwapNeverSendsACallWhereTheLinkLeads) {
    std::atomic<bool> stop(false);
    std::thread swapper([&] {
        while (!stop.load())
            Swap();
    });
    int acted = 0;
    for (int round = 0; round < 400; ++round) {
        Fill(real_, tree_);
        for (const Call& c : kCalls)
            acted += c.call(tree_) ? 1 : 0;
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(Listing(outside_), before_);
    EXPECT_GT(acted, 0);
}

} // namespace
