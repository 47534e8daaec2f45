#include "name_clashes.h"

#include <cstdlib>
#include <cstring>

#include "heap.h"
#include "platform/win32_api.h"

namespace {

// All names of a directory, one after the other, each ending in a zero.
class NameList {
  public:
    ~NameList() {
        if (text_ != nullptr)
            ReleaseBlock(text_);
    }
    void Add(const char* name) {
        const std::size_t size = std::strlen(name) + 1;
        if (used_ + size > capacity_) {
            const std::size_t grown = (capacity_ + size) * 2;
            char* text = static_cast<char*>(AllocateBlock(grown));
            if (used_ != 0)
                std::memcpy(text, text_, used_);
            if (text_ != nullptr)
                ReleaseBlock(text_);
            text_ = text;
            capacity_ = grown;
        }
        std::memcpy(text_ + used_, name, size);
        used_ += size;
        ++count_;
    }
    const char* Text() const { return text_; }
    std::size_t Size() const { return used_; }
    unsigned Count() const { return count_; }

  private:
    char* text_ = nullptr;
    std::size_t used_ = 0, capacity_ = 0;
    unsigned count_ = 0;
};

int CompareNames(const void* first, const void* second) {
    return lstrcmpiA(*static_cast<const char* const*>(first),
                     *static_cast<const char* const*>(second));
}

// Pointers to each name of the list, sorted.
const char** SortNames(const char* text, unsigned count) {
    const char** sorted = static_cast<const char**>(AllocateBlock(count * sizeof(const char*)));
    for (unsigned i = 0; i < count; ++i, text += std::strlen(text) + 1)
        sorted[i] = text;
    std::qsort(sorted, count, sizeof(const char*), CompareNames);
    return sorted;
}

} // namespace

NameClashes::~NameClashes() {
    if (count_ != 0) {
        ReleaseBlock(sorted_);
        ReleaseBlock(names_);
    }
}

void NameClashes::Collect(const char* searchPath) {
    NameList all;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(searchPath, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (entry.cFileName[0] != '.')
            all.Add(entry.cFileName);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    if (all.Count() < 2)
        return;

    const char** sorted = SortNames(all.Text(), all.Count());
    NameList clashing;
    for (unsigned i = 0; i < all.Count(); ++i) {
        const bool withPrevious = i > 0 && lstrcmpiA(sorted[i - 1], sorted[i]) == 0;
        const bool withNext = i + 1 < all.Count() && lstrcmpiA(sorted[i], sorted[i + 1]) == 0;
        if (withPrevious || withNext)
            clashing.Add(sorted[i]);
    }
    ReleaseBlock(sorted);
    if (clashing.Count() == 0)
        return;
    names_ = static_cast<char*>(AllocateBlock(clashing.Size()));
    std::memcpy(names_, clashing.Text(), clashing.Size());
    count_ = clashing.Count();
    sorted_ = SortNames(names_, count_);
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
