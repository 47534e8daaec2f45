#include "name_clashes.h"

#include <cstdlib>

#include "heap.h"

namespace {

int CompareNames(const void* first, const void* second) {
    return lstrcmpiA(*static_cast<const char* const*>(first),
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
        const bool withPrevious = i > 0 && lstrcmpiA(sorted[i - 1], sorted[i]) == 0;
        const bool withNext = i + 1 < count && lstrcmpiA(sorted[i], sorted[i + 1]) == 0;
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
        const int order = lstrcmpiA(name, sorted_[middle]);
        if (order == 0)
            return true;
        if (order < 0)
            high = middle;
        else
            low = middle + 1;
    }
    return false;
}
