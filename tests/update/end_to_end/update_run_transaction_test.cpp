// Runs of Update.exe that fail or are killed on the way: the installation
// ends whole old or whole new, and nothing of the run's own is left.
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <functional>

#include "platform/win32_api.h"
#include "update_run.h"

namespace {

class TransactionRun : public UpdateRun {
  protected:
    // count files "fNNN.dat" in `folders` folders, old in the installation
    // and new in the package.
    void OldAndNewFiles(int count, int folders) {
        Installed();
        for (int i = 0; i < count; ++i) {
            WriteAll(install_ / Folder(i, folders) / Name(i), "old " + Name(i));
            WriteAll(package_ / Folder(i, folders) / Name(i), "new " + Name(i));
        }
    }
    void ExpectOld(int count, int folders) {
        int wrong = 0;
        for (int i = 0; i < count; ++i)
            wrong += ReadAll(install_ / Folder(i, folders) / Name(i)) != "old " + Name(i);
        EXPECT_EQ(wrong, 0) << "files that are not the old ones";
        for (int f = 0; f < folders; ++f)
            EXPECT_EQ(TemporaryFiles(install_ / Folder(f, folders)), "");
        EXPECT_EQ(TemporaryFiles(install_), "");
    }
    static std::string Name(int i) { return "f" + std::to_string(1000 + i).substr(1) + ".dat"; }
    static std::string Folder(int i, int folders) {
        return folders == 0 ? "." : "Dir" + std::to_string(i % folders);
    }
};

TEST_F(TransactionRun, TargetHeldOpenAmongManyFilesLeavesEveryFileOld) {
    OldAndNewFiles(300, 3);
    WriteAll(package_ / "New" / "n.txt", "new folder");
    // Held by this process through the stand-in, sharing reading.
    HANDLE held = CreateFileA((install_ / "Dir1" / Name(100)).c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const fs::path log = root_ / "u.log";
    const RunResult run = Run(false, {"/LOG=" + log.string()});
    CloseHandle(held);
    // It waits a while for the holder to let go, with its window up, and
    // says so.
    EXPECT_EQ(AfterProgressLine(run.messageBox), NotInstalled(1));
    EXPECT_NE(ReadAll(log).find("Von einem anderen Programm belegt, nach 2000 ms aufgegeben: " +
                                install_.string() + "\\Dir1\\" + Name(100) + " (Fehler 32"),
              std::string::npos)
        << ReadAll(log);
    ExpectOld(300, 3);
    EXPECT_FALSE(fs::exists(install_ / "New"));
}

// Waits (a minute at most) until a name with the given end appears in
// directory, made or renamed there, and stops the run at once.
bool StopAtName(StartedRun& run, const fs::path& directory, const std::string& end) {
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0 || inotify_add_watch(watch, directory.c_str(), IN_CREATE | IN_MOVED_TO) < 0)
        return false;
    bool seen = false;
    for (int i = 0; i < 60000 && !seen && !run.Ended(); ++i) {
        struct pollfd ready = {watch, POLLIN, 0};
        if (poll(&ready, 1, 1) <= 0)
            continue;
        alignas(struct inotify_event) char buffer[8192];
        const ssize_t length = read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
            const std::string name = event->len > 0 ? event->name : "";
            seen = seen || (name.size() >= end.size() &&
                            name.compare(name.size() - end.size(), end.size(), end) == 0);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
    }
    close(watch);
    int status = 0;
    return seen && kill(run.Pid(), SIGSTOP) == 0 &&
           waitpid(run.Pid(), &status, WUNTRACED) == run.Pid() && WIFSTOPPED(status);
}

// A run killed while it stages or while it puts its files in place; the
// next run, of another package, undoes it first.
TEST_F(TransactionRun, KilledRunIsUndoneByTheNextRunOfAnotherPackage) {
    const struct {
        const char* phase;
        const char* directory; // watched, under the installation
        const char* end;       // of the name that shows the phase
    } cases[] = {
        {"staging", "New", "Deeper"}, // a directory made, files staged
        {"commit", ".", ".old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.phase);
        std::unique_ptr<StartedRun> killed;
        bool caught = false;
        for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
            killed.reset();
            TearDown();
            SetUp();
            OldAndNewFiles(1000, 0);
            fs::create_directories(install_ / "New");
            WriteAll(package_ / "New" / "Deeper" / "big.dat", Filled(64 << 20, 'b'));
            killed = std::make_unique<StartedRun>(Command(package_, "exec"), root_ / "first.txt");
            caught = StopAtName(*killed, install_ / c.directory, c.end) &&
                     fs::exists(install_ / ".Update.journal");
        }
        ASSERT_TRUE(caught) << "the run was never caught in its " << c.phase;
        const fs::path other = root_ / "other";
        fs::create_directories(other);
        fs::copy_file(UPDATE_EXE_PATH, other / "Update.exe");
        WriteAll(other / "own.txt", "its own");
        kill(killed->Pid(), SIGKILL);
        killed.reset();

        StartedRun next(Command(other, "exec"), root_ / "next.txt");
        EXPECT_EQ(next.Finish(), 0);
        EXPECT_EQ(next.MessageBox(),
                  "Info: Es wurden 1 Dateien kopiert.\nDas Update wurde korrekt installiert.\n");
        ExpectOld(1000, 0);
        EXPECT_EQ(ReadAll(install_ / "own.txt"), "its own");
        EXPECT_FALSE(fs::exists(install_ / "New" / "Deeper")) << "made by the killed run";
        EXPECT_EQ(TemporaryFiles(install_ / "New"), "");
    }
}

// A journal that names paths outside the installation, or leads there
// through a link, moves and removes nothing there; its sound lines are
// still undone, and the run then does its own work.
TEST_F(TransactionRun, JournalNamingPathsOutsideTheInstallationTouchesNothingThere) {
    Installed();
    const fs::path outside = root_ / "outside";
    WriteAll(outside / "victim.txt", "victim");
    WriteAll(outside / ".Update-00000001-00000000.old", "outside backup");
    WriteAll(outside / ".Update-00000001-00000001.tmp", "outside staged");
    // What the third file line would name, were it taken.
    WriteAll(outside / ".Update-00000001-00000002.old", "outside backup 2");
    fs::create_directory_symlink(outside, install_ / "link");
    WriteAll(install_ / "a.txt", "half-new a");
    WriteAll(install_ / ".Update-00000001-00000001.old", "old a");
    WriteAll(install_ / ".Update.journal",
             "Brenvolt-Update-Journal 00000001\r\n"
             "R link\\victim.txt\r\n" // file 0, through the link
             "R a.txt\r\n"            // file 1: sound
             "R ..\\outside\\victim.txt\r\n"
             "N C:\\Windows\\win.ini\r\n"
             "R sub/../../outside/victim.txt\r\n"
             "D ..\r\n"
             "D link\r\n"
             "C\r\n");
    WriteAll(package_ / "b.txt", "b");
    const RunResult run = Run(false);
    EXPECT_EQ(run.messageBox,
              "Info: Es wurden 1 Dateien kopiert.\nDas Update wurde korrekt installiert.\n");
    EXPECT_EQ(ReadAll(outside / "victim.txt"), "victim");
    EXPECT_EQ(ReadAll(outside / ".Update-00000001-00000000.old"), "outside backup");
    EXPECT_EQ(ReadAll(outside / ".Update-00000001-00000001.tmp"), "outside staged");
    EXPECT_EQ(ReadAll(outside / ".Update-00000001-00000002.old"), "outside backup 2");
    EXPECT_TRUE(fs::is_symlink(install_ / "link"));
    EXPECT_EQ(ReadAll(install_ / "a.txt"), "old a");
    EXPECT_EQ(ReadAll(install_ / "b.txt"), "b");
    EXPECT_EQ(TemporaryFiles(install_), "");
}

// What a run finds of a stopped one decides: undone before its mark that
// every file was in, finished after it; a file of that name that is no
// journal is removed and nothing else is touched.
TEST_F(TransactionRun, JournalIsUndoneOrFinishedByItsMark) {
    const struct {
        const char* journal;
        const char* installed; // a.txt afterwards
        bool backupLeft;
    } cases[] = {
        {"Brenvolt-Update-Journal 0000ABCD\r\nR a.txt\r\nC\r\n", "old a", false},
        {"Brenvolt-Update-Journal 0000ABCD\r\nR a.txt\r\nC\r\nK\r\n", "new a", false},
        {"R a.txt\r\nC\r\n", "new a", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.journal);
        TearDown();
        SetUp();
        Installed();
        WriteAll(install_ / "a.txt", "new a");
        WriteAll(install_ / ".Update-0000ABCD-00000000.old", "old a");
        WriteAll(install_ / ".Update.journal", c.journal);
        WriteAll(package_ / "b.txt", "b");
        EXPECT_EQ(Run(false).messageBox,
                  "Info: Es wurden 1 Dateien kopiert.\nDas Update wurde korrekt installiert.\n");
        EXPECT_EQ(ReadAll(install_ / "a.txt"), c.installed);
        EXPECT_EQ(TemporaryFiles(install_), c.backupLeft ? ".Update-0000ABCD-00000000.old " : "");
    }
}

} // namespace

// A run killed at each rename of its commit, and of the undo of a commit
// that failed, is repaired by the next run, which then installs. The
// renames, in the order of the package: A.txt aside (1) and in (2),
// BV.EXE aside (3) and in (4), n.txt in (5), Sub\s.txt in (6). When the
// fifth fails for good (put off, then waited for), the undo moves the new
// A.txt aside (7) and the old one back (8), then BV.EXE likewise (9, 10):
// killed at 8 or 10, the installed name is missing. The installed A.txt
// keeps the case of its name, whichever way it comes back.
TEST_F(TransactionRun, KilledAtEachRenameTheNextRunRepairsAndInstalls) {
    const char* const faults[] = {"kill@1", "kill@2", "kill@3",        "kill@4",        "kill@5",
                                  "kill@6", "fail@5", "fail@5,kill@8", "fail@5,kill@10"};
    for (const char* fault : faults) {
        SCOPED_TRACE(fault);
        TearDown();
        SetUp();
        Installed();
        WriteAll(install_ / "A.txt", "old a");
        WriteAll(install_ / "D1.dat", "old d");
        for (const char* name : {"BV.EXE", "a.txt", "n.txt", "Sub/s.txt"})
            WriteAll(package_ / name, std::string("new ") + name);
        environment_ = std::string("UPDATE_STANDIN_RENAME_FAULTS=") + fault;
        const RunResult stopped = Run(false);
        EXPECT_EQ(stopped.messageBox.find("Es wurden"), std::string::npos);
        const bool anyNew =
            ReadAll(install_ / "A.txt") != "old a" || fs::exists(install_ / "n.txt");
        EXPECT_TRUE(!anyNew || fs::exists(install_ / ".Update.journal"))
            << "a mix is only ever left with the journal that undoes it";
        environment_.clear();
        const RunResult next = Run(true);
        EXPECT_EQ(next.messageBox,
                  "Info: Es wurden 4 Dateien kopiert.\nDas Update wurde korrekt installiert.\n");
        for (const char* name : {"BV.EXE", "n.txt", "Sub/s.txt"})
            EXPECT_EQ(ReadAll(install_ / name), std::string("new ") + name);
        EXPECT_EQ(ReadAll(install_ / "A.txt"), "new a.txt");
        EXPECT_FALSE(fs::exists(install_ / "a.txt"));
        EXPECT_EQ(ReadAll(install_ / "D1.dat"), "old d");
        EXPECT_EQ(TemporaryFiles(install_), "");
        EXPECT_EQ(TemporaryFiles(install_ / "Sub"), "");
    }
}

// Whatever has the journal's name and is no journal a run wrote (left by
// a power cut that lost its last writes, or another kind of file) is
// removed, and the run does its work: it must not fail every later run.
// What such a journal may have left goes: every staged file, wherever it
// is; a backup it does not name stays (it may be the only copy of a file)
// and is logged. Only a journal read as one puts the old file back.
TEST_F(TransactionRun, JournalNameOfAnotherKindIsRemoved) {
    const auto text = [](const char* contents) {
        return [contents](const fs::path& journal) { WriteAll(journal, contents); };
    };
    const struct {
        const char* what;
        std::function<void(const fs::path&)> make;
        bool read;
        const char* kept = ""; // what a folder of that name held, kept under another name
    } cases[] = {
        {"empty after a power cut", text(""), false},
        {"cut inside its first line", text("Brenvolt-Upd"), false},
        {"a first line of no run", text("Brenvolt-Update-Journal 0000AB\r\nN Sub\\x\r\n"), false},
        {"a FIFO", [](const fs::path& journal) { mkfifo(journal.c_str(), 0644); }, false},
        {"a folder", [](const fs::path& journal) { fs::create_directory(journal); }, false},
        {"a folder that holds a file",
         [](const fs::path& journal) { WriteAll(journal / "keep.txt", "someone's"); }, false,
         "someone's"},
        {"a dangling link",
         [](const fs::path& journal) { fs::create_symlink(journal.string() + ".gone", journal); },
         false},
        {"a link to a journal elsewhere",
         [](const fs::path& journal) {
             WriteAll(journal.string() + ".real",
                      "Brenvolt-Update-Journal 0000ABCD\r\nR a.txt\r\nC\r\n");
             fs::create_symlink(journal.string() + ".real", journal);
         },
         false},
        {"a read-only journal",
         [](const fs::path& journal) {
             WriteAll(journal, "Brenvolt-Update-Journal 0000ABCD\r\nR a.txt\r\nC\r\n");
             chmod(journal.c_str(), 0444);
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        Installed();
        WriteAll(install_ / "a.txt", "new a");
        WriteAll(install_ / ".Update-0000ABCD-00000000.old", "old a");
        WriteAll(install_ / ".Update-0000ABCD-00000000.tmp", "staged");
        WriteAll(install_ / "Sub" / "Deeper" / ".Update-0000ABCD-00000002.tmp", "staged");
        c.make(install_ / ".Update.journal");
        WriteAll(package_ / "b.txt", "b");
        const fs::path log = root_ / "u.log";
        EXPECT_EQ(Run(false, {"/S", "/LOG=" + log.string()}).exitCode, 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(install_ / ".Update.journal")));
        EXPECT_EQ(ReadAll(install_ / "b.txt"), "b");
        EXPECT_EQ(ReadAll(install_ / "a.txt"), c.read ? "old a" : "new a");
        EXPECT_EQ(TemporaryFiles(install_), c.read ? "" : ".Update-0000ABCD-00000000.old ");
        EXPECT_EQ(TemporaryFiles(install_ / "Sub" / "Deeper"),
                  c.read ? ".Update-0000ABCD-00000002.tmp " : "");
        EXPECT_EQ(ReadAll(log).find(".Update-0000ABCD-00000000.old") != std::string::npos, !c.read);
        std::string kept;
        for (const auto& entry : fs::directory_iterator(install_))
            if (entry.path().filename().string().rfind(".Update.journal-", 0) == 0)
                kept += ReadAll(entry.path() / "keep.txt");
        EXPECT_EQ(kept, c.kept);
        if (*c.kept != '\0') {
            EXPECT_NE(ReadAll(log).find("Ordner mit dem Namen des Journals umbenannt"),
                      std::string::npos)
                << ReadAll(log);
        }
    }
}

// An old file that a finished run cannot remove keeps its journal, so that
// a later run removes it.
TEST_F(TransactionRun, OldFileThatCannotBeRemovedIsRemovedByALaterRun) {
    Installed();
    WriteAll(install_ / "a.txt", "new a");
    WriteAll(install_ / ".Update-0000ABCD-00000000.old", "old a");
    WriteAll(install_ / ".Update.journal",
             "Brenvolt-Update-Journal 0000ABCD\r\nR a.txt\r\nC\r\nK\r\n");
    WriteAll(package_ / "b.txt", "b");
    environment_ = "UPDATE_RETRY_STEP_MS=100";
    HANDLE held = CreateFileA((install_ / ".Update-0000ABCD-00000000.old").c_str(), GENERIC_READ, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Run(false, {"/S"}).exitCode, 31);
    EXPECT_TRUE(fs::exists(install_ / ".Update.journal"));
    CloseHandle(held);
    EXPECT_EQ(Run(false, {"/S"}).exitCode, 0);
    EXPECT_EQ(ReadAll(install_ / "a.txt"), "new a");
    EXPECT_EQ(ReadAll(install_ / "b.txt"), "b");
    EXPECT_EQ(TemporaryFiles(install_), "");
}

// The scanner program (scanner.cpp) on the installation while it lives.
class Scanner {
  public:
    Scanner(const fs::path& folder, int minMs, int maxMs) {
        int ready[2];
        if (pipe(ready) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(ready[1], 1);
            const std::string low = std::to_string(minMs), high = std::to_string(maxMs);
            execl(SCANNER_PATH, "scanner", folder.c_str(), low.c_str(), high.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ready[1]);
        char line[8] = {};
        started_ = read(ready[0], line, 5) == 5;
        close(ready[0]);
    }
    ~Scanner() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Started() const { return started_; }

  private:
    pid_t pid_ = -1;
    bool started_ = false;
};

// With a scanner holding each file that is written or renamed in the
// installation for 20 to 150 ms, without sharing, the update
// waits for each and goes in whole; a failure late in the commit is undone
// whole.
TEST_F(TransactionRun, ScannerHoldingEachFileForAMomentDelaysButDoesNotStopTheUpdate) {
    const struct {
        const char* what;
        int files;
        std::size_t size;
        const char* faults;
        int minMs, maxMs;
    } cases[] = {
        {"many small files", 2000, 0, "", 20, 150},
        {"a few large files", 4, 8 << 20, "", 20, 150},
        {"a failure late in the commit", 300, 0, "fail@600", 20, 150},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        OldAndNewFiles(c.files, 4);
        for (int i = 0; c.size != 0 && i < c.files; ++i)
            WriteAll(package_ / Folder(i, 4) / Name(i), Filled(c.size, 'n'));
        const fs::path log = root_ / "u.log";
        environment_ = std::string("UPDATE_STANDIN_RENAME_FAULTS=") + c.faults;
        Scanner scanner(install_, c.minMs, c.maxMs);
        ASSERT_TRUE(scanner.Started());
        const RunResult run = Run(false, {"/S", "/LOG=" + log.string()});
        environment_.clear();
        const bool fails = c.faults[0] != '\0';
        EXPECT_EQ(run.exitCode, fails ? 82 : 0) << ReadAll(log);
        int wrong = 0;
        for (int i = 0; i < c.files; ++i) {
            const std::string now = ReadAll(install_ / Folder(i, 4) / Name(i));
            wrong += fails ? now != "old " + Name(i) : now.substr(0, 3) == "old";
        }
        EXPECT_EQ(wrong, 0);
        for (int f = 0; f < 4 && f < c.files; ++f)
            EXPECT_EQ(TemporaryFiles(install_ / Folder(f, 4)), "");
        EXPECT_EQ(TemporaryFiles(install_), "");
    }
}

// Read-only installed files (copied from a CD, say) are replaced like any
// other, and updated again later; an undo puts them back read-only, and a
// read-only package whose commit fails late is undone whole.
TEST_F(TransactionRun, ReadOnlyFilesAreReplacedAndComeBackReadOnly) {
    const auto readOnly = [](const fs::path& file) {
        struct stat info = {};
        return lstat(file.c_str(), &info) == 0 && (info.st_mode & 0222) == 0;
    };
    for (const bool readOnlyPackage : {false, true}) {
        SCOPED_TRACE(readOnlyPackage ? "a read-only package" : "a writable package");
        TearDown();
        SetUp();
        OldAndNewFiles(20, 2);
        for (int i = 0; i < 20; ++i) {
            chmod((install_ / Folder(i, 2) / Name(i)).c_str(), 0444);
            if (readOnlyPackage)
                chmod((package_ / Folder(i, 2) / Name(i)).c_str(), 0444);
        }
        const fs::path log = root_ / "u.log";
        for (const char* version : {"first", "second"}) {
            SCOPED_TRACE(version);
            for (int i = 0; i < 20; ++i) {
                const fs::path file = package_ / Folder(i, 2) / Name(i);
                chmod(file.c_str(), 0644);
                WriteAll(file, std::string(version) + " " + Name(i));
                chmod(file.c_str(), readOnlyPackage ? 0444 : 0644);
            }
            EXPECT_EQ(Run(false, {"/S", "/LOG=" + log.string()}).exitCode, 0);
            EXPECT_EQ(ReadAll(install_ / "Dir1" / Name(1)), std::string(version) + " " + Name(1));
            EXPECT_EQ(readOnly(install_ / "Dir1" / Name(1)), readOnlyPackage);
            const bool wasReadOnly = readOnlyPackage || std::string(version) == "first";
            EXPECT_EQ(ReadAll(log).find("Schreibgesch\xFCtzte Datei ersetzt: ") !=
                          std::string::npos,
                      wasReadOnly);
        }
        // The last rename of the commit fails for good: the whole run goes back.
        for (int i = 0; i < 20; ++i)
            chmod((install_ / Folder(i, 2) / Name(i)).c_str(), 0444);
        environment_ = "UPDATE_STANDIN_RENAME_FAULTS=fail@40";
        EXPECT_EQ(Run(false, {"/S"}).exitCode, 82);
        environment_.clear();
        int wrong = 0;
        for (int i = 0; i < 20; ++i) {
            const fs::path file = install_ / Folder(i, 2) / Name(i);
            wrong += ReadAll(file) != "second " + Name(i) || !readOnly(file);
        }
        EXPECT_EQ(wrong, 0) << "files that are not the second version, read-only";
        EXPECT_EQ(TemporaryFiles(install_ / "Dir0"), "");
        EXPECT_EQ(TemporaryFiles(install_ / "Dir1"), "");
        EXPECT_EQ(TemporaryFiles(install_), "");
    }
}
