#pragma once

#include <cstdint>

#include "package_manifest.h"
#include "text_string.h"

// What a copy of `source` into `target` would stage: every file matching `pattern` in source and
// its subdirectories, with the names the copy leaves out (dot names, our own file, names that
// cannot exist on Windows, the files that the filter leaves out, and, when a `manifest` is
// given, the files it does not list) left out here too. Only
// the directory listings are read (the sizes come with each entry), never a file. A link back to a
// directory on the way down, or into the target, is not entered, as the
// copy does not enter it.
struct PackageSize {
    // The files' sizes added up: the total of the progress bar.
    std::uint64_t bytes = 0;
    // The room staging takes on a volume of clusterBytes clusters: each
    // file in whole clusters, as it lies beside the installed one until the
    // commit, and the journal, a line for each file and folder.
    std::uint64_t staged = 0;
};
// The files that a copy leaves out on its reporter's word (CopyReporter::skip,
// copy_tree.h, the log being written, say): asked of each package file with
// its name and path, true leaves it out. `skip` may be null.
struct PackageFilter {
    void* context;
    bool (*skip)(void* context, const char* name, const TextString& source);
};

PackageSize MeasurePackage(const TextString& source, const TextString& target, const char* pattern,
                           const PackageFilter* filter = nullptr, std::uint32_t clusterBytes = 1,
                           const PackageManifest* manifest = nullptr);
