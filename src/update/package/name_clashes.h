#pragma once

#include "folder_listing.h"
#include "platform/win32_api.h"

// Two names, or two paths, compared as the file system compares them, not as
// a language does (lstrcmpiA would take some names that NTFS keeps apart for
// one, and keeps apart some that it takes for one): 0 when they are one name
// on Windows ("\xC4.dat" and "\xE4.dat"), and otherwise an order.
int CompareFileNames(const char* first, const char* second);

// The names of one package directory that are one name on Windows, where
// case does not count ("A.dat" and "a.dat", "Dir" and "dir"): copied one
// after the other, the later would silently replace the earlier. Names are
// compared as the file system does ("\xC4.dat" and "\xE4.dat" are one). Only the
// clashing names are kept, sorted, pointing into the listing, which must
// outlive this.
class NameClashes {
  public:
    NameClashes() = default;
    ~NameClashes();
    NameClashes(const NameClashes&) = delete;
    NameClashes& operator=(const NameClashes&) = delete;

    void Collect(const FolderListing& listing);
    // Whether the name is one of the clashing names.
    bool Holds(const char* name) const;

    // A name with its UTF-16 form, converted once (null when it needs none
    // or cannot be converted).
    struct Key {
        const char* name;
        const WCHAR* wide;
        int length;
    };

  private:
    Key* sorted_ = nullptr;  // in the file system's order of names
    WCHAR* wides_ = nullptr; // the UTF-16 forms, one block
    unsigned count_ = 0;
};
