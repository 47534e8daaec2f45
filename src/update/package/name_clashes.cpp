#include "name_clashes.h"

#include <cstdlib>

#include "heap.h"

namespace {

// Names compared as the file system compares them, not as a language
// does (lstrcmpiA would take some names that NTFS keeps apart for one):
// in UTF-16 through the ANSI code page, ordinally, each character up-cased.
// A name of a listing fits in MAX_PATH characters with its zero.
int CompareFileNames(const char* first, const char* second) {
    WCHAR a[MAX_PATH], b[MAX_PATH];
    const int aLength = MultiByteToWideChar(CP_ACP, 0, first, -1, a, MAX_PATH);
    const int bLength = MultiByteToWideChar(CP_ACP, 0, second, -1, b, MAX_PATH);
    if (aLength > 0 && bLength > 0)
        return CompareStringOrdinal(a, aLength - 1, b, bLength - 1, TRUE) - CSTR_EQUAL;
    // Not converted: by their bytes, which keeps different names apart.
    while (*first != '\0' && *first == *second)
        ++first, ++second;
    return static_cast<unsigned char>(*first) - static_cast<unsigned char>(*second);
}

int CompareNames(const void* first, const void* second) {
    return CompareFileNames(*static_cast<const char* const*>(first),
                            *static_cast<const char* const*>(second));
}

} // namespace

NameClashes::~NameClashes() {
    if (sorted_ != nullptr)
        ReleaseBlock(sorted_);
}

void NameClashes::Collect(const FolderListing& listing) {
    const unsigned count = listing.Count();
    if (count < 2)
        return;
    const char** sorted = static_cast<const char**>(AllocateBlock(count * sizeof(const char*)));
    unsigned n = 0;
    for (FolderListing::Entry* entry = listing.Next(nullptr); entry != nullptr;
         entry = listing.Next(entry))
        sorted[n++] = entry->Name();
    std::qsort(sorted, count, sizeof(const char*), CompareNames);
    // The clashing ones move to the front, keeping their order.
    unsigned clashing = 0;
    for (unsigned i = 0; i < count; ++i) {
        const bool withPrevious = i > 0 && CompareFileNames(sorted[i - 1], sorted[i]) == 0;
        const bool withNext = i + 1 < count && CompareFileNames(sorted[i], sorted[i + 1]) == 0;
        if (withPrevious || withNext)
            sorted[clashing++] = sorted[i];
    }
    if (clashing == 0) {
        ReleaseBlock(sorted);
        return;
    }
    sorted_ = sorted;
    count_ = clashing;
}

bool NameClashes::Holds(const char* name) const {
    unsigned low = 0, high = count_;
    while (low < high) {
        const unsigned middle = low + (high - low) / 2;
        const int order = CompareFileNames(name, sorted_[middle]);
        if (order == 0)
            return true;
        if (order < 0)
            high = middle;
        else
            low = middle + 1;
    }
    return false;
}
