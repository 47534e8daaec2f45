#pragma once

#include <cstdint>

#include "text_string.h"

// Copies every file of `source` matching `pattern`, and recursively of its
// subdirectories, into the same relative place under `target`, creating
// directories as needed and pumping the thread's messages after each entry.
// Names beginning with a dot and files named "Update.exe" (in any case) are
// skipped. Returns the number of files copied. When `failures` is given, it
// receives the number of files that could not be copied plus the number of
// package directories that could not be read.
//
// A directory that is already on the path being copied (a link back to a
// parent), or that is the target directory itself, is not entered again.
int CopyTree(const TextString& source, const TextString& target, const char* pattern,
             std::uint32_t* failures = nullptr);
