#include "package_walk.h"

#include "directory_identity.h"
#include "folder_listing.h"
#include "name_clashes.h"
#include "package_entries.h"
#include "package_names.h"

namespace {

using Level = IdentityChain;

class Walk {
  public:
    Walk(const TextString& root, PackageVisitor& visitor) : visitor_(visitor) {
        TextString top(root);
        rootLength_ = top.EnsureTrailingSeparator().GetLength();
    }

    void Folder(const TextString& directory, const Level& level, bool top) {
        TextString prefix(directory), path;
        prefix.EnsureTrailingSeparator();
        path.Assign(prefix).Append(package_names::kSearchPattern);
        FolderListing listing;
        if (!listing.Read(path.GetText())) {
            if (GetLastError() != ERROR_FILE_NOT_FOUND)
                visitor_.Refused(directory, GetLastError());
            return;
        }
        NameClashes clashes;
        clashes.Collect(listing);
        for (FolderListing::Entry* entry = listing.Next(nullptr); entry != nullptr;
             entry = listing.Next(entry)) {
            const char* const name = entry->Name();
            path.Assign(prefix).Append(name);
            if (package_entries::IsProgram(name)) {
                // Never installed; the top-level one is the run itself.
                if (top && !entry->IsDirectory())
                    visitor_.File(path, path.GetText() + rootLength_);
                continue;
            }
            const DWORD refusal = package_entries::RefusalOf(name, clashes);
            if (refusal != ERROR_SUCCESS) {
                visitor_.Refused(path, refusal);
            } else if (!entry->IsDirectory()) {
                visitor_.File(path, path.GetText() + rootLength_);
            } else {
                const Level inner{IdentifyDirectory(path.GetText()), &level};
                if (!level.Holds(inner.identity))
                    Folder(path, inner, false);
            }
        }
        if (listing.ReadError() != ERROR_SUCCESS)
            visitor_.Refused(directory, listing.ReadError());
    }

  private:
    PackageVisitor& visitor_;
    std::uint32_t rootLength_;
};

} // namespace

void WalkPackage(const TextString& root, PackageVisitor& visitor) {
    Walk walk(root, visitor);
    const Level level{IdentifyDirectory(root.GetText()), nullptr};
    walk.Folder(root, level, true);
}
