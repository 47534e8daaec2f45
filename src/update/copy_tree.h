#pragma once

#include <cstdint>

#include "copy_progress.h"
#include "text_string.h"

// Where CopyTree can fail with a whole directory.
enum class CopyStep {
    kReadPackageDirectory,  // listing a directory of the package
    kMakeTargetDirectory,   // creating its counterpart under the target
    kEnterPackageDirectory, // not entered: it leads into the installation being written
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
};

// Copies every file of `source` matching `pattern`, and recursively of its
// subdirectories, into the same relative place under `target`, creating
// directories as needed and pumping the thread's messages after each entry.
// Names beginning with a dot and files named "Update.exe" (in any case) are
// skipped. Returns the number of files copied.
//
// Each file is written whole under a temporary name beside its target and
// then renamed over it, so an installed file is never left part old, part
// new: it is the old one when anything fails, the new one otherwise.
//
// A directory of the installation below `target` that is a link, a junction
// or another reparse point is never entered (error 1920): it could lead out
// of the installation. `target` itself is the administrator's choice and is
// taken as it is. Two entries of one package directory whose names differ
// only in case are one name on Windows: neither is copied (error 183).
//
// When `failures` is given, it receives the number of package entries that
// were not installed: files not copied (refused, failed, or with a name that
// cannot exist on Windows), directories that could not be made, package
// directories that could not be read, and directories not entered because
// they lead into the installation being written (or the package is the
// installation). A link back to a package directory already being copied is
// not entered and is no failure: its files are installed through that
// directory.
//
// A `reporter`, when given, is told of every file and failed directory.
// A `progress`, when given, hears of each file and of each chunk of it.
int CopyTree(const TextString& source, const TextString& target, const char* pattern,
             std::uint32_t* failures = nullptr, const CopyReporter* reporter = nullptr,
             CopyProgress* progress = nullptr);
