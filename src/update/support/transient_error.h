// The errors that a file held for a moment by another program gives. On
// Windows, virus scanners, search indexers, backup and sync agents open a
// file right after it is written, renamed or closed, and hold it for
// milliseconds to seconds, often without sharing deletion: a rename, a
// removal or an open of it then fails with one of these. Whoever meets one
// may try again after a pause (transient_retry.h).
#pragma once

#include "platform/win32_api.h"

inline bool IsTransientError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}
