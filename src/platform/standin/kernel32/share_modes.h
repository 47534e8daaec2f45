// Win32 share modes between open handles, of this process and of others.
//
// Each open that asks for data access takes shared open-file-description
// locks on flag bytes of a lock file that belongs to the opened file (by
// device and inode): one byte each for "has read", "has write", "has delete"
// and "denies read", "denies write", "denies delete". A new open conflicts
// when a flag it must not meet is held by any other open. The locks live in
// a side file rather than in the file itself because a write lock, and the
// test for a read lock, need a descriptor open for writing, which a
// read-only file or a running executable does not give.
#pragma once

#include <sys/types.h>

#include "../windows.h"

struct ShareClaim {
    int lockFd = -1;
    dev_t device = 0;
    ino_t inode = 0;
};

// The data access (read, write, delete) that a Win32 access mask asks for.
struct DataAccess {
    bool read;
    bool write;
    bool remove;
};
DataAccess DataAccessOf(DWORD access);

// Records an open of the file (device, inode) with the given access and
// share mode. ERROR_SUCCESS, or ERROR_SHARING_VIOLATION when another open
// stands against it. An open without data access records nothing and always
// succeeds, as on Win32. When the lock file cannot be used at all the open
// is let through.
DWORD ClaimShareAccess(dev_t device, ino_t inode, DWORD access, DWORD shareMode, ShareClaim* claim);

// Ends the claim; safe on a claim that holds nothing.
void ReleaseShareAccess(ShareClaim* claim);
