#pragma once

#include "platform/win32_api.h"

// Which directory a path names, however it is reached: the same directory
// through a link has the same identity. An identity is known only where the
// file system really gives one; an unknown identity matches nothing, not
// even itself.
struct DirectoryIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool known = false;

    bool SameAs(const DirectoryIdentity& other) const {
        return known && other.known && volume == other.volume && indexHigh == other.indexHigh &&
               indexLow == other.indexLow;
    }
};

// The identity in what GetFileInformationByHandle gave. A file index of 0
// (a file system without file ids) or of all ones (an id that could not be
// established) is no identity: some network and FUSE drives give them for
// every directory.
DirectoryIdentity IdentityFromInformation(const BY_HANDLE_FILE_INFORMATION& information);

// The identity of the directory at path; unknown when it cannot be opened.
DirectoryIdentity IdentifyDirectory(const char* path);

// The folders on the way down to one being walked, each level on the stack
// of the call that walks it: a folder met again on the way (through a link
// back up) is a loop and is not entered.
struct IdentityChain {
    DirectoryIdentity identity;
    const IdentityChain* parent;

    bool Holds(const DirectoryIdentity& other) const {
        for (const IdentityChain* level = this; level != nullptr; level = level->parent)
            if (level->identity.SameAs(other))
                return true;
        return false;
    }
};
