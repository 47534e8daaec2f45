#include "package_size.h"

#include "directory_identity.h"
#include "entry_name.h"
#include "package_entries.h"
#include "platform/win32_api.h"

namespace {

struct Level {
    DirectoryIdentity identity;
    const Level* parent;

    bool Holds(const DirectoryIdentity& other) const {
        for (const Level* level = this; level != nullptr; level = level->parent)
            if (level->identity.SameAs(other))
                return true;
        return false;
    }
};

class PackageWalk {
  public:
    PackageWalk(const char* pattern, const TextString& target, const CopyReporter* reporter)
        : pattern_(pattern), reporter_(reporter), target_(IdentifyDirectory(target.GetText())) {}

    std::uint64_t Measure(const TextString& directory, const Level& level) const {
        TextString prefix(directory);
        prefix.EnsureTrailingSeparator();
        TextString path(prefix);
        path.Append(pattern_);
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(path.GetText(), &entry);
        if (search == INVALID_HANDLE_VALUE)
            return 0;
        std::uint64_t total = 0;
        do {
            const char* const name = entry.cFileName;
            if (name[0] == '.' || package_entries::IsProgram(name) || !IsWindowsFileName(name))
                continue;
            path.Assign(prefix).Append(name);
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                if (!Skips(name, path))
                    total += (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) |
                             entry.nFileSizeLow;
                continue;
            }
            const Level inner{IdentifyDirectory(path.GetText()), &level};
            if (!level.Holds(inner.identity) && !inner.identity.SameAs(target_))
                total += Measure(path, inner);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
        return total;
    }

  private:
    // The files the copy leaves out on the reporter's word (the log).
    bool Skips(const char* name, const TextString& path) const {
        return reporter_ != nullptr && reporter_->skip != nullptr &&
               reporter_->skip(reporter_->context, name, path);
    }

    const char* pattern_;
    const CopyReporter* reporter_;
    DirectoryIdentity target_;
};

} // namespace

std::uint64_t MeasurePackage(const TextString& source, const TextString& target,
                             const char* pattern, const CopyReporter* reporter) {
    const PackageWalk walk(pattern, target, reporter);
    const Level root{IdentifyDirectory(source.GetText()), nullptr};
    return walk.Measure(source, root);
}
