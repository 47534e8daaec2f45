// The object behind a file handle, and the one way files are opened, shared
// by CreateFileA and CopyFileA so that both meet the same share modes.
#pragma once

#include <sys/stat.h>

#include "../windows.h"
#include "handle_objects.h"
#include "posix_path.h"

struct FileObject {
    HandleObject header;
    int fd; // its open file description carries the share modes (share_modes.h)
    bool canRead;
    bool canWrite;
    bool isDirectory;
};

struct FileOpenResult {
    FileObject* file;   // null on failure
    DWORD error;        // the Win32 error of a failure
    bool existed;       // the file was there before (for the *_ALWAYS dispositions)
    struct stat status; // of the opened file, before any truncation
};

// Opens path with Win32 access, share mode, disposition and flags. The
// object is not yet registered as a handle. Only regular files and (with
// FILE_FLAG_BACKUP_SEMANTICS) directories open: a FIFO, socket or device is
// refused with ERROR_CANT_ACCESS_FILE, as Windows refuses such a file made
// by Linux in an NTFS folder, and opening one never waits.
FileOpenResult OpenFileObject(PosixPath& path, DWORD access, DWORD shareMode, DWORD disposition,
                              DWORD flags);

// Closes the descriptor, which ends its share modes, and frees the object.
void DestroyFileObject(FileObject* file);

// The live file object behind handle, or null.
FileObject* FileFromHandle(HANDLE handle);
