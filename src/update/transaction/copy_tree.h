#pragma once

#include <cstdint>

#include "text_string.h"

class PackageCheck;

// Where CopyTree can fail with a whole directory.
enum class CopyStep {
    kReadPackageDirectory,  // listing a directory of the package
    kMakeTargetDirectory,   // creating its counterpart under the target
    kEnterPackageDirectory, // not entered: it leads into the installation being written
    kWriteJournal,          // the journal of the run could not be made or written
    kHoldFiles, // no more handles: the run cannot hold its files to its end (at this file)
};

// What an update came to.
enum class InstallState {
    kInstalled, // every file in
    kUnchanged, // nothing installed: the installation is as it was
    kDamaged,   // not installed, and not all of the old state came back
};

// Told of each file that CopyTree copies or fails to copy and of each
// directory it cannot read, make or enter, as it happens; a log listens.
// Any function may be null; `context` is handed back to them.
struct CopyReporter {
    void* context;
    // The target path of a file, and 0 when it was copied, else the Win32
    // error code of the failure.
    void (*file)(void* context, const TextString& target, DWORD error);
    // The package directory not read or entered (error 0: none to tell),
    // or the target directory not made.
    void (*directory)(void* context, const TextString& path, CopyStep step, DWORD error);
    // Asked before each package file is copied, with its name and path:
    // true leaves it out (the log being written, say), neither copied nor
    // counted nor reported.
    bool (*skip)(void* context, const char* name, const TextString& source);
    // A file that could not be put back as it was while the update was
    // undone, and why.
    void (*notRestored)(void* context, const TextString& path, DWORD error);
    // Asked before each package file: false stops the run, which is then
    // undone as when a file fails. The place to show progress.
    bool (*keepGoing)(void* context);
    // A step on a file that another program held for a moment was tried
    // again: the time waited, and 0 when it then succeeded, else the error
    // it gave up on.
    void (*waited)(void* context, const TextString& path, DWORD milliseconds,
                   DWORD error) = nullptr;
    // An installed file with the read-only attribute that is replaced.
    void (*readOnlyReplaced)(void* context, const TextString& target) = nullptr;
};

// Hears how far a copy is, and answers whether the user asked to stop; the
// run fills it with its progress window (copy_progress.h). Every function is
// set; `context` is handed back to them.
struct CopyWatcher {
    void* context;
    // Around each file that is tried, copied or not, with its target path
    // and its size in the package listing.
    void (*beginFile)(void* context, const TextString& target, std::uint64_t size);
    void (*endFile)(void* context);
    // The bytes of the current file staged so far (0 between files and
    // while a step waits), so that a window keeps answering; true when the
    // user asked to stop.
    bool (*poll)(void* context, std::uint64_t fileBytes);
    // Whether the user asked to stop, without a poll.
    bool (*stopAsked)(void* context);
};

struct CopyResult {
    int copied = 0;                      // files installed: every one of the package, or none
    std::uint32_t failedFiles = 0;       // package files that could not be copied
    std::uint32_t failedDirectories = 0; // directories not read, made or entered
    std::uint32_t damagedFiles = 0; // of failedFiles: missing from the package, or not as listed
    bool stopped =
        false; // the reporter's keepGoing or the user's cancel said stop, before the commit
    InstallState state = InstallState::kUnchanged;

    std::uint32_t Failures() const { return failedFiles + failedDirectories; }
};

// Installs every file of `source` matching `pattern`, and recursively of
// its subdirectories, into the same relative place under `target`, creating
// directories as needed and pumping the thread's messages after each entry:
// all of them or none (update_transaction.h). Names beginning with a dot and
// files named "Update.exe" (in any case) are skipped.
//
// The walk stages each file beside its target; only when every file and
// directory is there does the transaction put them in place. Anything that
// fails undoes the whole run: a file refused, failed, or with a name that
// cannot exist on Windows; a directory that could not be made; a package
// directory that could not be read; a directory not entered because it
// leads into the installation being written (or the package is the
// installation); the run's journal, when it cannot be made. Every failure is counted and reported,
// and the walk goes on, so that one run tells of all of them. A link back to a package directory
// already being copied is not entered and is no failure: its files are installed through that
// directory.
//
// A directory of the installation below `target` that is a link, a junction
// or another reparse point is never entered (error 1920): it could lead out
// of the installation. `target` itself is the administrator's choice and is
// taken as it is. Two entries of one package directory whose names differ
// only in case are one name on Windows: neither is copied (error 183).
//
// A `reporter`, when given, is told of every file and failed directory.
// A `progress`, when given, hears of each file and of each chunk of it as it
// is staged; once the user asks it to stop, the file being staged is
// aborted, no further file is begun and the run is undone (`stopped`).
//
// A `check`, when given, holds the package's manifest: a file it does not
// list is left out (and told to the check, not to the reporter); a staged
// copy not as listed, a listed file not found, a file not listed whose name
// is installed (a product file that the manifest lost) and a top-level
// Update.exe not as listed are failed files (damagedFiles), and the run is
// undone.
CopyResult CopyTree(const TextString& source, const TextString& target, const char* pattern,
                    const CopyReporter* reporter = nullptr, CopyWatcher* progress = nullptr,
                    PackageCheck* check = nullptr);
