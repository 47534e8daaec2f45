// The room on the volume that holds the installation, read before anything
// is staged there.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"
#include "text_string.h"

struct VolumeSpace {
    bool known = false;          // the free space could be read
    DWORD error = ERROR_SUCCESS; // why not
    // Free to this user: a disk quota counts, as GetDiskFreeSpaceExA has it.
    std::uint64_t freeBytes = 0;
    // The cluster of the volume, every file taking whole ones; NTFS's usual
    // size where the volume does not tell.
    std::uint32_t clusterBytes = 4096;
};

VolumeSpace ReadVolumeSpace(const TextString& directory);

// Bytes in megabytes of 1,048,576 bytes, rounded up (what is needed) or
// down (what is free), so that a box never makes a shortfall look like room.
std::uint32_t MegabytesUp(std::uint64_t bytes);
std::uint32_t MegabytesDown(std::uint64_t bytes);
