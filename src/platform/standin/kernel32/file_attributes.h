#pragma once

#include <sys/stat.h>

#include "../windows.h"

// Win32 attributes of a file with this status: the read-only attribute is
// the owner's missing write permission.
DWORD AttributesFromStatus(const struct stat& info);

// The attributes of a link itself, as Windows gives them for a symbolic
// link: a reparse point, and a directory when it leads to one (Linux links
// have no kind of their own); never read-only, as a link has no
// permissions. The link is the name `name` in the folder directoryFd.
DWORD LinkAttributes(int directoryFd, const char* name);
