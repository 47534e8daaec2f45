// Runs as root over an installation that another user may write, while
// that user swaps a folder of it for a link to a folder of root's and back,
// as fast as he can: nothing outside the installation is ever renamed,
// replaced, removed or given away, and the installation ends whole.
#include <fcntl.h>
#include <sys/stat.h>

#include <map>

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

} // namespace
