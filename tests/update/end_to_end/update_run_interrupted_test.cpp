// Runs of Update.exe that are interrupted, fail on the way or overlap: an
// installed file is never left part old, part new.
#include <poll.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <memory>

#include "update_run.h"

namespace {

// A small tmpfs, unmounted when the test ends.
class SmallVolume {
  public:
    SmallVolume(const fs::path& mountPoint, const char* size) : path_(mountPoint) {
        fs::create_directories(path_);
        const std::string options = std::string("size=") + size;
        mounted_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        error_ = mounted_ ? 0 : errno;
    }
    ~SmallVolume() {
        if (mounted_)
            umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    std::string Error() const { return std::strerror(error_); }

  private:
    fs::path path_;
    bool mounted_;
    int error_;
};

// Soft limits for the programs started while it lives: files may not grow
// beyond maxFileSize (a program writing past it is ended by SIGXFSZ at
// that very byte), and no core file is written.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t maxFileSize) {
        getrlimit(RLIMIT_FSIZE, &savedSize_);
        getrlimit(RLIMIT_CORE, &savedCore_);
        struct rlimit size = savedSize_, core = savedCore_;
        size.rlim_cur = maxFileSize;
        core.rlim_cur = 0;
        setrlimit(RLIMIT_FSIZE, &size);
        setrlimit(RLIMIT_CORE, &core);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &savedSize_);
        setrlimit(RLIMIT_CORE, &savedCore_);
    }

  private:
    struct rlimit savedSize_, savedCore_;
};

TEST_F(UpdateRun, RunKilledInTheMiddleOfAFileLeavesItOldAndTheNextRunCompletes) {
    Installed();
    const std::string oldData = Filled(1 << 20, 'o'), newData = Filled(4 << 20, 'n');
    WriteAll(install_ / "big.dat", oldData);
    WriteAll(package_ / "big.dat", newData);
    WriteAll(package_ / "small.txt", "small");
    {
        // Killed when the copy of big.dat reaches 2 MB.
        FileSizeLimit limit(2 << 20);
        const RunResult killed = Run(false);
        EXPECT_NE(killed.exitCode, 0);
        EXPECT_EQ(killed.messageBox.find("Es wurden"), std::string::npos) << killed.messageBox;
    }
    EXPECT_TRUE(ReadAll(install_ / "big.dat") == oldData) << "big.dat is not the old file";
    EXPECT_NE(TemporaryFiles(install_), "") << "the run was not stopped inside the copy";
    // Its lock file stays, for its owner alone, and holds no one up: the
    // next run (ended after a minute if it hung) takes it and removes it.
    struct stat lock = {};
    ASSERT_EQ(lstat((install_ / ".Update.lock").c_str(), &lock), 0);
    EXPECT_EQ(lock.st_mode & 07777, 0600u);

    const RunResult next = Run(true);
    EXPECT_EQ(next.messageBox, kDone2);
    EXPECT_TRUE(ReadAll(install_ / "big.dat") == newData) << "big.dat is not the new file";
    EXPECT_EQ(ReadAll(install_ / "small.txt"), "small");
    EXPECT_EQ(TemporaryFiles(install_), "");
    EXPECT_FALSE(fs::exists(install_ / ".Update.lock"));
}

TEST_F(UpdateRun, NameWithABackslashIsNotCopiedAndNothingOutsideIsWritten) {
    // Read as a path, the name would lead from package/x to the root's
    // secret.txt, and from deep/install/x to deep/secret.txt.
    install_ = root_ / "deep" / "install";
    Installed();
    WriteAll(root_ / "secret.txt", "outside both");
    fs::create_directories(package_ / "x");
    WriteAll(package_ / "x\\..\\..\\secret.txt", "inside the package");
    WriteAll(package_ / "ok.txt", "ok");
    WriteAll(install_ / "ok.txt", "old ok");
    const RunResult run = Run(false);
    EXPECT_EQ(run.messageBox, NotInstalled(1));
    EXPECT_FALSE(fs::exists(root_ / "deep" / "secret.txt"));
    EXPECT_EQ(ReadAll(root_ / "secret.txt"), "outside both");
    EXPECT_FALSE(fs::exists(install_ / "x\\..\\..\\secret.txt"));
    EXPECT_FALSE(fs::exists(install_ / "x")) << "made by the run, and removed";
    EXPECT_EQ(ReadAll(install_ / "ok.txt"), "old ok");
    EXPECT_EQ(TemporaryFiles(install_), "");
}

TEST_F(UpdateRun, LinkIntoTheInstallationIsNotCopiedIntoItself) {
    Installed();
    WriteAll(install_ / "Data" / "map.dat", "old map");
    WriteAll(package_ / "Data" / "map.dat", "new map");
    fs::create_directory_symlink(install_ / "Data", package_ / "Data" / "l");
    fs::create_directory_symlink(install_, package_ / "up");
    const RunResult run = Run(false);
    EXPECT_EQ(run.messageBox, NotInstalled(0, 2));
    EXPECT_EQ(ReadAll(install_ / "Data" / "map.dat"), "old map");
    EXPECT_FALSE(fs::exists(install_ / "Data" / "l"));
    EXPECT_FALSE(fs::exists(install_ / "up"));
}

TEST_F(UpdateRun, DirectoryThatCannotBeMadeCounts) {
    Installed();
    fs::create_directories(package_ / "Empty");
    WriteAll(install_ / "Empty", "a file in the way");
    WriteAll(package_ / "ok.txt", "ok");
    const RunResult run = Run(false);
    EXPECT_EQ(run.messageBox, NotInstalled(0, 1));
    EXPECT_EQ(ReadAll(install_ / "Empty"), "a file in the way");
    EXPECT_FALSE(fs::exists(install_ / "ok.txt"));
}

} // namespace

// --- one update at a time on an installation

namespace {

const char kLockName[] = ".Update.lock";

// Waits until a temporary file of the copy is made in directory (or a
// minute has passed); true when one was.
bool AwaitTemporaryFile(const fs::path& directory, StartedRun& run) {
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0)
        return false;
    inotify_add_watch(watch, directory.c_str(), IN_CREATE);
    bool seen = false;
    for (int i = 0; i < 60000 && !seen && !run.Ended(); ++i) {
        struct pollfd ready = {watch, POLLIN, 0};
        if (poll(&ready, 1, 1) <= 0)
            continue;
        alignas(struct inotify_event) char buffer[4096];
        const ssize_t length = read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
            if (event->len > 0 && std::strncmp(event->name, ".Update-", 8) == 0)
                seen = true;
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
    }
    close(watch);
    return seen;
}

TEST_F(UpdateRun, TwoOverlappingRunsLeaveTheInstallationAsTheSecondPackageHasIt) {
    Installed();
    WriteAll(install_ / "a.dat", "old a");
    WriteAll(install_ / "z.dat", "old z");
    const std::string firstBig = Filled(64 << 20, 'f');
    WriteAll(package_ / "a.dat", "first a");
    WriteAll(package_ / "big.dat", firstBig);
    WriteAll(package_ / "z.dat", "first z");
    const fs::path second = root_ / "second";
    fs::create_directories(second);
    fs::copy_file(UPDATE_EXE_PATH, second / "Update.exe");
    WriteAll(second / "a.dat", "second a");
    WriteAll(second / "big.dat", "second big");
    WriteAll(second / "z.dat", "second z");

    // The first run is stopped inside the copy of a file; should it get
    // through the big file before it is stopped, it is tried once more.
    std::unique_ptr<StartedRun> first;
    bool stopped = false;
    for (int attempt = 0; attempt < 5 && !stopped; ++attempt) {
        first = std::make_unique<StartedRun>(Command(package_, "exec"), root_ / "first.txt");
        if (AwaitTemporaryFile(install_, *first) && kill(first->Pid(), SIGSTOP) == 0) {
            int status = 0;
            stopped = waitpid(first->Pid(), &status, WUNTRACED) == first->Pid() &&
                      WIFSTOPPED(status) && TemporaryFiles(install_) != "";
        }
        if (!stopped)
            first.reset();
    }
    ASSERT_TRUE(stopped) << "the first run was never caught inside its copy";
    ASSERT_TRUE(fs::exists(install_ / kLockName));

    StartedRun secondRun(Command(second, "exec"), root_ / "second.txt");
    // The second waits: nothing of its package arrives, and it does not end.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_FALSE(secondRun.Ended());
    EXPECT_EQ(secondRun.MessageBox(), "");
    for (const char* name : {"a.dat", "big.dat", "z.dat"}) {
        EXPECT_EQ(ReadAll(install_ / name).rfind("second", 0), std::string::npos) << name;
    }

    kill(first->Pid(), SIGCONT);
    const std::string done3 =
        "Info: Es wurden 3 Dateien kopiert.\nDas Update wurde korrekt installiert.\n";
    EXPECT_EQ(first->Finish(), 0);
    // Stopped for more than a second, it showed its progress window.
    EXPECT_EQ(AfterProgressLine(first->MessageBox()), done3);
    EXPECT_EQ(secondRun.Finish(), 0);
    EXPECT_EQ(secondRun.MessageBox(), done3);
    EXPECT_EQ(ReadAll(install_ / "a.dat"), "second a");
    EXPECT_EQ(ReadAll(install_ / "big.dat"), "second big");
    EXPECT_EQ(ReadAll(install_ / "z.dat"), "second z");
    EXPECT_EQ(TemporaryFiles(install_), "");
    EXPECT_FALSE(fs::exists(install_ / kLockName));
}

TEST_F(UpdateRun, LockThatCannotBeTakenLetsTheCopyReportItself) {
    // A name that is a directory cannot be opened as the lock; the run goes
    // on without it and its copy tells the truth.
    Installed();
    fs::create_directories(install_ / kLockName);
    WriteAll(package_ / "a.txt", "a");
    WriteAll(package_ / "faq.txt", "notes");
    EXPECT_EQ(Run(true).messageBox, kDone2);
    EXPECT_EQ(ReadAll(install_ / "a.txt"), "a");
    EXPECT_TRUE(fs::is_directory(install_ / kLockName));
}

} // namespace

// --- room on the installation's volume

namespace {

// The bytes free to an unprivileged user on the volume of path.
std::uint64_t FreeBytes(const fs::path& path) {
    struct statvfs volume = {};
    EXPECT_EQ(statvfs(path.c_str(), &volume), 0);
    return static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize;
}

TEST_F(UpdateRun, PackageLargerThanTheVolumeIsRefusedBeforeAnythingIsWritten) {
    const fs::path volume = root_ / "volume";
    SmallVolume small(volume, "1m");
    if (!small.Mounted())
        GTEST_SKIP() << "cannot mount a 1 MB tmpfs here (" << small.Error()
                     << "); the space check needs root with CAP_SYS_ADMIN";
    install_ = volume / "install";
    Installed();
    WriteAll(package_ / "BV.EXE", "new product");
    WriteAll(package_ / "big.dat", Filled(2 << 20, 'b'));
    const fs::path log = root_ / "run.log";
    // 2 MB and a cluster each for BV.EXE and the journal: 3 MB, rounded up.
    const char box[] = "Error: Auf dem Laufwerk ist nicht genug Platz f\xC3\xBCr das Update: 3 MB "
                       "werden gebraucht, 0 MB sind frei.\n\nDas Update wurde nicht installiert, "
                       "die Installation ist unver\xC3\xA4ndert.\n";
    for (const bool silent : {true, false}) {
        const std::uint64_t free = FreeBytes(volume);
        StartedRun run(Command(package_, "exec") +
                           (silent ? " /S " + Quoted("/LOG=" + log.string()) : ""),
                       root_ / "stderr.txt");
        EXPECT_FALSE(AwaitTemporaryFile(install_, run)) << "a file was staged";
        EXPECT_EQ(run.Finish(), silent ? 112 : 0);
        EXPECT_EQ(run.MessageBox(), silent ? "" : box);
        EXPECT_EQ(FreeBytes(volume), free);
        EXPECT_EQ(ReadAll(install_ / "BV.EXE"), "product");
    }
    EXPECT_NE(ReadAll(log).find("Nicht genug Platz auf dem Laufwerk von " + install_.string() +
                                ": 3 MB gebraucht, 0 MB frei"),
              std::string::npos)
        << ReadAll(log);
    // A package that fits goes in there.
    WriteAll(package_ / "big.dat", Filled(512 << 10, 's'));
    EXPECT_EQ(Run(false, {"/S"}).exitCode, 0);
    EXPECT_EQ(ReadAll(install_ / "BV.EXE"), "new product");
    // Only what is installed counts: a file of 2 MB that the manifest does
    // not list, and that is left out, does not.
    fs::remove(package_ / "big.dat");
    const std::string make =
        std::string(UPDATE_MANIFEST_TOOL) + " make " + Quoted(package_.string()) + " 2>/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    WriteAll(package_ / "Thumbs.db", Filled(2 << 20, 't'));
    EXPECT_EQ(Run(false, {"/S"}).exitCode, 0);
    EXPECT_FALSE(fs::exists(install_ / "Thumbs.db"));
    // Each file takes whole clusters: many small files that would fit by
    // their bytes do not.
    fs::remove(package_ / "Thumbs.db");
    fs::remove(package_ / ".Update.sha256");
    for (int i = 0; i < 300; ++i)
        WriteAll(package_ / "Many" / ("f" + std::to_string(i)), Filled(100, 'm'));
    EXPECT_EQ(Run(false, {"/S"}).exitCode, 112);
}

TEST_F(UpdateRun, VolumeThatFillsDuringTheRunLeavesEveryFileOld) {
    const fs::path volume = root_ / "volume";
    SmallVolume small(volume, "1m");
    if (!small.Mounted())
        GTEST_SKIP() << "cannot mount a 1 MB tmpfs here (" << small.Error()
                     << "); the full-volume case needs root with CAP_SYS_ADMIN";
    install_ = volume / "install";
    Registry(install_.string());
    const std::string oldProduct = Filled(300 * 1024, 'o'), oldData = Filled(200 * 1024, 'p');
    WriteAll(install_ / "BV.EXE", oldProduct);
    WriteAll(install_ / "a.dat", oldData);
    WriteAll(package_ / "BV.EXE", Filled(100 * 1024, 'n'));
    WriteAll(package_ / "a.dat", "new a");
    WriteAll(package_ / "b.dat", "new b");
    // The package fits when the run checks; another program fills the
    // volume once the first file is being staged (each file pauses the run),
    // and the files still to be written fail: mostly the two after it, but
    // the filler may come before the first is whole or after the second.
    environment_ = "UPDATE_STANDIN_COPY_DELAY_MS=300";
    StartedRun run(Command(package_, "exec"), root_ / "stderr.txt");
    ASSERT_TRUE(AwaitTemporaryFile(install_, run));
    std::ofstream(volume / "filler", std::ios::binary) << Filled(1 << 20, 'f');
    EXPECT_EQ(run.Finish(), 0);
    const std::string box = AfterProgressLine(run.MessageBox());
    EXPECT_TRUE(box == NotInstalled(1) || box == NotInstalled(2) || box == NotInstalled(3)) << box;
    EXPECT_TRUE(ReadAll(install_ / "BV.EXE") == oldProduct) << "BV.EXE is not the old file";
    EXPECT_TRUE(ReadAll(install_ / "a.dat") == oldData) << "a.dat is not the old file";
    EXPECT_FALSE(fs::exists(install_ / "b.dat"));
    EXPECT_EQ(TemporaryFiles(install_), "");
}

} // namespace
