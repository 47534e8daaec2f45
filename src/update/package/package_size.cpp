#include "package_size.h"

#include "directory_identity.h"
#include "entry_name.h"
#include "package_entries.h"
#include "platform/win32_api.h"

namespace {

// The journal's lines besides those of files and folders: its first line,
// and the two marks of the commit, with room to spare.
const std::uint64_t kJournalFixedBytes = 64;
// A line's kind letter, blank and CR LF around its path.
const std::uint32_t kJournalLineExtra = 4;

std::uint64_t InClusters(std::uint64_t bytes, std::uint32_t clusterBytes) {
    return (bytes + clusterBytes - 1) / clusterBytes * clusterBytes;
}

using Level = IdentityChain;

class PackageWalk {
  public:
    PackageWalk(const char* pattern, const TextString& target, const PackageFilter* filter,
                std::uint32_t clusterBytes, std::uint32_t rootLength,
                const PackageManifest* manifest)
        : pattern_(pattern), filter_(filter), target_(IdentifyDirectory(target.GetText())),
          clusterBytes_(clusterBytes), rootLength_(rootLength), manifest_(manifest) {}

    // Adds up the files of directory and below into size, and their
    // journal lines (paths relative to the package root, as in the
    // installation) into journalBytes.
    void Measure(const TextString& directory, const Level& level, PackageSize& size,
                 std::uint64_t& journalBytes) const {
        TextString prefix(directory);
        prefix.EnsureTrailingSeparator();
        TextString path(prefix);
        path.Append(pattern_);
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(path.GetText(), &entry);
        if (search == INVALID_HANDLE_VALUE)
            return;
        do {
            const char* const name = entry.cFileName;
            if (name[0] == '.' || package_entries::IsProgram(name) || !IsWindowsFileName(name))
                continue;
            path.Assign(prefix).Append(name);
            const std::uint64_t line = path.GetLength() - rootLength_ + kJournalLineExtra;
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                if (!Skips(name, path) && Listed(path)) {
                    const std::uint64_t bytes =
                        (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) |
                        entry.nFileSizeLow;
                    size.bytes += bytes;
                    size.staged += InClusters(bytes, clusterBytes_);
                    journalBytes += line;
                }
                continue;
            }
            const Level inner{IdentifyDirectory(path.GetText()), &level};
            if (!level.Holds(inner.identity) && !inner.identity.SameAs(target_)) {
                journalBytes += line; // as if the run made it
                Measure(path, inner, size, journalBytes);
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }

  private:
    // The files the copy leaves out on the filter's word (the log).
    bool Skips(const char* name, const TextString& path) const {
        return filter_ != nullptr && filter_->skip != nullptr &&
               filter_->skip(filter_->context, name, path);
    }

    // The files the copy leaves out as the manifest does not list them.
    bool Listed(const TextString& path) const {
        return manifest_ == nullptr || manifest_->Find(path.GetText() + rootLength_) != nullptr;
    }

    const char* pattern_;
    const PackageFilter* filter_;
    DirectoryIdentity target_;
    std::uint32_t clusterBytes_;
    std::uint32_t rootLength_; // of the package root and its separator
    const PackageManifest* manifest_;
};

} // namespace

PackageSize MeasurePackage(const TextString& source, const TextString& target, const char* pattern,
                           const PackageFilter* filter, std::uint32_t clusterBytes,
                           const PackageManifest* manifest) {
    if (clusterBytes == 0)
        clusterBytes = 1;
    TextString root(source);
    root.EnsureTrailingSeparator();
    const PackageWalk walk(pattern, target, filter, clusterBytes, root.GetLength(), manifest);
    const Level level{IdentifyDirectory(source.GetText()), nullptr};
    PackageSize size;
    std::uint64_t journalBytes = kJournalFixedBytes;
    walk.Measure(source, level, size, journalBytes);
    size.staged += InClusters(journalBytes, clusterBytes);
    return size;
}
