// The built Update.exe run as a real process from a package folder, with a
// test registry file and a recording notepad.exe first on PATH: what the
// tests of such runs share.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "file_locks_off.h"

namespace fs = std::filesystem;

// In a named namespace: the tests of every file share one fixture class.
namespace update_run {

const char kDone2[] = "Info: Es wurden 2 Dateien kopiert.\nDas Update wurde korrekt installiert.\n";
// The message box line is the caption, ": " and the text, then a newline;
// two of the texts end in a line break of their own.
const char kNotFound[] =
    "Error: Das Update konnte nicht installiert werden, da das Programm nicht\ngefunden "
    "wurde.\n\nInstallieren Sie erst Brenvolt v1.00, bevor Sie das Update anwenden.\n\n";
const char kRunning[] = "Error: Sie m\xC3\xBCssen erst Brenvolt schlie\xC3\x9F"
                        "en,\nbevor Sie das Update installieren.\n";
const char kNotRestored[] =
    "Error: Das Update wurde nicht installiert, und die vorige Installation konnte nicht\n"
    "vollst\xC3\xA4ndig wiederhergestellt werden.\n\n"
    "Schlie\xC3\x9F"
    "en Sie alle Programme, die Dateien von Brenvolt ge\xC3\xB6"
    "ffnet haben,\nund starten Sie das Update erneut: es stellt die Installation wieder her.\n";
const char kPackageIsInstallation[] =
    "Error: Das Update-Paket liegt im Installationsverzeichnis von Brenvolt und kann\n"
    "nicht \xC3\xBC"
    "ber sich selbst installiert werden.\n\n"
    "Kopieren Sie das Update-Paket in einen anderen Ordner und starten Sie es\n"
    "dort erneut. Die Installation ist unver\xC3\xA4ndert.\n";
const char kCannotOpen[] =
    "Error: Ein Fehler ist w\xC3\xA4hrend dem Update aufgetreten.\n\n"
    "Installieren Sie erst Brenvolt v1.00, bevor Sie das Update anwenden.\n\n";

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteAll(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// The box of a run that installed nothing and left the installation as it was.
inline std::string NotInstalled(int files, int folders = 0) {
    return "Error: " +
           (files == 0 && folders != 0
                ? ""
                : std::to_string(files) + " Dateien konnten nicht kopiert werden.\n") +
           (folders == 0 ? ""
                         : std::to_string(folders) +
                               " Ordner konnten nicht gelesen oder angelegt werden.\n") +
           "\nDas Update wurde nicht installiert, die Installation ist unver\xC3\xA4ndert.\n";
}

// The files of the run's own left in a directory: staged files, backups, the
// journal.
inline std::string TemporaryFiles(const fs::path& directory) {
    std::string names;
    for (const auto& entry : fs::directory_iterator(directory))
        if (entry.path().filename().string().rfind(".Update-", 0) == 0 ||
            entry.path().filename() == ".Update.journal")
            names += entry.path().filename().string() + " ";
    return names;
}

// What a run showed after the line of its progress window, which a run
// that takes more than a second has.
inline std::string AfterProgressLine(const std::string& error) {
    if (error.empty() || error[0] != '\r')
        return error;
    const std::size_t end = error.find('\n');
    return end == std::string::npos ? std::string() : error.substr(end + 1);
}

inline std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

// Escapes a value for a .reg file.
inline std::string RegValue(const std::string& text) {
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
            productPid_ = -1;
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
    // The product installed in install_ and found under HKEY_LOCAL_MACHINE.
    void Installed() {
        Registry(install_.string());
        Product();
    }

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
        std::string command = Command(package_, "timeout -s KILL 60");
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

    // The shell command that starts the Update.exe in package with launcher.
    std::string Command(const fs::path& package, const std::string& launcher) const {
        return "cd " + Quoted((root_ / "cwd").string()) + " && " + environment_ +
               " UPDATE_REGISTRY_FILE=" +
               Quoted(registryFile_.empty() ? (root_ / "registry.reg").string() : registryFile_) +
               " PATH=" + Quoted((root_ / "bin").string()) + ":\"$PATH\" " + launcher + " " +
               Quoted((package / "Update.exe").string());
    }

    std::string NotesStarted() const { return (root_ / "cwd").string() + "|faq.txt\n"; }

    fs::path root_, package_, install_;
    std::string registryFile_; // instead of root_/registry.reg
    std::string environment_;  // NAME=value words for the run
    pid_t productPid_ = -1;
};

inline std::string Filled(std::size_t size, char fill) {
    std::string text(size, fill);
    for (std::size_t i = 0; i < size; i += 4096)
        text[i] = static_cast<char>('0' + (i / 4096) % 10); // a page out of place shows
    return text;
}

// Update.exe started from a package without being waited for.
class StartedRun {
  public:
    // command: from UpdateRun::Command.
    StartedRun(const std::string& command, const fs::path& error) : error_(error) {
        const std::string withError = command + " 2>" + Quoted(error.string());
        pid_ = fork();
        if (pid_ == 0) {
            execl("/bin/sh", "sh", "-c", withError.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~StartedRun() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t Pid() const { return pid_; }

    // Whether it has ended (without waiting).
    bool Ended() {
        if (pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_)
            pid_ = -1;
        return pid_ <= 0;
    }
    // Waits for its end, for at most a minute; -1 when it did not end or
    // exit.
    int Finish() {
        for (int i = 0; i < 600 && !Ended(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return Ended() && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }
    std::string MessageBox() const { return ReadAll(error_); }

  private:
    fs::path error_;
    pid_t pid_ = -1;
    int status_ = 0;
};

} // namespace update_run

using namespace update_run;
