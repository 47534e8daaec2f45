#include "package_check.h"

namespace {

// Chunks of a staged file read back for its hash.
const std::uint32_t kChunk = 256 * 1024;

} // namespace

PackageCheck::PackageCheck(PackageManifest& manifest, const TextString& packageRoot,
                           void (*found)(void*, const TextString&, PackageFinding), void* context)
    : manifest_(manifest), root_(packageRoot), found_(found), context_(context), buffer_(kChunk) {
    root_.EnsureTrailingSeparator();
}

void PackageCheck::Tell(const char* relative, PackageFinding finding) {
    if (found_ != nullptr)
        found_(context_, scratch_.Assign(root_).Append(relative), finding);
}

bool PackageCheck::Admits(const char* relative) {
    PackageManifest::Entry* entry = manifest_.Find(relative);
    if (entry == nullptr) {
        Tell(relative, PackageFinding::kUnlisted);
        return false;
    }
    entry->seen = true;
    return true;
}

void PackageCheck::Verify(const char* relative, const TextString& copy) {
    PackageManifest::Entry* entry = manifest_.Find(relative);
    Sha256Digest digest;
    // A copy that cannot be read back is no copy of the listed file.
    const bool matches = entry != nullptr &&
                         hasher_.HashFile(copy.GetText(), buffer_.GetBlock(), kChunk, digest) &&
                         digest == entry->digest;
    if (entry != nullptr)
        entry->seen = true;
    if (!matches) {
        ++differing_;
        Tell(relative, PackageFinding::kDiffers);
    }
}

std::uint32_t PackageCheck::Settle(bool walkedWhole) {
    std::uint32_t missing = 0;
    for (std::uint32_t i = 0; walkedWhole && i < manifest_.Count(); ++i) {
        const PackageManifest::Entry& entry = manifest_.At(i);
        if (!entry.seen) {
            ++missing;
            Tell(entry.Path(), PackageFinding::kMissing);
        }
    }
    return differing_ + missing;
}
