#pragma once

#include "platform/win32_api.h"

// Which directory a path names, however it is reached: the same directory
// through a link has the same identity.
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

DirectoryIdentity IdentifyDirectory(const char* path);
