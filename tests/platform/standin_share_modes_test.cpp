// Share modes between processes, and a running executable, on Linux.
#include <csignal>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

extern char** environ;

namespace {

// A child process that holds path open with the given access and share mode
// until it is let go.
class OtherProcessHolder {
  public:
    OtherProcessHolder(const std::string& path, DWORD access, DWORD share) {
        int ready[2];
        EXPECT_EQ(pipe(ready), 0);
        child_ = fork();
        if (child_ == 0) {
            char opened = Open(path, access, share) != INVALID_HANDLE_VALUE ? 'y' : 'n';
            (void)!write(ready[1], &opened, 1);
            pause();
            _exit(0);
        }
        char opened = 'n';
        EXPECT_EQ(read(ready[0], &opened, 1), 1);
        close(ready[0]);
        close(ready[1]);
        EXPECT_EQ(opened, 'y');
    }
    ~OtherProcessHolder() { LetGo(); }
    void LetGo() {
        if (child_ <= 0)
            return;
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
        child_ = -1;
    }

  private:
    pid_t child_ = -1;
};

TEST(ShareModesBetweenProcesses, AnExclusiveHolderElsewhereRefusesUs) {
    TempTree tree;
    tree.WriteFile("BV.EXE", "program");
    std::string path = tree.Path("BV.EXE"), copy = tree.Path("copy.exe");
    {
        OtherProcessHolder holder(path, GENERIC_READ, FILE_SHARE_READ);
        EXPECT_WIN32_FAILURE(Open(path, GENERIC_WRITE, 0), INVALID_HANDLE_VALUE,
                             ERROR_SHARING_VIOLATION);
        // Reading along is what it shares.
        EXPECT_TRUE(CopyFileA(path.c_str(), copy.c_str(), FALSE));
        EXPECT_WIN32_FAILURE(CopyFileA(copy.c_str(), path.c_str(), FALSE), FALSE,
                             ERROR_SHARING_VIOLATION);
        holder.LetGo();
        HANDLE writer = Open(path, GENERIC_WRITE, 0);
        EXPECT_NE(writer, INVALID_HANDLE_VALUE);
        CloseHandle(writer);
    }
    EXPECT_EQ(tree.ReadFile("BV.EXE"), "program");
}

TEST(RunningExecutable, OpeningItForWritingIsASharingViolation) {
    TempTree tree;
    std::string program = tree.Root() + "/BV.EXE";
    ASSERT_TRUE(CopyFileA("/bin/sleep", program.c_str(), FALSE));
    char* arguments[] = {const_cast<char*>(program.c_str()), const_cast<char*>("30"), nullptr};
    pid_t child;
    ASSERT_EQ(posix_spawn(&child, program.c_str(), nullptr, nullptr, arguments, environ), 0);
    // The kernel refuses writers once the program is mapped.
    for (int i = 0; i < 200; ++i) {
        HANDLE probe = Open(program, GENERIC_WRITE, 0);
        if (probe == INVALID_HANDLE_VALUE)
            break;
        CloseHandle(probe);
        usleep(10000);
    }
    EXPECT_WIN32_FAILURE(Open(program, GENERIC_WRITE, 0), INVALID_HANDLE_VALUE,
                         ERROR_SHARING_VIOLATION);
    EXPECT_WIN32_FAILURE(CopyFileA("/bin/true", program.c_str(), FALSE), FALSE,
                         ERROR_SHARING_VIOLATION);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

} // namespace
