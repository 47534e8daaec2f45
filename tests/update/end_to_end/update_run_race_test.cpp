// Runs as root over an installation that another user may write, while
// that user swaps a folder of it for a link to a folder of root's and back,
// as fast as he can: nothing outside the installation is ever renamed,
// replaced, removed or given away, and the installation ends whole.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <map>
#include <vector>

#include "platform/win32_api.h"
#include "update_run.h"

namespace {

const uid_t kOtherUser = 65534;

// What a folder holds: for each name, its bytes, mode and owner.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        struct stat info = {};
        lstat(entry.path().c_str(), &info);
        files[entry.path().filename().string()] =
            ReadAll(entry.path()) + "|" + std::to_string(info.st_mode) + "|" +
            std::to_string(info.st_uid) + ":" + std::to_string(info.st_gid);
    }
    return files;
}

// The other user, swapping `folder` for his link to `outside` and back
// until he is stopped; the folder is back in its place afterwards.
class FolderSwapper {
  public:
    FolderSwapper(const fs::path& folder, const fs::path& outside) : folder_(folder) {
        link_ = folder.string() + ".link";
        pid_ = fork();
        if (pid_ != 0)
            return;
        if (setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0 ||
            symlink(outside.c_str(), link_.c_str()) != 0)
            _exit(1);
        for (;;) {
            // One step each way where the file system swaps two names at
            // once; otherwise the folder goes aside and the link comes in.
            if (renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, link_.c_str(), RENAME_EXCHANGE) !=
                0) {
                const std::string aside = folder.string() + ".aside";
                if (rename(folder.c_str(), aside.c_str()) == 0) {
                    symlink(outside.c_str(), folder.c_str());
                    unlink(folder.c_str());
                    rename(aside.c_str(), folder.c_str());
                }
            }
        }
    }
    ~FolderSwapper() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        std::error_code ignored;
        if (fs::is_symlink(folder_)) {
            fs::remove(folder_);
            fs::rename(link_, folder_, ignored);
        }
        fs::rename(folder_.string() + ".aside", folder_, ignored);
        fs::remove(link_, ignored);
    }

  private:
    fs::path folder_;
    std::string link_;
    pid_t pid_ = -1;
};

TEST_F(UpdateRun, FolderSwappedForALinkMeanwhileLeadsNothingOutside) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run as root over another user's installation";
    const int kLines = 2000, kRounds = 4;
    std::string replaced = "Brenvolt-Update-Journal 00000001\r\n", added = replaced;
    for (int i = 0; i < kLines; ++i) {
        replaced += "R Data\\target.conf\r\n";
        added += "N Data\\secret\r\n";
    }
    const struct {
        const char* what;
        std::string journal; // planted before the run, if any
        bool backups;        // the user's files under the backup names
    } cases[] = {
        {"a planted journal that replaces files", replaced + "C\r\n", true},
        {"a planted journal that takes new files back", added + "C\r\n", false},
        {"the run's own commit", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
        const fs::path outside = root_ / "outside";
        WriteAll(outside / "target.conf", "root's own");
        WriteAll(outside / "secret", "root's secret");
        chmod((outside / "secret").c_str(), 0600);
        Installed();
        for (int i = 0; i < 50; ++i)
            WriteAll(package_ / "Data" / ("f" + std::to_string(i)), "new " + std::to_string(i));
        WriteAll(package_ / "Data" / "target.conf", "new conf");
        WriteAll(package_ / "Data" / "secret", "new secret");
        WriteAll(install_ / "Data" / "target.conf", "old conf");
        if (!c.journal.empty())
            WriteAll(install_ / ".Update.journal", c.journal);
        for (int i = 0; c.backups && i < kLines; ++i) {
            char name[40];
            std::snprintf(name, sizeof name, ".Update-00000001-%08X.old", i);
            WriteAll(install_ / "Data" / name, "the user's");
            chmod((install_ / "Data" / name).c_str(), 0666);
        }
        for (const auto& entry : fs::recursive_directory_iterator(install_))
            lchown(entry.path().c_str(), kOtherUser, kOtherUser);
        chown(install_.c_str(), kOtherUser, kOtherUser);
        const auto before = Snapshot(outside);

        // Refused steps are not waited for long: the waits are not the point.
        environment_ = "UPDATE_RETRY_STEP_MS=20";
        for (int round = 0; round < kRounds; ++round) {
            FolderSwapper swapper(install_ / "Data", outside);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            Run(false, {"/S"});
        }
        EXPECT_EQ(Snapshot(outside), before);
        // Left alone, the next run repairs what the swaps stopped and installs.
        EXPECT_EQ(Run(false, {"/S"}).exitCode, 0);
        EXPECT_EQ(Snapshot(outside), before);
        EXPECT_EQ(ReadAll(install_ / "Data" / "target.conf"), "new conf");
        EXPECT_EQ(ReadAll(install_ / "Data" / "secret"), "new secret");
        EXPECT_EQ(ReadAll(install_ / "Data" / "f7"), "new 7");
        EXPECT_EQ(TemporaryFiles(install_), "");
        struct stat conf = {};
        lstat((install_ / "Data" / "target.conf").c_str(), &conf);
        EXPECT_EQ(conf.st_uid, kOtherUser) << "the user's installation stays the user's";
    }
}

// The Update.exe started from cwd (a StartedRun's) once it has stopped
// itself (stop@N of UPDATE_STANDIN_RENAME_FAULTS); -1 when none stops
// within ten seconds.
pid_t StoppedRun(const fs::path& cwd) {
    for (int tries = 0; tries < 1000; ++tries) {
        DIR* processes = opendir("/proc");
        for (dirent* entry = processes ? readdir(processes) : nullptr; entry != nullptr;
             entry = readdir(processes)) {
            const std::string dir = std::string("/proc/") + entry->d_name;
            const std::string stat = ReadAll(dir + "/stat");
            std::error_code error;
            if (stat.find("(Update.exe) T") != std::string::npos &&
                fs::read_symlink(dir + "/cwd", error) == cwd) {
                const pid_t found = static_cast<pid_t>(std::stoi(entry->d_name));
                closedir(processes);
                return found;
            }
        }
        if (processes != nullptr)
            closedir(processes);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// The other user, opening every file below folder that he may read, for
// reading and without sharing deletion, as a reader on Windows does, and
// holding what he got until he is let go.
class Reader {
  public:
    explicit Reader(const fs::path& folder) {
        int ready[2];
        EXPECT_EQ(pipe(ready), 0);
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            if (setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0)
                _exit(1);
            std::vector<HANDLE> held;
            for (const auto& entry : fs::recursive_directory_iterator(folder)) {
                HANDLE file = CreateFileA(entry.path().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
                if (file != INVALID_HANDLE_VALUE)
                    held.push_back(file);
            }
            const unsigned char count = static_cast<unsigned char>(held.size());
            (void)!write(ready[1], &count, 1);
            pause();
            _exit(0);
        }
        close(ready[1]);
        EXPECT_EQ(read(ready[0], &opened_, 1), 1);
        close(ready[0]);
    }
    ~Reader() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    int Opened() const { return opened_; }

  private:
    pid_t pid_ = -1;
    unsigned char opened_ = 0;
};

// A run over an installation that another user may only read: once the
// commit has begun, at its first rename and at each later one, the user
// opens every file he can without sharing deletion and keeps it. Every file
// the run renames is its own from the probe on: the run ends whole and new,
// never mixed, and leaves none of its files behind. Root's run flushes the
// volume; the owner's own run (who may not open it) flushes file by file,
// each while it is held.
TEST_F(UpdateRun, AReaderArrivingAtAnyRenameOfTheCommitLeavesNoMix) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run as root beside another user";
    const int kReplaced = 4, kNew = 2, kRounds = 3;
    const char* const kFolders[] = {"", "Data"};
    const auto name = [&](int i) {
        return fs::path(kFolders[i % 2]) / ((i < kReplaced ? "r" : "n") + std::to_string(i));
    };
    // The commit renames each replaced file twice and each new one once.
    struct Case {
        int rename;
        bool byOwner; // the run is the installation owner's, the reader another's
    };
    std::vector<Case> cases;
    for (int rename = 1; rename <= 2 * kReplaced + kNew; ++rename)
        cases.push_back({rename, false});
    cases.push_back({1, true});
    cases.push_back({2 * kReplaced + kNew, true});
    const std::string owner = "setpriv --reuid=" + std::to_string(kOtherUser + 1) +
                              " --regid=" + std::to_string(kOtherUser + 1) + " --clear-groups ";
    for (const Case& c : cases) {
        for (int round = 0; round < kRounds; ++round) {
            SCOPED_TRACE(testing::Message() << "reader at rename " << c.rename << ", round "
                                            << round << (c.byOwner ? ", the owner's run" : ""));
            TearDown();
            SetUp();
            chmod(root_.c_str(), 0755);
            Installed();
            for (int i = 0; i < kReplaced + kNew; ++i) {
                WriteAll(package_ / name(i), "new " + std::to_string(i));
                if (i < kReplaced)
                    WriteAll(install_ / name(i), "old " + std::to_string(i));
            }
            if (c.byOwner) {
                for (const auto& entry : fs::recursive_directory_iterator(install_))
                    lchown(entry.path().c_str(), kOtherUser + 1, kOtherUser + 1);
                chown(install_.c_str(), kOtherUser + 1, kOtherUser + 1);
            }
            environment_ = "UPDATE_RETRY_STEP_MS=20 UPDATE_STANDIN_RENAME_FAULTS=stop@" +
                           std::to_string(c.rename);
            StartedRun run(Command(package_, (c.byOwner ? owner : "") + "timeout -s KILL 60") +
                               " /S",
                           root_ / "stderr.txt");
            const pid_t stopped = StoppedRun(root_ / "cwd");
            ASSERT_GT(stopped, 0);
            Reader reader(install_);
            // He gets the product and nothing the run will move.
            EXPECT_EQ(reader.Opened(), 1);
            kill(stopped, SIGCONT);
            const int exitCode = run.Finish();
            EXPECT_EQ(exitCode, 0) << run.MessageBox();
            int fresh = 0, old = 0;
            for (int i = 0; i < kReplaced + kNew; ++i) {
                const std::string now = ReadAll(install_ / name(i));
                fresh += now == "new " + std::to_string(i);
                old += now == (i < kReplaced ? "old " + std::to_string(i) : "");
            }
            EXPECT_TRUE(fresh == kReplaced + kNew || (exitCode == 82 && old == kReplaced + kNew))
                << fresh << " new, " << old << " old";
            EXPECT_EQ(TemporaryFiles(install_) + TemporaryFiles(install_ / "Data"), "");
        }
    }
}

// A run killed between BV.EXE's two renames leaves no handle behind: another
// user who then holds its work files, without sharing deletion, keeps the
// next runs from repairing it (31), and the box and the log name a file he
// holds; once he lets go, the next run repairs and installs.
TEST_F(UpdateRun, AHolderOfAStoppedRunsFilesDelaysItsRepairAndIsNamed) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run as root beside another user";
    chmod(root_.c_str(), 0755);
    Installed();
    WriteAll(install_ / "a.txt", "old a");
    WriteAll(package_ / "a.txt", "new a");
    WriteAll(package_ / "BV.EXE", "new product");
    // a.txt aside (1) and in (2), BV.EXE aside (3): killed before it is in.
    environment_ = "UPDATE_STANDIN_RENAME_FAULTS=kill@4";
    Run(false, {"/S"});
    ASSERT_FALSE(fs::exists(install_ / "BV.EXE"));
    const fs::path log = root_ / "u.log";
    {
        Reader reader(install_);
        environment_ = "UPDATE_RETRY_STEP_MS=20";
        EXPECT_EQ(Run(false, {"/S", "/LOG=" + log.string()}).exitCode, 31);
        const std::string held = "Nicht wiederhergestellt: " + install_.string() + "\\.Update-";
        EXPECT_NE(ReadAll(log).find(held), std::string::npos) << ReadAll(log);
        EXPECT_NE(ReadAll(log).find(".old (Fehler 32"), std::string::npos) << ReadAll(log);
        const std::string box = Run(false).messageBox;
        EXPECT_NE(box.find("wieder her.\n\n" + held), std::string::npos) << box;
        EXPECT_FALSE(fs::exists(install_ / "BV.EXE"));
    }
    EXPECT_EQ(Run(true).exitCode, 0);
    EXPECT_EQ(ReadAll(install_ / "BV.EXE"), "new product");
    EXPECT_EQ(ReadAll(install_ / "a.txt"), "new a");
    EXPECT_EQ(TemporaryFiles(install_), "");
}

// Where the process may not have a handle for each file it must hold (a
// user whose descriptor limit cannot be raised), the run fails before
// anything installed moves, unchanged, says so in the log, and leaves
// none of its files: whether the files it cannot hold are installed ones
// (held from their probe) or new ones (held from their staging).
TEST_F(UpdateRun, ARunThatCannotHoldEveryFileFailsUnchanged) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run as a user with a low descriptor limit";
    const struct {
        const char* what;
        int replaced, added;
    } cases[] = {{"installed files", 60, 0}, {"new files", 0, 60}};
    const uid_t user = kOtherUser + 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        chmod(root_.c_str(), 0755);
        Installed();
        for (int i = 0; i < c.replaced + c.added; ++i) {
            const fs::path name = fs::path(i % 2 ? "Data" : "") / ("f" + std::to_string(i));
            WriteAll(package_ / name, "new");
            if (i < c.replaced)
                WriteAll(install_ / name, "old");
        }
        fs::create_directories(root_ / "logs");
        for (const fs::path& mine : {install_, root_ / "logs"}) {
            chown(mine.c_str(), user, user);
            for (const auto& entry : fs::recursive_directory_iterator(mine))
                lchown(entry.path().c_str(), user, user);
        }
        const fs::path log = root_ / "logs" / "u.log";
        StartedRun run(
            Command(package_, "prlimit --nofile=64 setpriv --reuid=" + std::to_string(user) +
                                  " --regid=" + std::to_string(user) +
                                  " --clear-groups timeout -s KILL 60") +
                " /S /LOG=" + log.string(),
            root_ / "stderr.txt");
        EXPECT_EQ(run.Finish(), 82) << ReadAll(log);
        const std::string text = ReadAll(log);
        EXPECT_NE(text.find("Zu viele Dateien, um jede bis zum Ende des Updates zu halten"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find("Nicht wiederhergestellt"), std::string::npos) << text;
        int old = 0;
        for (const auto& entry : fs::recursive_directory_iterator(install_))
            old += entry.is_regular_file() && ReadAll(entry.path()) == "old";
        EXPECT_EQ(old, c.replaced);
        EXPECT_EQ(fs::exists(install_ / "Data"), c.replaced != 0) << "a folder the run made";
        EXPECT_EQ(TemporaryFiles(install_), "");
        if (c.replaced != 0) {
            EXPECT_EQ(TemporaryFiles(install_ / "Data"), "");
        }
    }
}

} // namespace
