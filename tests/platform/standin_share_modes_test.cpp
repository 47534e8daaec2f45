// Share modes between processes and users, a running executable, and a
// process in which file locks do not work, on Linux.
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "file_locks_off.h"
#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

extern char** environ;

namespace {

const uid_t kRoot = 0, kNobody = 65534;

bool BecomeUser(uid_t user) {
    return user == kRoot || (setresgid(user, user, user) == 0 && setresuid(user, user, user) == 0);
}

// A child process that holds path open with the given access and share mode
// until it is let go, running as user.
class OtherProcessHolder {
  public:
    OtherProcessHolder(const std::string& path, DWORD access, DWORD share, uid_t user = kRoot) {
        int ready[2];
        EXPECT_EQ(pipe(ready), 0);
        child_ = fork();
        if (child_ == 0) {
            if (!BecomeUser(user))
                _exit(1);
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

// Runs check in a child process and hands back the text it returns.
std::string InChild(const std::function<std::string()>& check) {
    int out[2];
    if (pipe(out) != 0)
        return "<no pipe>";
    pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        std::string report = check();
        for (std::size_t done = 0; done < report.size();) {
            ssize_t count = write(out[1], report.data() + done, report.size() - done);
            if (count <= 0)
                break;
            done += static_cast<std::size_t>(count);
        }
        _exit(0);
    }
    close(out[1]);
    std::string report;
    char buffer[256];
    for (ssize_t count; (count = read(out[0], buffer, sizeof(buffer))) > 0;)
        report.append(buffer, static_cast<std::size_t>(count));
    close(out[0]);
    waitpid(child, nullptr, 0);
    return report;
}

std::string Outcome(bool succeeded) {
    return succeeded ? "ok" : "error " + std::to_string(GetLastError());
}

std::string OpenOutcome(const std::string& path, DWORD access, DWORD share) {
    HANDLE file = Open(path, access, share);
    std::string outcome = Outcome(file != INVALID_HANDLE_VALUE);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return outcome;
}

// OpenOutcome in a child process running as user.
std::string OpenOutcomeAs(uid_t user, const std::string& path, DWORD access, DWORD share) {
    return InChild(
        [&] { return BecomeUser(user) ? OpenOutcome(path, access, share) : "<no such user>"; });
}

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

TEST(ShareModesBetweenProcesses, RacingExclusiveOpensAreNeverBothGranted) {
    TempTree tree;
    tree.WriteFile("f.txt", "data");
    std::string path = tree.Path("f.txt");
    struct Shared {
        volatile pid_t owner;
        volatile int overlaps;
        volatile int granted[2];
    };
    void* memory =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    Shared* shared = new (memory) Shared{};
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
        children[i] = fork();
        if (children[i] == 0) {
            for (int round = 0; round < 300; ++round) {
                HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, 0);
                if (file == INVALID_HANDLE_VALUE)
                    continue;
                ++shared->granted[i];
                if (shared->owner != 0)
                    ++shared->overlaps;
                shared->owner = getpid();
                sched_yield();
                if (shared->owner != getpid())
                    ++shared->overlaps;
                shared->owner = 0;
                CloseHandle(file);
            }
            _exit(0);
        }
    }
    for (pid_t child : children)
        waitpid(child, nullptr, 0);
    EXPECT_EQ(shared->overlaps, 0);
    EXPECT_GT(shared->granted[0], 0);
    EXPECT_GT(shared->granted[1], 0);
    munmap(memory, sizeof(Shared));
}

// Holds (delete access alone, sharing all three) beyond the process's
// descriptor limit: every one still keeps out another process's open that
// does not share deleting, answers for its file, and lets go when closed.
TEST(ShareModesBetweenProcesses, HoldsBeyondTheDescriptorLimitStillKeepOthersOut) {
    const DWORD kHold = DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
    const int kFiles = 2500;
    TempTree tree;
    for (int i = 0; i < kFiles; ++i)
        tree.WriteFile("f" + std::to_string(i), "data");
    const std::string report = InChild([&] {
        const struct rlimit limit = {1024, 1024};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return std::string("<no limit>");
        std::vector<HANDLE> holds;
        for (int i = 0; i < kFiles; ++i) {
            holds.push_back(Open(tree.Path("f" + std::to_string(i)), kHold, kShareAll));
            if (holds.back() == INVALID_HANDLE_VALUE)
                return "hold " + std::to_string(i) + ": " + Outcome(false);
        }
        std::string seen;
        for (int i : {0, 1200, kFiles - 1})
            seen += OpenOutcomeAs(kRoot, tree.Path("f" + std::to_string(i)), GENERIC_READ,
                                  FILE_SHARE_READ) +
                    ",";
        BY_HANDLE_FILE_INFORMATION information = {};
        seen += Outcome(GetFileInformationByHandle(holds[0], &information) &&
                        information.nFileSizeLow == 4) +
                ",";
        for (HANDLE hold : holds)
            CloseHandle(hold);
        // f0 came back to be asked; f1 was let go of where it was kept.
        seen += OpenOutcomeAs(kRoot, tree.Path("f0"), GENERIC_READ, FILE_SHARE_READ) + ",";
        seen += OpenOutcomeAs(kRoot, tree.Path("f1"), GENERIC_READ, FILE_SHARE_READ);
        return seen;
    });
    EXPECT_EQ(report, "error 32,error 32,error 32,ok,ok,ok");
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
    // Nor is it replaced by a rename.
    tree.WriteFile("new.exe", "new");
    EXPECT_WIN32_FAILURE(
        MoveFileExA(tree.Path("new.exe").c_str(), program.c_str(), MOVEFILE_REPLACE_EXISTING),
        FALSE, ERROR_ACCESS_DENIED);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

// A delete or a rename that meets a holder keeps no descriptor of the file.
TEST(ShareModes, RefusedDeleteAndRenameKeepNoDescriptor) {
    TempTree tree;
    tree.WriteFile("held", "x");
    HANDLE holder = Open(tree.Path("held"), GENERIC_READ, FILE_SHARE_READ);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const auto descriptors = [] {
        int count = 0;
        for (int fd = 0; fd < 1024; ++fd)
            count += fcntl(fd, F_GETFD) != -1;
        return count;
    };
    const int before = descriptors();
    const std::string held = tree.Path("held");
    EXPECT_WIN32_FAILURE(DeleteFileA(held.c_str()), FALSE, ERROR_SHARING_VIOLATION);
    EXPECT_WIN32_FAILURE(MoveFileExA(held.c_str(), tree.Path("moved").c_str(), 0), FALSE,
                         ERROR_SHARING_VIOLATION);
    EXPECT_EQ(descriptors(), before);
    CloseHandle(holder);
}

TEST(ShareModesBetweenUsers, AHolderOfAnotherUserIsSeenAlsoOnAReadOnlyFile) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run as two users";
    const DWORD kHold = DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
    struct Case {
        uid_t holder;
        mode_t mode;
        DWORD heldAccess, heldShare;
        uid_t opener;
        DWORD access, share;
        const char* outcome;
    } cases[] = {
        {kNobody, 0644, GENERIC_READ, FILE_SHARE_READ, kRoot, GENERIC_WRITE, kShareAll, "error 32"},
        {kRoot, 0644, GENERIC_WRITE, 0, kNobody, GENERIC_READ, kShareAll, "error 32"},
        {kNobody, 0444, GENERIC_READ, 0, kRoot, GENERIC_READ, kShareAll, "error 32"},
        {kNobody, 0444, GENERIC_READ, kShareAll, kRoot, GENERIC_READ, FILE_SHARE_READ, "ok"},
        // An update run's hold: delete access alone, sharing all three.
        {kRoot, 0644, kHold, kShareAll, kNobody, GENERIC_READ, FILE_SHARE_READ, "error 32"},
        {kRoot, 0444, kHold, kShareAll, kNobody, GENERIC_READ, FILE_SHARE_READ, "error 32"},
        {kRoot, 0644, kHold, kShareAll, kNobody, GENERIC_READ, kShareAll, "ok"},
        {kNobody, 0644, GENERIC_READ, FILE_SHARE_READ, kRoot, kHold, kShareAll, "error 32"},
    };
    TempTree tree;
    ASSERT_EQ(chmod(tree.Root().c_str(), 0755), 0);
    std::string path = tree.Path("BV.EXE");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "held by " << c.holder << " mode " << std::oct << c.mode
                                        << std::hex << " " << c.heldAccess << "/" << c.heldShare
                                        << ", opened by " << std::dec << c.opener);
        tree.WriteFile("BV.EXE", "program");
        ASSERT_EQ(chmod((tree.Root() + "/BV.EXE").c_str(), c.mode), 0);
        OtherProcessHolder holder(path, c.heldAccess, c.heldShare, c.holder);
        EXPECT_EQ(OpenOutcomeAs(c.opener, path, c.access, c.share), c.outcome);
        holder.LetGo();
        ASSERT_EQ(chmod((tree.Root() + "/BV.EXE").c_str(), 0644), 0);
    }
    EXPECT_EQ(tree.ReadFile("BV.EXE"), "program");
}

TEST(ShareModesWithoutFileLocks, EveryOpenThatNeedsThemIsRefusedAndNothingIsTouched) {
    TempTree tree;
    tree.WriteFile("BV.EXE", "program");
    tree.WriteFile("new.exe", "update");
    std::string product = tree.Path("BV.EXE"), update = tree.Path("new.exe"),
                sameFile = tree.Root() + "/same.exe";
    ASSERT_EQ(link((tree.Root() + "/BV.EXE").c_str(), sameFile.c_str()), 0);
    std::string report = InChild([&] {
        if (!TurnFileLocksOff())
            return std::string("<no seccomp>");
        return "probe " + OpenOutcome(product, GENERIC_WRITE, 0) + "\n" + "read " +
               OpenOutcome(product, GENERIC_READ, kShareAll) + "\n" + "copy " +
               Outcome(CopyFileA(update.c_str(), product.c_str(), FALSE)) + "\n" + "onto itself " +
               Outcome(CopyFileA(product.c_str(), sameFile.c_str(), FALSE)) + "\n" + "delete " +
               Outcome(DeleteFileA(update.c_str())) + "\n" + "no data " +
               OpenOutcome(product, 0, 0) + "\n";
    });
    if (report == "<no seccomp>")
        GTEST_SKIP() << "file locks cannot be turned off here";
    EXPECT_EQ(report, "probe error 5\nread error 5\ncopy error 5\nonto itself error 5\n"
                      "delete error 5\nno data ok\n");
    EXPECT_EQ(tree.ReadFile("BV.EXE"), "program");
    EXPECT_EQ(tree.ReadFile("new.exe"), "update");
}

TEST(CopyFileA, OntoItselfUnderAnotherNameIsRefusedUntouched) {
    TempTree tree;
    tree.WriteFile("a.txt", "data");
    ASSERT_EQ(link((tree.Root() + "/a.txt").c_str(), (tree.Root() + "/hard.txt").c_str()), 0);
    ASSERT_EQ(symlink("a.txt", (tree.Root() + "/soft.txt").c_str()), 0);
    for (const char* to : {"hard.txt", "soft.txt", "A.TXT"}) {
        EXPECT_WIN32_FAILURE(CopyFileA(tree.Path("a.txt").c_str(), tree.Path(to).c_str(), FALSE),
                             FALSE, ERROR_SHARING_VIOLATION);
        EXPECT_WIN32_FAILURE(CopyFileA(tree.Path(to).c_str(), tree.Path("a.txt").c_str(), FALSE),
                             FALSE, ERROR_SHARING_VIOLATION);
    }
    EXPECT_EQ(tree.ReadFile("a.txt"), "data");
}

TEST(CopyFileA, PermissionsTravelButNoSetIdBits) {
    TempTree tree;
    std::string source = tree.Root() + "/src", target = tree.Root() + "/dst";
    struct Case {
        mode_t source;
        mode_t existingTarget; // 0: none
        mode_t copied;
    } cases[] = {
        {04755, 0, 0755},   {02750, 0, 0750},   {0644, 06755, 0644},
        {0600, 0644, 0600}, {0666, 0644, 0644}, // write for others comes only from the target
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.source << " onto " << c.existingTarget);
        tree.WriteFile("src", "x");
        ASSERT_EQ(chmod(source.c_str(), c.source), 0);
        unlink(target.c_str());
        if (c.existingTarget != 0) {
            tree.WriteFile("dst", "old");
            ASSERT_EQ(chmod(target.c_str(), c.existingTarget), 0);
        }
        EXPECT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE));
        struct stat info;
        ASSERT_EQ(stat(target.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.copied);
        EXPECT_EQ(tree.ReadFile("dst"), "x");
    }
}

} // namespace

namespace {

const DWORD kLockFlags = FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE;

HANDLE OpenLock(const std::string& path) {
    return Open(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS, kLockFlags);
}

// A holder that ends without closing (as a killed one does) leaves its
// delete-on-close file behind, for its owner alone: no other user can open
// it to hold it, and the next opener takes it at once and removes it.
TEST(DeleteOnClose, LeftoverOfAKilledHolderBlocksNoOneAndServesNoOtherUser) {
    TempTree tree;
    ASSERT_EQ(chmod(tree.Root().c_str(), 0755), 0);
    const std::string path = tree.Path(".lock");
    const std::string posixPath = tree.Root() + "/.lock";
    pid_t child = fork();
    if (child == 0)
        _exit(OpenLock(path) != INVALID_HANDLE_VALUE ? 0 : 1);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat left = {};
    ASSERT_EQ(lstat(posixPath.c_str(), &left), 0);
    EXPECT_EQ(left.st_mode & 07777, 0600u);
    if (geteuid() == 0) {
        EXPECT_EQ(OpenOutcomeAs(kNobody, path, GENERIC_READ, kShareAll), "error 5");
    }
    SetLastError(kMarker);
    HANDLE lock = OpenLock(path);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(CloseHandle(lock));
    EXPECT_FALSE(tree.Exists(".lock"));
}

// Only the file that was opened is removed at close, not one that took its
// name meanwhile; a link planted at its name is not opened.
TEST(DeleteOnClose, RemovesOnlyTheFileItOpened) {
    TempTree tree;
    const std::string path = tree.Path(".lock");
    const std::string posixPath = tree.Root() + "/.lock";
    HANDLE lock = OpenLock(path);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    tree.WriteFile("other", "other");
    ASSERT_EQ(rename((tree.Root() + "/other").c_str(), posixPath.c_str()), 0);
    EXPECT_TRUE(CloseHandle(lock));
    EXPECT_EQ(tree.ReadFile(".lock"), "other");

    tree.WriteFile("target", "target");
    ASSERT_EQ(unlink(posixPath.c_str()), 0);
    ASSERT_EQ(symlink("target", posixPath.c_str()), 0);
    EXPECT_WIN32_FAILURE(OpenLock(path), INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
    EXPECT_EQ(tree.ReadFile("target"), "target");
}

} // namespace
