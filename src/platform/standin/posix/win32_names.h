// Win32's rules for the names in a path, applied before POSIX sees it: the
// characters that no Windows name may hold, and the trailing dots and
// spaces that Win32 path normalisation drops.
#pragma once

#include <cstddef>

#include "../windows.h"

// Whether the last component of a path is a name or a search pattern, in
// which ? and * (and the DOS wildcards < > ") are allowed and nothing is
// dropped.
enum class LastComponent { Name, Pattern };

// Checks path (with '/' as its separator) and normalises it in place:
// ERROR_INVALID_NAME when a component holds a control character or one of
// < > | " ? *; otherwise ERROR_SUCCESS, with each component that a
// separator follows stripped of one trailing dot and the last component
// stripped of all trailing dots and spaces ("x." and "x " name "x", as
// "x.\y" names "x\y" but "x..\y" names "x.\y"). The components "." and ".."
// and names of dots alone stay as they are.
DWORD NormalizeWin32Path(char* path, LastComponent last);

// When name (one component) names a DOS device as Win32 reads it (CON, PRN,
// AUX, NUL, COM1-COM9, LPT1-LPT9 in any case, with or without an extension
// or trailing spaces before it): the length of the device's name at its
// start; 0 otherwise.
std::size_t DeviceNameLength(const char* name);
