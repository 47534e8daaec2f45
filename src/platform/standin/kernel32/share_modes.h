// Win32 share modes between open handles, of this process and of others,
// of this user and of any other.
//
// Every open that asks for data access marks what it does and what it
// denies with open-file-description locks (F_OFD_SETLK) on the opened file
// itself, one byte per flag: "has read", "has write", "has delete", "denies
// read", "denies write", "denies delete". An open meets a conflict when
// another open file description holds a flag it must not meet: one that
// denies what it asks for, or one that has what it denies. The flags are
// shared read locks, so that any number of opens may raise the same flag,
// and they go when the descriptor is closed: the kernel keeps them, with no
// side file, no folder shared between users, no name that someone could
// plant a link at, and nothing left behind by a process that was killed.
//
// What the lock calls need, on Linux: setting a read lock needs a
// descriptor open for reading, setting a write lock one open for writing;
// testing for a lock (F_OFD_GETLK) needs neither, but not an O_PATH
// descriptor. So the flags are read locks only, and the opener opens every
// file it claims for reading as well (a writer with O_RDWR). A read-only
// file is opened for reading as before; a running executable too, and an
// open of it for writing is refused by the kernel (ETXTBSY) before any flag
// is raised. A file that its user may write or delete but not read (root
// reads every file) gives no descriptor to keep the flags on: an open of it
// for data access, and its deletion, fail with ERROR_ACCESS_DENIED.
//
// The flag bytes lie at the very end of the offset range, where no file has
// data: they never meet a read or a write, nor the locks that programs take
// on the bytes they use. A program that locks a whole file (l_len 0 from
// offset 0) covers them too and is taken as a holder that shares nothing.
//
// Claiming is not one atomic step: an open first raises its flags and then
// looks for a conflict, and withdraws when it finds one. Of two conflicting
// opens at the same moment one always sees the other; both may see each
// other, and then each withdraws and tries again after a short random
// pause, so that a conflict that was only a race goes away and a real
// holder stays.
//
// Never silently off: where the flags cannot be raised or tested (a file
// system without locks, an exhausted lock table), the open fails with
// ERROR_ACCESS_DENIED rather than going on unchecked.
#pragma once

#include "../windows.h"
#include "folder_entry.h"

// The classes of a Win32 access mask that share modes judge, as Windows
// classes them: reading (FILE_READ_DATA or FILE_EXECUTE, so GENERIC_READ and
// GENERIC_EXECUTE), writing (FILE_WRITE_DATA or FILE_APPEND_DATA) and
// deleting (DELETE); GENERIC_ALL is all three. The other rights (attributes,
// extended attributes, READ_CONTROL, SYNCHRONIZE, ...) meet no share mode
// and deny nothing.
struct DataAccess {
    bool read;
    bool write;
    bool remove;
    bool Any() const { return read || write || remove; }
};
DataAccess DataAccessOf(DWORD access);

// What a handle with the access may do with the data: ReadFile needs
// FILE_READ_DATA (execute access alone reads nothing), WriteFile
// FILE_WRITE_DATA or FILE_APPEND_DATA.
bool ReadsData(DWORD access);
bool WritesData(DWORD access);

// Records an open with the given access and share mode on fd, an open file
// description of the file that is open for reading. The record lasts until
// the description is closed. ERROR_SUCCESS; ERROR_SHARING_VIOLATION when
// another open stands against it; ERROR_ACCESS_DENIED when the share modes
// cannot be kept. An open without data access records nothing and always
// succeeds, as on Win32.
DWORD ClaimShareAccess(int fd, DWORD access, DWORD shareMode);

// The same for a file that the open itself has just made (O_CREAT |
// O_EXCL): no open of it can have come before, so the flags are raised and
// nothing is looked for. Only an open by someone else that came in the
// instant between the making and the raising, of a name that did not exist
// a moment before, goes unseen; Windows makes and opens in one step.
DWORD ClaimShareAccessOfNewFile(int fd, DWORD access, DWORD shareMode);

// Whether an open with the access and share mode would meet another open
// of the file at fd, without raising any flag: for a handle that lives
// only within one call, as the opens of a rename or a delete do. Only an
// open that comes in the instant between the test and the end of the call
// goes unseen. ERROR_SUCCESS, ERROR_SHARING_VIOLATION or
// ERROR_ACCESS_DENIED, as ClaimShareAccess.
DWORD TestShareAccess(int fd, DWORD access, DWORD shareMode);

// Opens the entry (a file or a directory, a link at its name never
// followed) for reading and tests delete access on it with the given
// sharing, as deleting or renaming it does (TestShareAccess). The caller
// closes the descriptor, which it may use within its call; -1 with the
// Win32 reason in *error when the open or the test fails.
int OpenCheckingDelete(const FolderEntry& entry, DWORD shareMode, DWORD* error);
