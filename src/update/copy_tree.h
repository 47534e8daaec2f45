#pragma once

#include <cstdint>

#include "text_string.h"

// Where CopyTree can fail with a whole directory.
enum class CopyStep {
    kReadPackageDirectory, // listing a directory of the package
    kMakeTargetDirectory,  // creating its counterpart under the target
};

// Told of each file that CopyTree copies or fails to copy and of each
// directory it cannot read or make, as it happens; a log listens. Any
// function may be null; `context` is handed back to them.
struct CopyReporter {
    void* context;
    // The target path of a file, and 0 when it was copied, else the Win32
    // error code of the failure.
    void (*file)(void* context, const TextString& target, DWORD error);
    // The package directory not read, or the target directory not made.
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
// skipped. Returns the number of files copied. When `failures` is given, it
// receives the number of files that could not be copied plus the number of
// package directories that could not be read. A `reporter`, when given, is
// told of every file and failed directory.
//
// A directory that is already on the path being copied (a link back to a
// parent), or that is the target directory itself, is not entered again.
int CopyTree(const TextString& source, const TextString& target, const char* pattern,
             std::uint32_t* failures = nullptr, const CopyReporter* reporter = nullptr);
