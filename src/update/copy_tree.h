#pragma once

#include <cstdint>

#include "text_string.h"

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
// When `failures` is given, it receives the number of package entries that
// were not installed: files not copied (refused, failed, or with a name that
// cannot exist on Windows), directories that could not be made, package
// directories that could not be read, and directories not entered because
// they lead into the installation being written (or the package is the
// installation). A link back to a package directory already being copied is
// not entered and is no failure: its files are installed through that
// directory.
int CopyTree(const TextString& source, const TextString& target, const char* pattern,
             std::uint32_t* failures = nullptr);
