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

// A child process that opens path with the given access and share mode and
// holds it until it is told to let go.
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
            HANDLE file = Open(path, access, share);
            char result = file != INVALID_HANDLE_VALUE                ? 'y'
                          : GetLastError() == ERROR_SHARING_VIOLATION ? 's'
                                                                      : 'n';
            (void)!write(ready[1], &result, 1);
            char ignored;
            (void)!read(release[0], &ignored, 1);
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        EXPECT_EQ(read(ready[0], &result_, 1), 1);
        close(ready[0]);
    }
    ~OtherProcessHolder() { LetGo(); }
    // 'y' opened, 's' refused for sharing, 'n' refused otherwise.
    char Result() const { return result_; }
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
    char result_ = '?';
};

TEST(ShareModesBetweenProcesses, AnExclusiveHolderElsewhereRefusesUs) {
    TempTree tree;
    tree.WriteFile("BV.EXE", "program");
    std::string path = tree.Path("BV.EXE"), copy = tree.Path("copy.exe");
    {
        OtherProcessHolder holder(path, GENERIC_READ, FILE_SHARE_READ);
        ASSERT_EQ(holder.Result(), 'y');
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

TEST(ShareModesBetweenProcesses, OurExclusiveHandleRefusesAnotherProcess) {
    TempTree tree;
    tree.WriteFile("data.txt", "x");
    HANDLE mine = Open(tree.Path("data.txt"), GENERIC_WRITE, 0);
    ASSERT_NE(mine, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OtherProcessHolder(tree.Path("data.txt"), GENERIC_READ, kShareAll).Result(), 's');
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
