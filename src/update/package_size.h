#pragma once

#include <cstdint>

#include "copy_tree.h"
#include "text_string.h"

// The total size, in bytes, of the files a copy of `source` into `target`
// would take: every file matching `pattern` in source and its
// subdirectories, with the names the copy leaves out (dot names, our own
// file, names that cannot exist on Windows, the files that the reporter's
// skip leaves out) left out here too. Only the directory listings are read
// (the sizes come with each entry), never a file. A link back to a
// directory on the way down, or into the target, is not entered, as the
// copy does not enter it.
std::uint64_t MeasurePackage(const TextString& source, const TextString& target,
                             const char* pattern, const CopyReporter* reporter = nullptr);
