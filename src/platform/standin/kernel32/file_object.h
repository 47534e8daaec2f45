// The object behind a file handle, and the one way files are opened, shared
// by CreateFileA and CopyFileA so that both meet the same share modes.
#pragma once

#include <sys/stat.h>

#include "../windows.h"
#include "descriptor_keepers.h"
#include "handle_objects.h"
#include "posix_path.h"

struct FileObject {
    HandleObject header;
    int fd; // its open file description carries the share modes (share_modes.h)
    bool canRead;
    bool canWrite;
    bool isDirectory;
    bool isVolume; // a volume opened by its name: flushing it syncs its file system
    // A link opened itself (FILE_FLAG_OPEN_REPARSE_POINT; an O_PATH
    // descriptor, which holds no data and no share modes): its attributes,
    // as GetFileInformationByHandle gives them; 0 for anything else.
    DWORD linkAttributes;
    // FILE_FLAG_DELETE_ON_CLOSE: the directory it was opened in (O_PATH) and
    // its name there; -1 and null otherwise.
    int deleteDirectoryFd;
    char* deleteName;
    // A handle with delete access alone, kept only for its share modes: its
    // descriptor may be parked with a keeper (descriptor_keepers.h), fd -1
    // meanwhile, when the process's own table runs short. Those not parked
    // are listed, oldest first.
    bool parkable;
    ParkedDescriptor parked;
    FileObject* olderParkable;
    FileObject* newerParkable;
};

// The descriptor of the file, taken back from its keeper where it was
// parked; -1 with ERROR_TOO_MANY_OPEN_FILES when it cannot be.
int DescriptorOf(FileObject* file);

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
// by Linux in an NTFS folder, and opening one never waits. A directory
// opened with data access (FILE_LIST_DIRECTORY, which is FILE_READ_DATA)
// keeps its share mode as a file does, so that a handle that does not
// share deleting keeps the folder from being renamed or removed. With
// FILE_FLAG_OPEN_REPARSE_POINT a link at the last name is opened itself,
// for its identity and attributes (reading it gives nothing; writing to it,
// emptying it or deleting it on close is refused), and the folders on the
// way are walked as for a write.
FileOpenResult OpenFileObject(PosixPath& path, DWORD access, DWORD shareMode, DWORD disposition,
                              DWORD flags);

// With FILE_FLAG_DELETE_ON_CLOSE the handle asks for delete access as well,
// and the file is removed when the handle is closed, while its share modes
// still hold, so that an open of that name at the same moment either meets
// them or finds a new file. Only a name that still leads to the opened file
// is removed (never one that someone put there since, nor what a link
// points at). A killed process leaves the file behind, as Linux cannot
// remove it for the process: a file created that way is made readable and
// writable by its owner only, so that its leftover gives no other user a
// descriptor to hold share modes on, and an open of the leftover finds the
// share modes of the dead process gone.
//
// Closes the descriptor, which ends its share modes, and frees the object.
void DestroyFileObject(FileObject* file);

// The live file object behind handle, or null.
FileObject* FileFromHandle(HANDLE handle);

// Volume names ("\\?\Volume{...}", from GetVolumeNameForVolumeMountPointA)
// and their handles (volumes.cpp).
bool IsVolumeName(LPCSTR fileName);
HANDLE OpenVolume(LPCSTR fileName, DWORD access);
