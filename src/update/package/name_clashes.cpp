#include "name_clashes.h"

#include <cstdlib>

#include "heap.h"

namespace {

// Up to this many characters a name is converted on the stack.
const int kShortName = MAX_PATH;

int CompareBytes(const char* first, const char* second) {
    while (*first != '\0' && *first == *second)
        ++first, ++second;
    return static_cast<unsigned char>(*first) - static_cast<unsigned char>(*second);
}

// The name in UTF-16 into `buffer` of kShortName characters, or into a
// block of its own for a longer one (then `block`, for the caller to
// release); its length without the zero, or -1 when it cannot be converted.
int Widen(const char* name, WCHAR* buffer, WCHAR*& block, const WCHAR*& wide) {
    block = nullptr;
    wide = buffer;
    int length = MultiByteToWideChar(CP_ACP, 0, name, -1, buffer, kShortName);
    if (length == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        const int needed = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
        if (needed <= 0)
            return -1;
        block =
            static_cast<WCHAR*>(AllocateBlock(static_cast<std::size_t>(needed) * sizeof(WCHAR)));
        wide = block;
        length = MultiByteToWideChar(CP_ACP, 0, name, -1, block, needed);
    }
    return length - 1;
}

} // namespace

// In UTF-16 through the ANSI code page, ordinally, each character up-cased.
// Every ANSI code page reads the bytes below 0x80 as those characters, so
// that names of them alone are compared as they are, without the
// conversion (a manifest sorts hundreds of thousands of paths).
int CompareFileNames(const char* first, const char* second) {
    for (const unsigned char *x = reinterpret_cast<const unsigned char*>(first),
                             *y = reinterpret_cast<const unsigned char*>(second);
         *x < 0x80 && *y < 0x80; ++x, ++y) {
        const int cx = *x >= 'a' && *x <= 'z' ? *x - 'a' + 'A' : *x;
        const int cy = *y >= 'a' && *y <= 'z' ? *y - 'a' + 'A' : *y;
        if (cx != cy)
            return cx < cy ? -1 : 1;
        if (cx == 0)
            return 0;
    }
    WCHAR a[kShortName], b[kShortName];
    WCHAR *aBlock, *bBlock;
    const WCHAR *aWide, *bWide;
    const int aLength = Widen(first, a, aBlock, aWide);
    const int bLength = Widen(second, b, bBlock, bWide);
    // Not converted: by their bytes, which keeps different names apart.
    const int order = aLength >= 0 && bLength >= 0
                          ? CompareStringOrdinal(aWide, aLength, bWide, bLength, TRUE) - CSTR_EQUAL
                          : CompareBytes(first, second);
    if (aBlock != nullptr)
        ReleaseBlock(aBlock);
    if (bBlock != nullptr)
        ReleaseBlock(bBlock);
    return order;
}

namespace {

bool IsAscii(const char* name) {
    for (; *name != '\0'; ++name)
        if (static_cast<unsigned char>(*name) >= 0x80)
            return false;
    return true;
}

// Keys of names that are all ASCII compare without their UTF-16 forms.
int CompareKeys(const NameClashes::Key& first, const NameClashes::Key& second) {
    if (first.wide == nullptr || second.wide == nullptr)
        return CompareFileNames(first.name, second.name);
    return CompareStringOrdinal(first.wide, first.length, second.wide, second.length, TRUE) -
           CSTR_EQUAL;
}

int CompareKeysOf(const void* first, const void* second) {
    return CompareKeys(*static_cast<const NameClashes::Key*>(first),
                       *static_cast<const NameClashes::Key*>(second));
}

// Each name's key; where any name is not all ASCII, every name gets its
// UTF-16 form, converted once, into one block (returned, or null), as no
// character takes more than one UTF-16 unit a byte.
WCHAR* MakeKeys(NameClashes::Key* keys, unsigned count) {
    std::size_t units = 0;
    bool ascii = true;
    for (unsigned i = 0; i < count; ++i) {
        keys[i].wide = nullptr;
        keys[i].length = -1;
        units += lstrlenA(keys[i].name) + 1;
        ascii = ascii && IsAscii(keys[i].name);
    }
    if (ascii)
        return nullptr;
    WCHAR* block = static_cast<WCHAR*>(AllocateBlock(units * sizeof(WCHAR)));
    WCHAR* next = block;
    for (unsigned i = 0; i < count; ++i) {
        const int size = lstrlenA(keys[i].name) + 1;
        const int length = MultiByteToWideChar(CP_ACP, 0, keys[i].name, -1, next, size);
        if (length > 0) {
            keys[i].wide = next;
            keys[i].length = length - 1;
        }
        next += size;
    }
    return block;
}

} // namespace

NameClashes::~NameClashes() {
    if (sorted_ != nullptr)
        ReleaseBlock(sorted_);
    if (wides_ != nullptr)
        ReleaseBlock(wides_);
}

void NameClashes::Collect(const FolderListing& listing) {
    const unsigned count = listing.Count();
    if (count < 2)
        return;
    Key* sorted = static_cast<Key*>(AllocateBlock(count * sizeof(Key)));
    unsigned n = 0;
    for (FolderListing::Entry* entry = listing.Next(nullptr); entry != nullptr;
         entry = listing.Next(entry))
        sorted[n++].name = entry->Name();
    WCHAR* wides = MakeKeys(sorted, count);
    std::qsort(sorted, count, sizeof(Key), CompareKeysOf);
    // The clashing ones move to the front, keeping their order.
    unsigned clashing = 0;
    for (unsigned i = 0; i < count; ++i) {
        const bool withPrevious = i > 0 && CompareKeys(sorted[i - 1], sorted[i]) == 0;
        const bool withNext = i + 1 < count && CompareKeys(sorted[i], sorted[i + 1]) == 0;
        if (withPrevious || withNext)
            sorted[clashing++] = sorted[i];
    }
    if (clashing == 0) {
        ReleaseBlock(sorted);
        if (wides != nullptr)
            ReleaseBlock(wides);
        return;
    }
    sorted_ = sorted;
    wides_ = wides;
    count_ = clashing;
}

bool NameClashes::Holds(const char* name) const {
    if (count_ == 0)
        return false;
    Key key = {name, nullptr, -1};
    WCHAR* wide = sorted_[0].wide != nullptr ? MakeKeys(&key, 1) : nullptr;
    unsigned low = 0, high = count_;
    bool found = false;
    while (low < high && !found) {
        const unsigned middle = low + (high - low) / 2;
        const int order = CompareKeys(key, sorted_[middle]);
        found = order == 0;
        if (order < 0)
            high = middle;
        else
            low = middle + 1;
    }
    if (wide != nullptr)
        ReleaseBlock(wide);
    return found;
}
