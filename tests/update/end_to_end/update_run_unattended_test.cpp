// Unattended runs of Update.exe: /S, /LOG=<file>, exit codes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <regex>

#include "platform/win32_api.h"
#include "update_run.h"

namespace {

// Each file and directory below a folder: the contents of a file (or
// "<dir>") and whether it may be written.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const bool writable =
            (fs::status(entry.path()).permissions() & fs::perms::owner_write) != fs::perms::none;
        entries[fs::relative(entry.path(), folder).string()] =
            (entry.is_directory() ? std::string("<dir>") : ReadAll(entry.path())) +
            (writable ? "" : " (read-only)");
    }
    return entries;
}

// The lines of a log without their time stamps, which must be there.
std::vector<std::string> LogLines(const fs::path& log) {
    const std::string text = ReadAll(log);
    std::vector<std::string> lines;
    const std::regex stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ");
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find("\r\n", begin);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a line without CR LF: " << text.substr(begin);
            break;
        }
        const std::string line = text.substr(begin, end - begin);
        EXPECT_TRUE(std::regex_search(line, stamp)) << line;
        lines.push_back(line.size() > 20 ? line.substr(20) : line);
        begin = end + 2;
    }
    return lines;
}

class UnattendedRun : public UpdateRun {
  protected:
    // An empty package and installation again, nothing running.
    void Reset() {
        TearDown();
        SetUp();
    }

    std::string PackageRoot() const { return package_.string() + "/"; }
};

const char kUsage[] = "Info: M\xC3\xB6gliche Schalter:\n"
                      "/S  ohne Meldungen installieren, das Ergebnis steht im Exitcode\n"
                      "/LOG=<Datei>  den Ablauf in die Datei schreiben\n";

// Each outcome, shown in its box in an interactive run and as its exit code
// in a silent one, which changes the installation just as the first did.
TEST_F(UnattendedRun, EachOutcomeHasItsBoxAndExitCodeAndChangesTheSame) {
    // A file that cannot go back is not waited for long here.
    environment_ = "UPDATE_RETRY_STEP_MS=100";
    const auto nothingCopied = [&] { EXPECT_FALSE(fs::exists(install_ / "a.txt")); };
    struct Case {
        const char* outcome;
        const char* silentSwitch;
        int exitCode;
        std::string box;
        std::function<void()> setUp, check;
    } cases[] = {
        {"installed", "/S", 0, kDone2,
         [&] {
             Installed();
             WriteAll(package_ / "faq.txt", "notes");
             WriteAll(package_ / "Data" / "map.dat", "map");
         },
         [&] {
             EXPECT_EQ(ReadAll(install_ / "faq.txt"), "notes");
             EXPECT_EQ(ReadAll(install_ / "Data" / "map.dat"), "map");
             EXPECT_FALSE(fs::exists(install_ / "Update.exe"));
         }},
        {"not found", "-s", 2, kNotFound,
         [&] {
             Registry((root_ / "cwd").string());
             WriteAll(package_ / "a.txt", "a");
         },
         nothingCopied},
        {"running", "/s", 32, kRunning,
         [&] {
             Registry(install_.string());
             RunningProduct();
             WriteAll(package_ / "a.txt", "a");
         },
         nothingCopied},
        {"cannot open", "-S", 110, kCannotOpen,
         [&] {
             Registry(install_.string());
             fs::create_directories(install_ / "BV.EXE");
             WriteAll(package_ / "a.txt", "a");
         },
         nothingCopied},
        {"not installed", "/S", 82, NotInstalled(1),
         [&] {
             Installed();
             fs::permissions(install_ / "BV.EXE", fs::perms::owner_read);
             fs::create_directories(install_ / "locked.txt");
             WriteAll(package_ / "locked.txt", "new");
             WriteAll(package_ / "fine.txt", "fine");
         },
         [&] {
             EXPECT_TRUE(fs::is_directory(install_ / "locked.txt"));
             EXPECT_FALSE(fs::exists(install_ / "fine.txt"));
             EXPECT_EQ(TemporaryFiles(install_), "");
         }},
        // A stopped run's file that cannot go back: a directory took its
        // place. Its journal stays for the next run, and nothing else is done.
        {"not restored", "/S", 31,
         std::string(kNotRestored)
             .insert(std::strlen(kNotRestored) - 1,
                     "\n\nNicht wiederhergestellt: <install>\\a.txt (Fehler 5: Access is denied.)"),
         [&] {
             Installed();
             WriteAll(install_ / ".Update.journal",
                      "Brenvolt-Update-Journal 00000001\r\nR a.txt\r\nC\r\n");
             WriteAll(install_ / ".Update-00000001-00000000.old", "old a");
             fs::create_directories(install_ / "a.txt");
             WriteAll(package_ / "b.txt", "b");
         },
         [&] {
             EXPECT_TRUE(fs::exists(install_ / ".Update.journal"));
             EXPECT_FALSE(fs::exists(install_ / "b.txt"));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outcome);
        Reset();
        c.setUp();
        const RunResult interactive = Run(c.exitCode == 0);
        EXPECT_EQ(interactive.exitCode, 0);
        // The installation, where a box names a file of it, is this case's.
        std::string box = c.box;
        if (box.find("<install>") != std::string::npos)
            box.replace(box.find("<install>"), 9, install_.string());
        EXPECT_EQ(interactive.messageBox, box);
        EXPECT_EQ(interactive.notes, c.exitCode == 0 ? NotesStarted() : "");
        c.check();
        const auto changed = Snapshot(install_);

        Reset();
        c.setUp();
        const RunResult silent = Run(false, {c.silentSwitch});
        EXPECT_EQ(silent.exitCode, c.exitCode);
        EXPECT_EQ(silent.messageBox, "");
        EXPECT_EQ(silent.notes, "");
        EXPECT_EQ(Snapshot(install_), changed);
    }
}

TEST_F(UnattendedRun, LogTellsEveryStepAndEveryFile) {
    // Not under the first root, found under the second; one file copied,
    // a read-only one replaced, one refused (a folder in its place), a
    // directory that cannot be made and its file, a link that leads into
    // the installation.
    fs::create_directories(root_ / "old place");
    Registry((root_ / "old place").string(), install_.string());
    Product();
    WriteAll(package_ / "Data" / "map.dat", "map");
    WriteAll(package_ / "locked.txt", "new");
    fs::create_directories(install_ / "locked.txt");
    WriteAll(package_ / "ro.txt", "new");
    WriteAll(install_ / "ro.txt", "old");
    fs::permissions(install_ / "ro.txt", fs::perms::owner_read);
    WriteAll(package_ / "Blocked" / "x.txt", "x");
    WriteAll(install_ / "Blocked", "a file where a directory belongs");
    fs::create_directory_symlink(install_, package_ / "Up");
    fs::create_directories(root_ / "log folder");
    const fs::path log = root_ / "log folder" / "update log.txt";

    const RunResult run = Run(false, {"/S", "/LOG=" + log.string()});
    EXPECT_EQ(run.exitCode, 82);
    EXPECT_EQ(run.messageBox, "");
    EXPECT_FALSE(fs::exists(install_ / "Data"));

    std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 12u) << ReadAll(log);
    EXPECT_EQ(lines[0], "Brenvolt-Update 1.0.0.0 gestartet; Paket: " + PackageRoot() +
                            "; Befehlszeile: /S \"/LOG=" + log.string() + "\"");
    EXPECT_EQ(lines[1],
              "Keine Installation unter HKEY_LOCAL_MACHINE: " + (root_ / "old place").string() +
                  " enth\xE4lt kein BV.EXE (Fehler 2: The system cannot find the "
                  "file specified.)");
    EXPECT_EQ(lines[2], "Installation gefunden unter HKEY_CURRENT_USER: " + install_.string());
    EXPECT_EQ(lines[3], "Paket nicht gepr\xFC"
                        "ft, es hat keine Dateiliste: " +
                            PackageRoot() + ".Update.sha256");
    // The copy's lines in the order of the enumeration.
    std::vector<std::string> copied(lines.begin() + 4, lines.end() - 1);
    std::sort(copied.begin(), copied.end());
    const std::string target = install_.string() + "\\";
    const std::vector<std::string> expected = {
        "Kopiert: " + target + "Data\\map.dat",
        "Kopiert: " + target + "ro.txt",
        "Nicht kopiert: " + target +
            "Blocked\\x.txt (Fehler 3: The system cannot find the path specified.)",
        "Nicht kopiert: " + target + "locked.txt (Fehler 5: Access is denied.)",
        "Schreibgesch\xFCtzte Datei ersetzt: " + target + "ro.txt",
        "Verzeichnis ausgelassen, es f\xFChrt in die Installation: " + PackageRoot() + "Up",
        "Verzeichnis nicht angelegt: " + target +
            "Blocked (Fehler 183: Cannot create a file when that file already exists.)",
    };
    EXPECT_EQ(copied, expected);
    EXPECT_EQ(lines[11], "Ergebnis: Das Update wurde nicht installiert, die Installation wurde "
                         "wiederhergestellt; 2 Dateien nicht kopiert, 2 Ordner nicht gelesen oder "
                         "angelegt; Exitcode 82");
}

TEST_F(UnattendedRun, LogThatCannotBeWrittenStopsNothingAndIsReported) {
    Installed();
    WriteAll(package_ / "faq.txt", "notes");
    const std::string log = (root_ / "missing" / "update.log").string();
    const RunResult silent = Run(false, {"/S", "/LOG=" + log});
    EXPECT_EQ(silent.exitCode, 29);
    EXPECT_EQ(silent.messageBox, "");
    EXPECT_EQ(ReadAll(install_ / "faq.txt"), "notes");

    fs::remove(install_ / "faq.txt");
    const RunResult interactive = Run(true, {"/LOG=" + log});
    EXPECT_EQ(interactive.exitCode, 0);
    EXPECT_EQ(interactive.messageBox,
              "Info: Es wurden 1 Dateien kopiert.\nDas Update wurde korrekt installiert.\n\n"
              "Das Protokoll konnte nicht geschrieben werden: " +
                  log + " (Fehler 3: The system cannot find the path specified.)\n");
    EXPECT_EQ(ReadAll(install_ / "faq.txt"), "notes");
    EXPECT_EQ(interactive.notes, NotesStarted());
    EXPECT_FALSE(fs::exists(root_ / "missing"));

    // Only a complete installation turns into 29; any other outcome keeps its code.
    Registry((root_ / "cwd").string());
    EXPECT_EQ(Run(false, {"/S", "/LOG=" + log}).exitCode, 2);
}

// A log in the package folder is not copied along (it could not be: it is
// open for writing); a package file of the same name elsewhere still is.
TEST_F(UnattendedRun, LogInThePackageIsNotCopied) {
    Installed();
    WriteAll(package_ / "Data" / "update.log", "a file of the product");
    const RunResult run = Run(false, {"/S", "/LOG=" + (package_ / "update.log").string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(fs::exists(install_ / "update.log"));
    EXPECT_EQ(ReadAll(install_ / "Data" / "update.log"), "a file of the product");
    const std::vector<std::string> lines = LogLines(package_ / "update.log");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              "Ergebnis: Das Update wurde korrekt installiert, 1 Dateien kopiert; Exitcode 0");
}

// A silent run with a wrong word stops before anything is touched, and so
// does /? without /S, which shows the switches; any other word of a run
// without /S is passed over (and logged).
TEST_F(UnattendedRun, WrongCommandLineTouchesNothing) {
    Installed();
    fs::permissions(install_ / "BV.EXE", fs::perms::owner_read); // a run would reset it
    WriteAll(package_ / "a.txt", "a");
    const std::string log = (root_ / "update.log").string();
    const auto before = Snapshot(install_);
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
    } cases[] = {
        {{"/S", "/X"}, 87},    {{"/LOG=" + log, "/Silent", "-s"}, 87},
        {{"/LOG=", "/S"}, 87}, {{"/S", "/LOG=" + log, "/LOG=" + log}, 87},
        {{"/S", "/?"}, 87},    {{"/LOG=" + log, "/?"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const RunResult run = Run(false, c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.messageBox, c.exitCode == 0 ? kUsage : "");
        EXPECT_EQ(Snapshot(install_), before);
        EXPECT_FALSE(fs::exists(log));
        EXPECT_EQ(run.notes, "");
    }

    const RunResult passedOver = Run(true, {"/X", "C:\\a b.txt", "/LOG=" + log});
    EXPECT_EQ(passedOver.exitCode, 0);
    EXPECT_EQ(passedOver.messageBox,
              "Info: Es wurden 1 Dateien kopiert.\nDas Update wurde korrekt installiert.\n");
    EXPECT_EQ(ReadAll(install_ / "a.txt"), "a");
    const std::vector<std::string> lines = LogLines(log);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Angabe der Befehlszeile \xFC"
                        "bergangen: /X");
    EXPECT_EQ(lines[2], "Angabe der Befehlszeile \xFC"
                        "bergangen: C:\\a b.txt");
}

// The log is on disk as the run goes: a run stopped for good in its message
// box (its standard error, where the stand-in shows boxes, is a full pipe)
// and then killed has left every line. While it waits there, others may
// read the log and the lock is no longer held.
TEST_F(UnattendedRun, KilledRunLeavesItsLog) {
    Installed();
    WriteAll(package_ / "faq.txt", "notes");
    const fs::path log = root_ / "update.log";

    int errorPipe[2];
    ASSERT_EQ(pipe(errorPipe), 0);
    ASSERT_EQ(fcntl(errorPipe[1], F_SETFL, O_NONBLOCK), 0);
    const std::string block(4096, 'x');
    while (write(errorPipe[1], block.data(), block.size()) > 0) {
    }
    ASSERT_EQ(fcntl(errorPipe[1], F_SETFL, 0), 0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(errorPipe[1], 2);
        setenv("UPDATE_REGISTRY_FILE", (root_ / "registry.reg").c_str(), 1);
        setenv("PATH", (root_ / "bin").c_str(), 1);
        if (chdir((root_ / "cwd").c_str()) == 0)
            execl((package_ / "Update.exe").c_str(), "Update.exe", ("/LOG=" + log.string()).c_str(),
                  static_cast<char*>(nullptr));
        _exit(127);
    }
    close(errorPipe[1]);
    // Waits for the last line, which comes before the box.
    for (int i = 0; i < 500 && ReadAll(log).find("Ergebnis") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    HANDLE reader = CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    if (reader != INVALID_HANDLE_VALUE)
        CloseHandle(reader);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(errorPipe[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the run ended by itself";
    // A lock still held would stay behind the kill.
    EXPECT_FALSE(fs::exists(install_ / ".Update.lock"));

    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 5u) << ReadAll(log);
    EXPECT_EQ(lines[3], "Kopiert: " + install_.string() + "\\faq.txt");
    EXPECT_EQ(lines[4], "Ergebnis: Das Update wurde korrekt installiert, 1 Dateien kopiert; "
                        "Exitcode 0");
}

// Root updates an installation that its user (uid 65534) may write and in
// which he planted a link to root's files: nothing it leads to changes.
TEST_F(UnattendedRun, LinksPlantedInTheInstallationAreNotFollowed) {
    if (geteuid() != 0)
        GTEST_SKIP() << "planting as another user needs root";
    const std::string cannotAccess = " (Fehler 1920: The file cannot be accessed by the system.)";
    // Below the installation, leading to a name below the victim's folder.
    const struct {
        const char* link;
        const char* leadsTo;
        int exitCode;
        std::string logLine; // after the installation directory
    } cases[] = {
        {"Data", "", 82, "Verzeichnis nicht angelegt: %sData" + cannotAccess},
        {".Update-0000ABCD.tmp", "ro", 0, "Kopiert: %stop.txt"},
        {"BV.EXE", "ro", 110,
         "Brenvolt kann nicht ge\xF6"
         "ffnet werden: %sBV.EXE" +
             cannotAccess},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        Reset();
        const fs::path victim = root_ / "victim", log = root_ / "u.log", link = install_ / c.link;
        Installed();
        WriteAll(package_ / "top.txt", "top");
        WriteAll(package_ / "Data" / "x", "new");
        WriteAll(package_ / "Data" / "sub" / "y", "new");
        for (const char* name : {"x", "ro", ".Update-0000ABCD.tmp"})
            WriteAll(victim / name, "precious");
        fs::permissions(victim / "ro", fs::perms::owner_read);
        fs::permissions(victim / ".Update-0000ABCD.tmp", fs::perms::owner_read);
        fs::remove(link);
        fs::create_symlink(victim / c.leadsTo, link);
        ASSERT_EQ(lchown(link.c_str(), 65534, 65534), 0);
        ASSERT_EQ(chown(install_.c_str(), 65534, 65534), 0);
        const auto before = Snapshot(victim);

        const RunResult run = Run(false, {"/S", "/LOG=" + log.string()});
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(Snapshot(victim), before);
        char line[1024];
        std::snprintf(line, sizeof line, c.logLine.c_str(), (install_.string() + "\\").c_str());
        const std::vector<std::string> lines = LogLines(log);
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << ReadAll(log);
    }
}

// A holder that never lets go of the lock (the installation's owner may
// open the file, too) ends the wait after the limit, which the log tells
// at once; nothing is copied.
TEST_F(UnattendedRun, LockHeldForEverEndsTheWait) {
    Installed();
    WriteAll(package_ / "a.txt", "a");
    const fs::path log = root_ / "u.log";
    const int holder = open((install_ / ".Update.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(holder, 0);
    struct flock whole = {};
    whole.l_type = F_RDLCK;
    whole.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(holder, F_OFD_SETLK, &whole), 0);
    setenv("UPDATE_LOCK_WAIT_SECONDS", "1", 1);
    const RunResult silent = Run(false, {"/S", "/LOG=" + log.string()});
    const RunResult interactive = Run(false);
    unsetenv("UPDATE_LOCK_WAIT_SECONDS");
    close(holder);

    EXPECT_EQ(silent.exitCode, 170);
    EXPECT_EQ(silent.messageBox, "");
    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 5u) << ReadAll(log);
    EXPECT_EQ(lines[3], "Warte auf " + install_.string() +
                            "\\.Update.lock, ein anderes Update l\xE4uft (h\xF6"
                            "chstens 0:01 Minuten)");
    EXPECT_EQ(lines[4], "Ergebnis: Ein anderes Update ist nicht beendet, nichts installiert; "
                        "Exitcode 170");
    EXPECT_EQ(interactive.exitCode, 0);
    EXPECT_EQ(interactive.messageBox,
              "Error: Ein anderes Update von Brenvolt ist noch nicht beendet.\n\nDas Update "
              "wurde nicht installiert. Starten Sie es sp\xC3\xA4ter noch einmal.\n");
    EXPECT_FALSE(fs::exists(install_ / "a.txt"));
}

// A log that would empty the product, land in the installation or empty a
// package file stops the run before anything is touched.
TEST_F(UnattendedRun, LogOverTheProductTheInstallationOrThePackageIsRefused) {
    Installed();
    WriteAll(package_ / "faq.txt", "notes");
    fs::create_directories(install_ / "Data");
    fs::create_hard_link(install_ / "BV.EXE", root_ / "product-link");
    WriteAll(install_ / "Data" / "map.dat", "map");
    fs::create_hard_link(install_ / "Data" / "map.dat", root_ / "data-link");
    const auto installation = Snapshot(install_), package = Snapshot(package_);
    const char kProduct[] = "die Datei ist das Programm BV.EXE";
    const struct {
        fs::path log;
        const char* reason;
    } cases[] = {
        {install_ / "BV.EXE", kProduct},
        {root_ / "product-link", kProduct},
        {install_ / "Data" / ".." / "Data" / "new.log", "die Datei liegt in der Installation"},
        {package_ / "faq.txt", "die Datei geh\xC3\xB6rt zum Update-Paket"},
        {root_ / "data-link",
         "die Datei hat noch andere Namen (sie k\xC3\xB6nnte eine Datei der Installation sein)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.log.string());
        const RunResult silent = Run(false, {"/S", "/LOG=" + c.log.string()});
        EXPECT_EQ(silent.exitCode, 87);
        EXPECT_EQ(silent.messageBox, "");
        const RunResult interactive = Run(false, {"/LOG=" + c.log.string()});
        EXPECT_EQ(interactive.exitCode, 87);
        EXPECT_EQ(interactive.messageBox, "Error: Das Protokoll kann nicht in " + c.log.string() +
                                              " geschrieben werden:\n" + c.reason +
                                              ".\n\nDas Update wurde nicht installiert.\n");
        EXPECT_EQ(Snapshot(install_), installation);
        EXPECT_EQ(Snapshot(package_), package);
    }
}

// A name holding a line break is written escaped and cannot forge a line;
// two names that are one on Windows (as the file system folds case, "\xC4"
// and "\xE4" too) are neither copied; a registry value
// too long for the reader is told as such.
TEST_F(UnattendedRun, NamesThatWouldForgeALineOrCollideAreNotCopied) {
    Registry(std::string(300, 'x'), install_.string());
    Product();
    for (const char* name : {"A.dat", "a.dat", "\xC4.dat", "\xE4.dat", "Dir/x", "dir/y", "ok.txt"})
        WriteAll(package_ / name, name);
    WriteAll(package_ / "x\r\n2026-12-07 09:00:00 Ergebnis: gut; Exitcode 0", "forged");
    const fs::path log = root_ / "u.log";
    const RunResult run = Run(false, {"/S", "/LOG=" + log.string()});
    EXPECT_EQ(run.exitCode, 82);

    std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 13u) << ReadAll(log);
    EXPECT_EQ(lines[1], "Keine Installation unter HKEY_LOCAL_MACHINE: Eintrag zu lang (h\xF6"
                        "chstens 255 Zeichen)");
    std::vector<std::string> copied(lines.begin() + 4, lines.end() - 1);
    std::sort(copied.begin(), copied.end());
    const std::string target = install_.string() + "\\";
    const std::string exists = " (Fehler 183: Cannot create a file when that file already exists.)";
    const std::vector<std::string> expected = {
        "Kopiert: " + target + "ok.txt",
        "Nicht kopiert: " + target + "A.dat" + exists,
        "Nicht kopiert: " + target + "a.dat" + exists,
        "Nicht kopiert: " + target +
            "x\\x0D\\x0A2026-12-07 09:00:00 Ergebnis: gut; Exitcode 0 (Fehler 123: The filename, "
            "directory name, or volume label syntax is incorrect.)",
        "Nicht kopiert: " + target + "\xC4.dat" + exists,
        "Nicht kopiert: " + target + "\xE4.dat" + exists,
        "Verzeichnis nicht angelegt: " + target + "Dir" + exists,
        "Verzeichnis nicht angelegt: " + target + "dir" + exists,
    };
    EXPECT_EQ(copied, expected);
    EXPECT_EQ(lines.back(), "Ergebnis: Das Update wurde nicht installiert, die Installation wurde "
                            "wiederhergestellt; 5 Dateien nicht kopiert, 2 Ordner nicht gelesen "
                            "oder angelegt; Exitcode 82");
    EXPECT_FALSE(fs::exists(install_ / "ok.txt"));
    for (const char* name : {"A.dat", "a.dat", "\xC4.dat", "\xE4.dat", "Dir", "dir"})
        EXPECT_FALSE(fs::exists(install_ / name)) << name;
}

// A folder of the first root without BV.EXE but with a stopped run's journal
// is put right first; one that still has no BV.EXE gives way to the second
// root, where the product is installed. One whose journal cannot be put right
// ends the run as a stopped run that cannot be undone: never passed over.
TEST_F(UnattendedRun, AJournalWithoutTheProductGivesWayToTheNextRootOnceRecovered) {
    // A file that cannot go back is not waited for long here.
    environment_ = "UPDATE_RETRY_STEP_MS=100";
    for (const bool recoverable : {true, false}) {
        SCOPED_TRACE(recoverable ? "recoverable" : "not recoverable");
        Reset();
        const fs::path other = root_ / "other";
        Registry(other.string(), install_.string());
        Product();
        WriteAll(other / ".Update.journal",
                 "Brenvolt-Update-Journal 00000001\r\nN x.txt\r\nR a.txt\r\nC\r\n");
        WriteAll(other / ".Update-00000001-00000000.tmp", "staged x");
        WriteAll(other / ".Update-00000001-00000001.old", "old a");
        if (!recoverable)
            fs::create_directories(other / "a.txt");
        WriteAll(package_ / "b.txt", "b");
        EXPECT_EQ(Run(false, {"/S"}).exitCode, recoverable ? 0 : 31);
        EXPECT_EQ(fs::exists(install_ / "b.txt"), recoverable);
        EXPECT_FALSE(fs::exists(other / "b.txt"));
        EXPECT_EQ(fs::exists(other / ".Update.journal"), !recoverable);
        if (recoverable) {
            EXPECT_EQ(ReadAll(other / "a.txt"), "old a");
            EXPECT_EQ(TemporaryFiles(other), "");
        }
    }
}

// BV.EXE held for a moment when the run starts (a scanner) is waited for; a
// running product still gets its box within about two seconds.
TEST_F(UnattendedRun, AProductHeldForAMomentIsWaitedForAndARunningOneIsToldSoon) {
    Installed();
    WriteAll(package_ / "a.txt", "a");
    HANDLE held = CreateFileA((install_ / "BV.EXE").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread release([held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        CloseHandle(held);
    });
    const int heldRun = Run(false, {"/S"}).exitCode;
    release.join();
    EXPECT_EQ(heldRun, 0);
    EXPECT_EQ(ReadAll(install_ / "a.txt"), "a");

    Reset();
    Registry(install_.string());
    RunningProduct();
    WriteAll(package_ / "a.txt", "a");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(false, {"/S"}).exitCode, 32);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(fs::exists(install_ / "a.txt"));
}

} // namespace
