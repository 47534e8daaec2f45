// The object behind a file handle, and the one way files are opened, shared
// by CreateFileA and CopyFileA so that both meet the same share modes.
#pragma once

#include "../windows.h"
#include "handle_objects.h"
#include "share_modes.h"

struct FileObject {
    HandleObject header;
    int fd;
    bool canRead;
    bool canWrite;
    bool isDirectory;
    ShareClaim share;
};

struct FileOpenResult {
    FileObject* file; // null on failure
    DWORD error;      // the Win32 error of a failure
    bool existed;     // the file was there before (for the *_ALWAYS dispositions)
};

// Opens posixPath with Win32 access, share mode, disposition and flags. The
// object is not yet registered as a handle.
FileOpenResult OpenFileObject(const char* posixPath, DWORD access, DWORD shareMode,
                              DWORD disposition, DWORD flags);

// Releases the share claim, closes the descriptor and frees the object.
void DestroyFileObject(FileObject* file);

// The live file object behind handle, or null.
FileObject* FileFromHandle(HANDLE handle);
