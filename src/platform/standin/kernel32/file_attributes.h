#pragma once

#include <sys/stat.h>

#include "../windows.h"

// Win32 attributes of a file with this status: the read-only attribute is
// the owner's missing write permission.
DWORD AttributesFromStatus(const struct stat& info);
