#pragma once

#include <sys/stat.h>

#include "../windows.h"

// Win32 attributes of a file with this status: the read-only attribute is
// the owner's missing write permission.
DWORD AttributesFromStatus(const struct stat& info);

// FILE_ATTRIBUTE_REPARSE_POINT when the name itself is a symbolic link,
// which Windows reports for a link or junction: `named` is its lstat.
DWORD LinkAttribute(const struct stat& named);
