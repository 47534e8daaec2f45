// Test driver for the shipped program under Wine (or Windows): starts it
// from its own folder, reads and answers its message box, waits for its end,
// and reports what it saw, one "key=value" line each, for the test script.
//
//   update_driver [--hold FILE]... [--hold-at-commit FILE] [--scan FOLDER]
//                 [--attributes FILE]... [--timeout SECONDS] [--no-box] [--progress]
//                 [--cancel-at POSITION] PROGRAM [ARGUMENT]...
//
// --hold opens FILE without sharing for the whole run (a running product, a
// target that cannot be overwritten); --hold-at-commit opens FILE for
// reading, sharing reading and writing but not deletion, as soon as the
// first backup of the commit (".Update-*.old") shows in FILE's folder, and
// keeps what it got to the end (commit_reader.h); --scan holds each file written or
// renamed in FOLDER for a moment, as a scanner does (scanner.h); --attributes
// reports FILE's attributes
// before and after the run. The ARGUMENTs follow the program's name on its
// command line as they are given, one blank between them, so that the
// caller writes their quotes. The driver exits 0 when the program showed a
// box and ended, 2 when no box came in time, 3 when it did not end, 1 on
// wrong usage; the program is ended in every case.
//
// --progress watches for the program's progress window while it runs and
// reports what its bar showed (progress_window.h); --cancel-at also clicks
// its "Abbrechen" once the bar is at POSITION or beyond.
//
// --no-box: the program must end without a message box (a silent run). It is
// watched for boxes for as long as it runs; a box would hold it until
// answered, so none can slip by. The driver then exits 0 when it ended
// without a box, 4 when a box came (answered and reported like any other),
// 3 when it did not end within the timeout.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "child_process.h"
#include "commit_reader.h"
#include "message_box.h"
#include "progress_window.h"
#include "report.h"
#include "scanner.h"

namespace {

// Hang guards, not expectations: under qemu on a loaded machine a 32-bit
// program may take several seconds to start or to end after its box.
const DWORD kExitTimeoutMs = 60000;
const DWORD kWindowTimeoutMs = 20000;
const DWORD kPollMs = 50;

struct Options {
    std::vector<std::string> holds;
    std::string holdAtCommit;
    std::string scan;
    std::vector<std::string> attributes;
    DWORD boxTimeoutMs = 60000;
    bool noBox = false;
    bool progress = false;
    int cancelAt = -1;
    std::string program;
    std::string arguments; // the rest of the command line, as given
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hold") == 0 && i + 1 < argc)
            options.holds.push_back(argv[++i]);
        else if (std::strcmp(argv[i], "--hold-at-commit") == 0 && i + 1 < argc)
            options.holdAtCommit = argv[++i];
        else if (std::strcmp(argv[i], "--scan") == 0 && i + 1 < argc)
            options.scan = argv[++i];
        else if (std::strcmp(argv[i], "--attributes") == 0 && i + 1 < argc)
            options.attributes.push_back(argv[++i]);
        else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc)
            options.boxTimeoutMs = static_cast<DWORD>(std::atoi(argv[++i])) * 1000;
        else if (std::strcmp(argv[i], "--no-box") == 0)
            options.noBox = true;
        else if (std::strcmp(argv[i], "--progress") == 0)
            options.progress = true;
        else if (std::strcmp(argv[i], "--cancel-at") == 0 && i + 1 < argc) {
            options.progress = true;
            options.cancelAt = std::atoi(argv[++i]);
        } else if (argv[i][0] != '-') {
            options.program = argv[i];
            for (++i; i < argc; ++i)
                options.arguments += std::string(" ") + argv[i];
        } else
            return false;
    }
    return !options.program.empty();
}

std::vector<HANDLE> HoldFiles(const std::vector<std::string>& paths) {
    std::vector<HANDLE> handles;
    for (const std::string& path : paths) {
        HANDLE file =
            CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        Report("hold",
               path + (file != INVALID_HANDLE_VALUE ? std::string("|ok")
                                                    : "|error " + std::to_string(GetLastError())));
        if (file != INVALID_HANDLE_VALUE)
            handles.push_back(file);
    }
    return handles;
}

// Started as from Explorer: its own folder is the current directory.
bool StartProgram(const std::string& program, const std::string& arguments,
                  PROCESS_INFORMATION& process) {
    std::string folder = program;
    const std::size_t lastSeparator = folder.find_last_of("\\/");
    folder = lastSeparator == std::string::npos ? "." : folder.substr(0, lastSeparator + 1);
    std::string commandLine = "\"" + program + "\"" + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          folder.c_str(), &startup, &process) != FALSE;
}

void ReportAttributes(const char* key, const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%lX", GetFileAttributesA(path.c_str()));
        Report(key, path + "|" + hex);
    }
}

void AnswerBox(HWND box, int number) {
    const std::string prefix = "box" + std::to_string(number) + "-";
    Report((prefix + "caption").c_str(), ReadCaption(box));
    Report((prefix + "text").c_str(), ReadText(box));
    Report((prefix + "icon").c_str(), IdentifyIcon(box));
    PressOk(box);
    // Until it is gone, the same box would be found again.
    for (int i = 0; i < 100 && IsWindow(box) && IsWindowVisible(box); ++i)
        Sleep(kPollMs);
}

// Reports each Notepad the program started (command line, windows) and ends it.
void ReportNotes(DWORD parentId) {
    const std::vector<DWORD> notes = FindChildProcesses(parentId, "notepad.exe");
    Report("notepad-count", std::to_string(notes.size()));
    for (DWORD id : notes) {
        Report("notepad-command", ReadCommandLine(id));
        std::vector<std::string> windows;
        for (DWORD waited = 0; windows.empty() && waited < kWindowTimeoutMs; waited += kPollMs) {
            Sleep(kPollMs);
            windows = DescribeWindows(id);
        }
        for (const std::string& window : windows)
            Report("notepad-window", window);
        EndProcess(id);
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: update_driver [--hold FILE]... [--attributes FILE]... "
                             "[--timeout SECONDS] [--no-box] [--progress] [--cancel-at POSITION] "
                             "PROGRAM [ARGUMENT]...\n");
        return 1;
    }
    ReportAttributes("attributes-before", options.attributes);
    std::vector<HANDLE> held = HoldFiles(options.holds);
    std::unique_ptr<Scanner> scanner;
    if (!options.scan.empty()) {
        scanner.reset(new Scanner(options.scan));
        Report("scan", scanner->Started() ? "ok" : "error " + std::to_string(GetLastError()));
    }
    std::unique_ptr<CommitReader> reader;
    if (!options.holdAtCommit.empty())
        reader.reset(new CommitReader(options.holdAtCommit));

    PROCESS_INFORMATION process = {};
    if (!StartProgram(options.program, options.arguments, process)) {
        Report("result", "not-started " + std::to_string(GetLastError()));
        return 1;
    }

    ProgressWatch watch;
    watch.cancelAt = options.cancelAt;
    int boxes = 0;
    int result = 0;
    DWORD deadline = GetTickCount() + options.boxTimeoutMs;
    for (;;) {
        const bool ended = WaitForSingleObject(process.hProcess, kPollMs) == WAIT_OBJECT_0;
        HWND box = ended ? nullptr : FindMessageBox(process.dwProcessId);
        if (options.progress && !ended && box == nullptr)
            WatchProgress(process.dwProcessId, watch);
        if (box != nullptr) {
            // The progress window must be gone before the final box.
            if (options.progress && watch.window != nullptr && IsWindow(watch.window) &&
                IsWindowVisible(watch.window))
                Report("progress-window-with-box", "yes");
            AnswerBox(box, ++boxes);
            deadline = GetTickCount() + kExitTimeoutMs;
        } else if (ended) {
            break;
        } else if (static_cast<LONG>(GetTickCount() - deadline) > 0) {
            result = boxes == 0 && !options.noBox ? 2 : 3;
            break;
        }
    }
    Report("boxes", std::to_string(boxes));
    if (options.progress)
        ReportProgress(watch);

    if (result != 0) {
        TerminateProcess(process.hProcess, 255);
        WaitForSingleObject(process.hProcess, 5000);
    } else {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        Report("exit-code", std::to_string(exitCode));
        if (options.noBox && boxes > 0)
            result = 4; // a silent run spoke
        else if (!options.noBox && boxes == 0)
            result = 2; // ended without a word to the user
    }
    reader.reset(); // reports what it got
    ReportNotes(process.dwProcessId);
    ReportAttributes("attributes-after", options.attributes);
    Report("result", result == 0   ? "ok"
                     : result == 2 ? "no-message-box"
                     : result == 4 ? "message-box"
                                   : "no-exit");

    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (HANDLE file : held)
        CloseHandle(file);
    return result;
}
