// Share modes between processes, and a running executable, on Linux.
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"

extern char** environ;

namespace {

const DWORD kMarker = 0xdeadbeef;

// A child process that holds path open with the given access and share mode
// until it is told to let go.
class OtherProcessHolder {
  public:
    OtherProcessHolder(const std::string& path, DWORD access, DWORD share) {
        int ready[2], release[2];
        EXPECT_EQ(pipe(ready), 0);
        EXPECT_EQ(pipe(release), 0);
        child_ = fork();
        if (child_ == 0) {
            close(ready[0]);
            close(release[1]);
            HANDLE file =
                CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
            char opened = file != INVALID_HANDLE_VALUE ? 'y' : 'n';
            (void)!write(ready[1], &opened, 1);
            char ignored;
            (void)!read(release[0], &ignored, 1);
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        char opened = 'n';
        EXPECT_EQ(read(ready[0], &opened, 1), 1);
        close(ready[0]);
        EXPECT_EQ(opened, 'y');
    }
    ~OtherProcessHolder() { LetGo(); }
    void LetGo() {
        if (child_ <= 0)
            return;
        close(release_);
        waitpid(child_, nullptr, 0);
        child_ = -1;
    }

  private:
    pid_t child_ = -1;
    int release_ = -1;
};

TEST(ShareModesBetweenProcesses, AnExclusiveHolderElsewhereRefusesUs) {
    TempTree tree;
    tree.WriteFile("BV.EXE", "program");
    std::string path = tree.Path("BV.EXE");
    {
        OtherProcessHolder holder(path, GENERIC_READ, FILE_SHARE_READ);
        SetLastError(kMarker);
        EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        // Reading along is what it shares.
        HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(reader, INVALID_HANDLE_VALUE);
        CloseHandle(reader);
        SetLastError(kMarker);
        EXPECT_TRUE(CopyFileA(path.c_str(), tree.Path("copy.exe").c_str(), FALSE));
        EXPECT_FALSE(CopyFileA(tree.Path("copy.exe").c_str(), path.c_str(), FALSE));
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        holder.LetGo();
        HANDLE writer =
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(writer, INVALID_HANDLE_VALUE);
        CloseHandle(writer);
    }
    EXPECT_EQ(tree.ReadFile("BV.EXE"), "program");
}

TEST(ShareModesBetweenProcesses, OurExclusiveHandleRefusesAnotherProcess) {
    TempTree tree;
    tree.WriteFile("data.txt", "x");
    std::string path = tree.Path("data.txt");
    HANDLE mine = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(mine, INVALID_HANDLE_VALUE);
    pid_t child = fork();
    if (child == 0) {
        HANDLE theirs = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        _exit(theirs == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    CloseHandle(mine);
}

TEST(RunningExecutable, OpeningItForWritingIsASharingViolation) {
    TempTree tree;
    std::string program = tree.Root() + "/BV.EXE";
    ASSERT_TRUE(CopyFileA("/bin/sleep", program.c_str(), FALSE));
    char* arguments[] = {const_cast<char*>(program.c_str()), const_cast<char*>("30"), nullptr};
    pid_t child;
    ASSERT_EQ(posix_spawn(&child, program.c_str(), nullptr, nullptr, arguments, environ), 0);
    // The kernel refuses writers once the program is mapped.
    bool busy = false;
    for (int i = 0; i < 200 && !busy; ++i) {
        HANDLE probe = CreateFileA(tree.Path("BV.EXE").c_str(), GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        busy = probe == INVALID_HANDLE_VALUE;
        if (!busy) {
            CloseHandle(probe);
            usleep(10000);
        }
    }
    SetLastError(kMarker);
    EXPECT_EQ(CreateFileA(tree.Path("BV.EXE").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    SetLastError(kMarker);
    EXPECT_FALSE(CopyFileA("/bin/true", tree.Path("BV.EXE").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

} // namespace
