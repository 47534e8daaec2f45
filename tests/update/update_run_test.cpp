// The built Update.exe run as a real process from a package folder, with a
// test registry file and a recording notepad.exe first on PATH.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "file_locks_off.h"

namespace fs = std::filesystem;

namespace {

const char kDone2[] = "Info: Es wurden 2 Dateien kopiert.\nDas Update wurde korrekt installiert.\n";
// The message box line is the caption, ": " and the text, then a newline;
// two of the texts end in a line break of their own.
const char kNotFound[] =
    "Error: Das Update konnte nicht installiert werden, da das Programm nicht\ngefunden "
    "wurde.\n\nInstallieren Sie erst Brenvolt v1.00, bevor Sie das Update anwenden.\n\n";
const char kRunning[] = "Error: Sie m\xC3\xBCssen erst Brenvolt schlie\xC3\x9F"
                        "en,\nbevor Sie das Update installieren.\n";
const char kCannotOpen[] =
    "Error: Ein Fehler ist w\xC3\xA4hrend dem Update aufgetreten.\n\n"
    "Installieren Sie erst Brenvolt v1.00, bevor Sie das Update anwenden.\n\n";

const char kOneFailed[] = "Error: Es wurden 1 Dateien kopiert.\n1 Dateien konnten nicht kopiert "
                          "werden.\n\nDas Update wurde nicht vollst\xC3\xA4ndig installiert.\n";

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteAll(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string PartlyDone(int copied, int failed) {
    return "Error: Es wurden " + std::to_string(copied) + " Dateien kopiert.\n" +
           std::to_string(failed) +
           " Dateien konnten nicht kopiert werden.\n\nDas Update wurde nicht vollst\xC3\xA4ndig "
           "installiert.\n";
}

// The temporary files of the copy left in a directory.
std::string TemporaryFiles(const fs::path& directory) {
    std::string names;
    for (const auto& entry : fs::directory_iterator(directory))
        if (entry.path().filename().string().rfind(".Update-", 0) == 0)
            names += entry.path().filename().string() + " ";
    return names;
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

// Escapes a value for a .reg file.
std::string RegValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return "\"" + out + "\"";
}

struct RunResult {
    int exitCode = -1;
    std::string messageBox; // what the message box showed on standard error
    std::string notes;      // "<current directory>|<arguments>" of the notes program, if started
};

class UpdateRun : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/update-run-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        package_ = root_ / "package";
        install_ = root_ / "install";
        fs::create_directories(package_);
        fs::create_directories(install_);
        fs::create_directories(root_ / "bin");
        fs::create_directories(root_ / "cwd");
        WriteAll(root_ / "bin" / "notepad.exe", "#!/bin/sh\nprintf '%s|%s\\n' \"$PWD\" \"$*\" >> " +
                                                    Quoted((root_ / "notes.txt").string()) + "\n");
        fs::permissions(root_ / "bin" / "notepad.exe", fs::perms::owner_all);
        fs::copy_file(UPDATE_EXE_PATH, package_ / "Update.exe");
    }

    void TearDown() override {
        if (productPid_ > 0) {
            kill(productPid_, SIGKILL);
            waitpid(productPid_, nullptr, 0);
        }
        std::error_code ignored;
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
        for (auto& entry : fs::recursive_directory_iterator(root_, ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(root_, ignored);
    }

    void Registry(const std::string& machineValue, const std::string& userValue = "") {
        std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
        const char key[] = "SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]\r\n";
        if (!machineValue.empty())
            text += std::string("[HKEY_LOCAL_MACHINE\\") + key + "@=" + RegValue(machineValue) +
                    "\r\n\r\n";
        if (!userValue.empty())
            text += std::string("[HKEY_CURRENT_USER\\") + key +
                    "\"&AppPath\"=" + RegValue(userValue) + "\r\n";
        WriteAll(root_ / "registry.reg", text);
    }

    void Product() { WriteAll(install_ / "BV.EXE", "product"); }

    // Starts a real program as BV.EXE and keeps it running.
    void RunningProduct() {
        fs::copy_file("/bin/sleep", install_ / "BV.EXE");
        productPid_ = fork();
        ASSERT_GE(productPid_, 0);
        if (productPid_ == 0) {
            execl((install_ / "BV.EXE").c_str(), "BV.EXE", "60", static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    // Runs Update.exe with the arguments; a run that hangs is ended after a
    // minute. Without file locks, as on a file system that has none.
    RunResult Run(bool expectNotes, const std::vector<std::string>& arguments = {},
                  bool withoutFileLocks = false) {
        const fs::path error = root_ / "stderr.txt";
        std::string command =
            "cd " + Quoted((root_ / "cwd").string()) + " && UPDATE_REGISTRY_FILE=" +
            Quoted(registryFile_.empty() ? (root_ / "registry.reg").string() : registryFile_) +
            " PATH=" + Quoted((root_ / "bin").string()) + ":\"$PATH\" timeout -s KILL 60 " +
            Quoted((package_ / "Update.exe").string());
        for (const std::string& argument : arguments)
            command += " " + Quoted(argument);
        command += " 2>" + Quoted(error.string());
        int status = -1;
        const pid_t shell = fork();
        if (shell == 0) {
            if (withoutFileLocks && !TurnFileLocksOff())
                _exit(125);
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        waitpid(shell, &status, 0);
        RunResult result;
        if (WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
        result.messageBox = ReadAll(error);
        // The notes start without being waited for: give a started one time
        // to record itself.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(expectNotes ? 5000 : 300);
        while (std::chrono::steady_clock::now() < deadline && !fs::exists(root_ / "notes.txt"))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        result.notes = ReadAll(root_ / "notes.txt");
        return result;
    }

    std::string NotesStarted() const { return (root_ / "cwd").string() + "|faq.txt\n"; }

    fs::path root_, package_, install_;
    std::string registryFile_; // instead of root_/registry.reg
    pid_t productPid_ = -1;
};

TEST_F(UpdateRun, FoundUnderLocalMachineCopiesThePackage) {
    Registry(install_.string());
    Product();
    WriteAll(package_ / "faq.txt", "notes");
    WriteAll(package_ / "Data" / "map.dat", "map");
    const RunResult run = Run(true);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.messageBox, kDone2);
    EXPECT_EQ(ReadAll(install_ / "faq.txt"), "notes");
    EXPECT_EQ(ReadAll(install_ / "Data" / "map.dat"), "map");
    EXPECT_FALSE(fs::exists(install_ / "Update.exe"));
    EXPECT_EQ(run.notes, NotesStarted());
}

TEST_F(UpdateRun, FallsThroughToCurrentUserWhenTheMachineValueIsEmptyOrWrong) {
    Product();
    WriteAll(package_ / "a.txt", "a");
    WriteAll(package_ / "b.txt", "b");
    for (const std::string& machineValue : {std::string(), (root_ / "elsewhere").string()}) {
        fs::create_directories(root_ / "elsewhere");
        Registry(machineValue, install_.string());
        if (machineValue.empty()) {
            // An empty unnamed value, present but empty.
            WriteAll(root_ / "registry.reg",
                     ReadAll(root_ / "registry.reg") +
                         "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]\r\n"
                         "@=\"\"\r\n");
        }
        fs::remove(root_ / "notes.txt");
        const RunResult run = Run(true);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.messageBox, kDone2) << machineValue;
        EXPECT_EQ(ReadAll(install_ / "b.txt"), "b");
        EXPECT_FALSE(fs::exists(root_ / "elsewhere" / "a.txt"));
    }
}

TEST_F(UpdateRun, FoundNowhere) {
    for (bool withFile : {false, true}) {
        if (withFile)
            Registry(install_.string(), install_.string()); // but no BV.EXE there
        WriteAll(package_ / "a.txt", "a");
        const RunResult run = Run(false);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.messageBox, kNotFound);
        EXPECT_FALSE(fs::exists(install_ / "a.txt"));
        EXPECT_EQ(run.notes, "");
    }
}

TEST_F(UpdateRun, RunningProductIsRefused) {
    Registry(install_.string());
    RunningProduct();
    WriteAll(package_ / "a.txt", "a");
    const RunResult run = Run(false);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.messageBox, kRunning);
    EXPECT_FALSE(fs::exists(install_ / "a.txt"));
    EXPECT_EQ(run.notes, "");
}

TEST_F(UpdateRun, ProductThatCannotBeOpenedForAnotherReason) {
    Registry(install_.string());
    fs::create_directories(install_ / "BV.EXE");
    WriteAll(package_ / "a.txt", "a");
    const RunResult run = Run(false);
    EXPECT_EQ(run.messageBox, kCannotOpen);
    EXPECT_FALSE(fs::exists(install_ / "a.txt"));
}

TEST_F(UpdateRun, InstallationDirectoryEndingInASeparator) {
    for (const char* separator : {"/", "\\"}) {
        Registry(install_.string() + separator);
        Product();
        WriteAll(package_ / "Sub" / "x.txt", "x");
        WriteAll(package_ / "y.txt", "y");
        const RunResult run = Run(true);
        EXPECT_EQ(run.messageBox, kDone2) << separator;
        EXPECT_EQ(ReadAll(install_ / "Sub" / "x.txt"), "x");
        EXPECT_EQ(ReadAll(install_ / "y.txt"), "y");
    }
}

TEST_F(UpdateRun, SkipsItselfAndDotNamesAtEveryDepth) {
    Registry(install_.string());
    Product();
    WriteAll(package_ / "Sub" / "UPDATE.EXE", "not me");
    WriteAll(package_ / "Sub" / "Deeper" / "uPdAtE.ExE", "not me");
    WriteAll(package_ / ".hidden", "no");
    WriteAll(package_ / ".git" / "config", "no");
    WriteAll(package_ / "Sub" / ".dotfile", "no");
    WriteAll(package_ / "Sub" / "Deeper" / "kept.txt", "1");
    WriteAll(package_ / "kept.txt", "2");
    const RunResult run = Run(true);
    EXPECT_EQ(run.messageBox, kDone2);
    EXPECT_FALSE(fs::exists(install_ / "Update.exe"));
    EXPECT_FALSE(fs::exists(install_ / "Sub" / "UPDATE.EXE"));
    EXPECT_FALSE(fs::exists(install_ / "Sub" / "Deeper" / "uPdAtE.ExE"));
    EXPECT_FALSE(fs::exists(install_ / ".hidden"));
    EXPECT_FALSE(fs::exists(install_ / ".git"));
    EXPECT_FALSE(fs::exists(install_ / "Sub" / ".dotfile"));
    EXPECT_EQ(ReadAll(install_ / "Sub" / "Deeper" / "kept.txt"), "1");
}

TEST_F(UpdateRun, EmptyPackageStillReportsAndStartsTheNotes) {
    Registry(install_.string());
    Product();
    const RunResult run = Run(true);
    EXPECT_EQ(run.messageBox,
              "Info: Es wurden 0 Dateien kopiert.\nDas Update wurde korrekt installiert.\n");
    EXPECT_EQ(run.notes, NotesStarted());
}

TEST_F(UpdateRun, ReadOnlyTargetIsReportedAsAPartialFailure) {
    Registry(install_.string());
    Product();
    WriteAll(install_ / "locked.txt", "old");
    fs::permissions(install_ / "locked.txt", fs::perms::owner_read);
    WriteAll(package_ / "locked.txt", "new");
    WriteAll(package_ / "fine.txt", "fine");
    const RunResult run = Run(false);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.messageBox,
              "Error: Es wurden 1 Dateien kopiert.\n1 Dateien konnten nicht kopiert werden.\n\n"
              "Das Update wurde nicht vollst\xC3\xA4ndig installiert.\n");
    EXPECT_EQ(ReadAll(install_ / "locked.txt"), "old");
    EXPECT_EQ(ReadAll(install_ / "fine.txt"), "fine");
    EXPECT_EQ(run.notes, "");
}

TEST_F(UpdateRun, ReadOnlyProductIsMadeWritable) {
    Registry(install_.string());
    Product();
    fs::permissions(install_ / "BV.EXE", fs::perms::owner_read);
    const RunResult run = Run(true);
    EXPECT_EQ(run.messageBox,
              "Info: Es wurden 0 Dateien kopiert.\nDas Update wurde korrekt installiert.\n");
    EXPECT_NE(fs::status(install_ / "BV.EXE").permissions() & fs::perms::owner_write,
              fs::perms::none);
}

TEST_F(UpdateRun, LinkBackToAParentIsNotFollowedForever) {
    Registry(install_.string());
    Product();
    WriteAll(package_ / "Sub" / "x.txt", "x");
    WriteAll(package_ / "y.txt", "y");
    fs::create_directory_symlink(package_, package_ / "Sub" / "Loop");
    const RunResult run = Run(true);
    EXPECT_EQ(run.messageBox, kDone2);
    EXPECT_EQ(ReadAll(install_ / "Sub" / "x.txt"), "x");
}

TEST_F(UpdateRun, CutModulePathCopiesNothing) {
    Registry(install_.string());
    Product();
    // A package directory deeper than the 255 characters a directory may have.
    fs::path deep = root_;
    for (int i = 0; i < 6; ++i)
        deep /= std::string(50, static_cast<char>('a' + i));
    fs::create_directories(deep);
    fs::copy_file(package_ / "Update.exe", deep / "Update.exe");
    WriteAll(deep / "a.txt", "a");
    WriteAll(deep.parent_path() / "b.txt", "b");
    package_ = deep;
    const RunResult run = Run(false);
    EXPECT_EQ(run.messageBox, kCannotOpen);
    EXPECT_FALSE(fs::exists(install_ / "a.txt"));
    EXPECT_FALSE(fs::exists(install_ / "b.txt"));
}

} // namespace

namespace {

TEST_F(UpdateRun, PackageThatIsTheInstallationItselfLosesNoData) {
    // Every file would be copied onto itself: the package is not entered,
    // which is one failure, and no file is touched.
    Registry(package_.string());
    WriteAll(package_ / "BV.EXE", "product");
    WriteAll(package_ / "data.txt", "data");
    const RunResult run = Run(false);
    EXPECT_EQ(run.messageBox,
              "Error: Es wurden 0 Dateien kopiert.\n1 Dateien konnten nicht kopiert werden.\n\n"
              "Das Update wurde nicht vollst\xC3\xA4ndig installiert.\n");
    EXPECT_EQ(ReadAll(package_ / "BV.EXE"), "product");
    EXPECT_EQ(ReadAll(package_ / "data.txt"), "data");
}

} // namespace

namespace {

// FIFOs and devices in the package cannot be copied, and are not read.
TEST_F(UpdateRun, SpecialFileInThePackageIsAFailedCopy) {
    struct Case {
        const char* name;
        mode_t type;
    } cases[] = {{"pipe.dat", S_IFIFO}, {"zero.dat", S_IFCHR}};
    bool deviceSkipped = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.type == S_IFCHR && geteuid() != 0) {
            deviceSkipped = true; // only root makes devices
            continue;
        }
        Registry(install_.string());
        Product();
        WriteAll(package_ / "a.txt", "a");
        const fs::path special = package_ / c.name;
        // A character device like /dev/zero, which would fill the target.
        ASSERT_EQ(mknod(special.c_str(), c.type | 0644, c.type == S_IFCHR ? makedev(1, 5) : 0), 0)
            << special;
        const RunResult run = Run(false);
        EXPECT_EQ(run.messageBox, kOneFailed);
        EXPECT_FALSE(fs::exists(fs::symlink_status(install_ / c.name)));
        EXPECT_EQ(ReadAll(install_ / "a.txt"), "a");
        fs::remove(special);
    }
    if (deviceSkipped)
        GTEST_SKIP() << "the device case needs root";
}

// A product file or a registry file that is a FIFO or a device is a file
// that cannot be opened or read.
TEST_F(UpdateRun, SpecialProductOrRegistryFileIsOneThatCannotBeOpened) {
    WriteAll(package_ / "a.txt", "a");
    Registry(install_.string());
    ASSERT_EQ(mkfifo((install_ / "BV.EXE").c_str(), 0644), 0);
    EXPECT_EQ(Run(false).messageBox, kCannotOpen);
    fs::remove(install_ / "BV.EXE");

    Product();
    // What the run shows with a given registry file, but for its name.
    auto shownWith = [this](const std::string& file) {
        registryFile_ = file;
        std::string shown = Run(false).messageBox;
        for (std::size_t at; (at = shown.find(file)) != std::string::npos;)
            shown.replace(at, file.size(), "<registry>");
        return shown;
    };
    fs::create_directories(root_ / "unreadable.reg");
    const std::string unreadable = shownWith((root_ / "unreadable.reg").string());
    EXPECT_NE(unreadable.find(kNotFound), std::string::npos) << unreadable;
    ASSERT_EQ(mkfifo((root_ / "fifo.reg").c_str(), 0644), 0);
    EXPECT_EQ(shownWith((root_ / "fifo.reg").string()), unreadable);
    EXPECT_EQ(shownWith("/dev/zero"), unreadable);
    EXPECT_FALSE(fs::exists(install_ / "a.txt"));
}

// Where file locks do not work, share modes cannot be kept: the product
// probe fails, and the run stops before it copies anything.
TEST_F(UpdateRun, WithoutFileLocksTheRunIsRefused) {
    Registry(install_.string());
    Product();
    WriteAll(package_ / "a.txt", "a");
    const RunResult run = Run(false, {}, true);
    if (run.exitCode == 125)
        GTEST_SKIP() << "file locks cannot be turned off here";
    EXPECT_EQ(run.messageBox, kCannotOpen);
    EXPECT_FALSE(fs::exists(install_ / "a.txt"));
    EXPECT_EQ(ReadAll(install_ / "BV.EXE"), "product");
}

} // namespace

// --- an interrupted or failing update never leaves an installed file part old, part new

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

std::string Filled(std::size_t size, char fill) {
    std::string text(size, fill);
    for (std::size_t i = 0; i < size; i += 4096)
        text[i] = static_cast<char>('0' + (i / 4096) % 10); // a page out of place shows
    return text;
}

TEST_F(UpdateRun, FullTargetVolumeLeavesEveryFileOldOrNew) {
    const fs::path volume = root_ / "volume";
    SmallVolume small(volume, "1m");
    if (!small.Mounted())
        GTEST_SKIP() << "cannot mount a 1 MB tmpfs here (" << small.Error()
                     << "); the full-volume case needs root with CAP_SYS_ADMIN";
    install_ = volume / "install";
    Registry(install_.string());
    const std::string oldProduct = Filled(300 * 1024, 'o'), newProduct = Filled(600 * 1024, 'n');
    const std::string oldData = Filled(200 * 1024, 'p'), newData = Filled(300 * 1024, 'm');
    const std::string newMore = Filled(400 * 1024, 'q');
    WriteAll(install_ / "BV.EXE", oldProduct);
    WriteAll(install_ / "a.dat", oldData);
    WriteAll(package_ / "BV.EXE", newProduct);
    WriteAll(package_ / "a.dat", newData);
    WriteAll(package_ / "b.dat", newMore);
    // 1.3 MB of new files cannot all fit on 1 MB.
    const RunResult run = Run(false);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.messageBox.rfind("Error: Es wurden ", 0), 0u) << run.messageBox;
    const std::string product = ReadAll(install_ / "BV.EXE");
    EXPECT_TRUE(product == oldProduct || product == newProduct) << product.size() << " bytes";
    const std::string data = ReadAll(install_ / "a.dat");
    EXPECT_TRUE(data == oldData || data == newData) << data.size() << " bytes";
    if (fs::exists(install_ / "b.dat")) {
        EXPECT_TRUE(ReadAll(install_ / "b.dat") == newMore) << "b.dat is not the new file";
    }
    EXPECT_EQ(TemporaryFiles(install_), "");
    EXPECT_EQ(run.notes, "");
}

TEST_F(UpdateRun, RunKilledInTheMiddleOfAFileLeavesItOldAndTheNextRunCompletes) {
    Registry(install_.string());
    Product();
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

    const RunResult next = Run(true);
    EXPECT_EQ(next.messageBox, kDone2);
    EXPECT_TRUE(ReadAll(install_ / "big.dat") == newData) << "big.dat is not the new file";
    EXPECT_EQ(ReadAll(install_ / "small.txt"), "small");
    EXPECT_EQ(TemporaryFiles(install_), "");
}

TEST_F(UpdateRun, NameWithABackslashIsNotCopiedAndNothingOutsideIsWritten) {
    // Read as a path, the name would lead from package/x to the root's
    // secret.txt, and from deep/install/x to deep/secret.txt.
    install_ = root_ / "deep" / "install";
    Registry(install_.string());
    Product();
    WriteAll(root_ / "secret.txt", "outside both");
    fs::create_directories(package_ / "x");
    WriteAll(package_ / "x\\..\\..\\secret.txt", "inside the package");
    WriteAll(package_ / "ok.txt", "ok");
    const RunResult run = Run(false);
    EXPECT_EQ(run.messageBox, PartlyDone(1, 1));
    EXPECT_FALSE(fs::exists(root_ / "deep" / "secret.txt"));
    EXPECT_EQ(ReadAll(root_ / "secret.txt"), "outside both");
    EXPECT_FALSE(fs::exists(install_ / "x\\..\\..\\secret.txt"));
    EXPECT_EQ(ReadAll(install_ / "ok.txt"), "ok");
}

TEST_F(UpdateRun, LinkIntoTheInstallationIsNotCopiedIntoItself) {
    Registry(install_.string());
    Product();
    WriteAll(install_ / "Data" / "map.dat", "old map");
    WriteAll(package_ / "Data" / "map.dat", "new map");
    fs::create_directory_symlink(install_ / "Data", package_ / "Data" / "l");
    fs::create_directory_symlink(install_, package_ / "up");
    const RunResult run = Run(false);
    EXPECT_EQ(run.messageBox, PartlyDone(1, 2));
    EXPECT_EQ(ReadAll(install_ / "Data" / "map.dat"), "new map");
    EXPECT_FALSE(fs::exists(install_ / "Data" / "l"));
    EXPECT_FALSE(fs::exists(install_ / "up"));
}

TEST_F(UpdateRun, DirectoryThatCannotBeMadeCounts) {
    Registry(install_.string());
    Product();
    fs::create_directories(package_ / "Empty");
    WriteAll(install_ / "Empty", "a file in the way");
    WriteAll(package_ / "ok.txt", "ok");
    const RunResult run = Run(false);
    EXPECT_EQ(run.messageBox, PartlyDone(1, 1));
    EXPECT_EQ(ReadAll(install_ / "Empty"), "a file in the way");
}

} // namespace

// --- unattended runs: /S, /LOG=<file>, exit codes

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
        if (productPid_ > 0) {
            kill(productPid_, SIGKILL);
            waitpid(productPid_, nullptr, 0);
            productPid_ = -1;
        }
        for (const fs::path& folder : {package_, install_}) {
            for (auto& entry : fs::recursive_directory_iterator(folder))
                fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
            fs::remove_all(folder);
            fs::create_directories(folder);
        }
        fs::copy_file(UPDATE_EXE_PATH, package_ / "Update.exe");
        fs::remove(root_ / "registry.reg");
        fs::remove(root_ / "notes.txt");
    }

    std::string PackageRoot() const { return package_.string() + "/"; }
};

const char kUsage[] = "Error: Unbekannte Angabe in der Befehlszeile: %s\n\n"
                      "M\xC3\xB6gliche Schalter:\n"
                      "/S  ohne Meldungen installieren, das Ergebnis steht im Exitcode\n"
                      "/LOG=<Datei>  den Ablauf in die Datei schreiben\n";

TEST_F(UnattendedRun, EachOutcomeHasItsExitCodeAndChangesWhatTheInteractiveRunChanges) {
    struct Case {
        const char* outcome;
        const char* silentSwitch;
        int exitCode;
        std::function<void()> setUp;
    } cases[] = {
        {"installed", "/S", 0,
         [&] {
             Registry(install_.string());
             Product();
             WriteAll(package_ / "faq.txt", "notes");
             WriteAll(package_ / "Data" / "map.dat", "map");
         }},
        {"not found", "-s", 2,
         [&] {
             Registry((root_ / "cwd").string());
             WriteAll(package_ / "a.txt", "a");
         }},
        {"running", "/s", 32,
         [&] {
             Registry(install_.string());
             RunningProduct();
             WriteAll(package_ / "a.txt", "a");
         }},
        {"cannot open", "-S", 110,
         [&] {
             Registry(install_.string());
             fs::create_directories(install_ / "BV.EXE");
             WriteAll(package_ / "a.txt", "a");
         }},
        {"partly installed", "/S", 82,
         [&] {
             Registry(install_.string());
             Product();
             fs::permissions(install_ / "BV.EXE", fs::perms::owner_read);
             WriteAll(install_ / "locked.txt", "old");
             fs::permissions(install_ / "locked.txt", fs::perms::owner_read);
             WriteAll(package_ / "locked.txt", "new");
             WriteAll(package_ / "fine.txt", "fine");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outcome);
        Reset();
        c.setUp();
        const RunResult interactive = Run(c.exitCode == 0);
        EXPECT_EQ(interactive.exitCode, 0);
        EXPECT_NE(interactive.messageBox, "");
        EXPECT_EQ(interactive.notes, c.exitCode == 0 ? NotesStarted() : "");
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
    // one refused, a directory that cannot be made and its file, a link
    // that leads into the installation.
    fs::create_directories(root_ / "old place");
    Registry((root_ / "old place").string(), install_.string());
    Product();
    WriteAll(package_ / "Data" / "map.dat", "map");
    WriteAll(package_ / "locked.txt", "new");
    WriteAll(install_ / "locked.txt", "old");
    fs::permissions(install_ / "locked.txt", fs::perms::owner_read);
    WriteAll(package_ / "Blocked" / "x.txt", "x");
    WriteAll(install_ / "Blocked", "a file where a directory belongs");
    fs::create_directory_symlink(install_, package_ / "Up");
    fs::create_directories(root_ / "log folder");
    const fs::path log = root_ / "log folder" / "update log.txt";

    const RunResult run = Run(false, {"/S", "/LOG=" + log.string()});
    EXPECT_EQ(run.exitCode, 82);
    EXPECT_EQ(run.messageBox, "");
    EXPECT_EQ(ReadAll(install_ / "Data" / "map.dat"), "map");

    std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 9u) << ReadAll(log);
    EXPECT_EQ(lines[0], "Brenvolt-Update 1.0.0.0 gestartet; Paket: " + PackageRoot() +
                            "; Befehlszeile: /S \"/LOG=" + log.string() + "\"");
    EXPECT_EQ(lines[1],
              "Keine Installation unter HKEY_LOCAL_MACHINE: " + (root_ / "old place").string() +
                  " enth\xE4lt kein BV.EXE (Fehler 2: The system cannot find the "
                  "file specified.)");
    EXPECT_EQ(lines[2], "Installation gefunden unter HKEY_CURRENT_USER: " + install_.string());
    // The copy's lines in the order of the enumeration.
    std::vector<std::string> copied(lines.begin() + 3, lines.end() - 1);
    std::sort(copied.begin(), copied.end());
    const std::string target = install_.string() + "\\";
    const std::vector<std::string> expected = {
        "Kopiert: " + target + "Data\\map.dat",
        "Nicht kopiert: " + target +
            "Blocked\\x.txt (Fehler 3: The system cannot find the path specified.)",
        "Nicht kopiert: " + target + "locked.txt (Fehler 5: Access is denied.)",
        "Verzeichnis ausgelassen, es f\xFChrt in die Installation: " + PackageRoot() + "Up",
        "Verzeichnis nicht angelegt: " + target +
            "Blocked (Fehler 183: Cannot create a file when that file already exists.)",
    };
    EXPECT_EQ(copied, expected);
    EXPECT_EQ(lines[8], "Ergebnis: Das Update wurde nicht vollst\xE4ndig installiert, 1 Dateien "
                        "kopiert, 4 Fehler; Exitcode 82");
}

TEST_F(UnattendedRun, LogThatCannotBeWrittenStopsNothingAndIsReported) {
    Registry(install_.string());
    Product();
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
}

// A log in the package folder is not copied along (it could not be: it is
// open for writing); a package file of the same name elsewhere still is.
TEST_F(UnattendedRun, LogInThePackageIsNotCopied) {
    Registry(install_.string());
    Product();
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

TEST_F(UnattendedRun, WrongCommandLineTouchesNothing) {
    Registry(install_.string());
    Product();
    fs::permissions(install_ / "BV.EXE", fs::perms::owner_read); // a run would reset it
    WriteAll(package_ / "a.txt", "a");
    const std::string log = (root_ / "update.log").string();
    const auto before = Snapshot(install_);
    struct Case {
        std::vector<std::string> arguments;
        const char* shown; // the word in the message box; null: silent, no box
    } cases[] = {
        {{"/X"}, "/X"},          {{"/LOG=" + log, "/Silent"}, "/Silent"},
        {{"/LOG="}, "/LOG="},    {{""}, "\"\""},
        {{"/S", "-q"}, nullptr}, {{"/S", "/LOG=" + log, "/LOG=" + log}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const RunResult run = Run(false, c.arguments);
        EXPECT_EQ(run.exitCode, 87);
        char usage[512];
        std::snprintf(usage, sizeof usage, kUsage, c.shown);
        EXPECT_EQ(run.messageBox, c.shown != nullptr ? std::string(usage) : std::string());
        EXPECT_EQ(Snapshot(install_), before);
        EXPECT_FALSE(fs::exists(log));
        EXPECT_EQ(run.notes, "");
    }
}

// The log is on disk as the run goes: a run stopped for good in its message
// box (its standard error, where the stand-in shows boxes, is a full pipe)
// and then killed has left every line.
TEST_F(UnattendedRun, KilledRunLeavesItsLog) {
    Registry(install_.string());
    Product();
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
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(errorPipe[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the run ended by itself";

    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 4u) << ReadAll(log);
    EXPECT_EQ(lines[2], "Kopiert: " + install_.string() + "\\faq.txt");
    EXPECT_EQ(lines[3], "Ergebnis: Das Update wurde korrekt installiert, 1 Dateien kopiert; "
                        "Exitcode 0");
}

} // namespace
