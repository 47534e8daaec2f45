// FIFOs, sockets and devices, which a Windows folder cannot hold: opening
// one never waits and is refused as Windows refuses such a file made by
// Linux in an NTFS folder (ERROR_CANT_ACCESS_FILE); nothing is read from
// one or written into one.
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

namespace {

class SpecialFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(mkfifo(Posix("fifo").c_str(), 0644), 0);
        // A socket file stays when its socket is closed.
        int listener = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(listener, 0);
        struct sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::string socketPath = Posix("socket");
        ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
        std::strcpy(address.sun_path, socketPath.c_str());
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        close(listener);
        // A character device that anyone may use, reached by a link.
        ASSERT_EQ(symlink("/dev/zero", Posix("zero").c_str()), 0);
        tree_.WriteFile("plain.txt", "plain");
    }

    std::string Posix(const char* name) const { return tree_.Root() + "/" + name; }
    std::string Win(const char* name) const { return tree_.Path(name); }

    TempTree tree_;
};

TEST_F(SpecialFiles, OpeningOneIsRefusedAtOnceWhateverTheAccess) {
    for (const char* name : {"fifo", "socket", "zero"}) {
        for (DWORD access : {DWORD(GENERIC_READ), DWORD(GENERIC_WRITE), DWORD(0)}) {
            SCOPED_TRACE(testing::Message() << name << " access " << std::hex << access);
            EXPECT_WIN32_FAILURE(Open(Win(name), access, kShareAll), INVALID_HANDLE_VALUE,
                                 ERROR_CANT_ACCESS_FILE);
        }
    }
}

TEST_F(SpecialFiles, CopyingFromOrOntoOneCopiesNothing) {
    for (const char* name : {"fifo", "socket", "zero"}) {
        SCOPED_TRACE(name);
        EXPECT_WIN32_FAILURE(CopyFileA(Win(name).c_str(), Win("copy.txt").c_str(), FALSE), FALSE,
                             ERROR_CANT_ACCESS_FILE);
        EXPECT_FALSE(tree_.Exists("copy.txt"));
        EXPECT_WIN32_FAILURE(CopyFileA(Win("plain.txt").c_str(), Win(name).c_str(), FALSE), FALSE,
                             ERROR_CANT_ACCESS_FILE);
    }
    struct stat info;
    ASSERT_EQ(lstat(Posix("fifo").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(tree_.ReadFile("plain.txt"), "plain");
}

TEST_F(SpecialFiles, DeletingOneRemovesTheNameAlone) {
    EXPECT_TRUE(DeleteFileA(Win("fifo").c_str()));
    EXPECT_TRUE(DeleteFileA(Win("zero").c_str()));
    EXPECT_FALSE(tree_.Exists("fifo"));
    struct stat info;
    EXPECT_EQ(lstat(Posix("zero").c_str(), &info), -1);
    EXPECT_EQ(stat("/dev/zero", &info), 0);
}

} // namespace
