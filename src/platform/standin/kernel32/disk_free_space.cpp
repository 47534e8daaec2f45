// The size and free space of the volume that holds a directory, from
// statvfs. "Free to the caller" is the space an unprivileged user may fill
// (f_bavail): the blocks kept for root are left out even for root, which
// errs on the safe side. A cluster is a fragment of the file system
// (f_frsize), told as sectors of 512 bytes where it is made of them.
#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "posix_path.h"

namespace {

const DWORD kSectorBytes = 512;

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The file system of the directory at win32Path (the current directory for
// null). Win32 opens the path as a directory: a file there gives
// ERROR_DIRECTORY, a missing one the error of a missing path.
// GetDiskFreeSpaceExA tells every missing path as ERROR_PATH_NOT_FOUND.
bool StatDirectory(LPCSTR win32Path, bool missingIsPath, struct statvfs& volume) {
    PosixPath path(win32Path != nullptr ? win32Path : ".");
    if (!path.CheckValid())
        return false;
    struct stat info;
    if (stat(path.Text(), &info) != 0) {
        const int error = errno;
        SetLastError(error == ENOENT && missingIsPath ? ERROR_PATH_NOT_FOUND
                     : error == ENOTDIR               ? ERROR_PATH_NOT_FOUND
                                                      : Win32ErrorFromErrno(error, path.Text()));
        return false;
    }
    if (!S_ISDIR(info.st_mode))
        return Fail(ERROR_DIRECTORY);
    if (statvfs(path.Text(), &volume) != 0)
        return Fail(Win32ErrorFromErrno(errno, path.Text()));
    return true;
}

DWORD ClampToDword(fsblkcnt_t count) {
    return static_cast<DWORD>(std::min<fsblkcnt_t>(count, 0xFFFFFFFFu));
}

} // namespace

BOOL WINAPI GetDiskFreeSpaceExA(LPCSTR directoryName, PULARGE_INTEGER freeBytesAvailableToCaller,
                                PULARGE_INTEGER totalNumberOfBytes,
                                PULARGE_INTEGER totalNumberOfFreeBytes) {
    struct statvfs volume;
    if (!StatDirectory(directoryName, true, volume))
        return FALSE;
    const ULONGLONG unit = volume.f_frsize;
    if (freeBytesAvailableToCaller != nullptr)
        freeBytesAvailableToCaller->QuadPart = volume.f_bavail * unit;
    if (totalNumberOfBytes != nullptr)
        totalNumberOfBytes->QuadPart = volume.f_blocks * unit;
    if (totalNumberOfFreeBytes != nullptr)
        totalNumberOfFreeBytes->QuadPart = volume.f_bfree * unit;
    return TRUE;
}

// Win32 reads the counts of clusters as 32 bits and gives the largest value
// where they do not fit. Any directory of the volume does, as on Windows
// NT; the documentation asks for the root.
BOOL WINAPI GetDiskFreeSpaceA(LPCSTR rootPathName, LPDWORD sectorsPerCluster,
                              LPDWORD bytesPerSector, LPDWORD numberOfFreeClusters,
                              LPDWORD totalNumberOfClusters) {
    struct statvfs volume;
    if (!StatDirectory(rootPathName, false, volume))
        return FALSE;
    const bool inSectors = volume.f_frsize >= kSectorBytes && volume.f_frsize % kSectorBytes == 0;
    const DWORD sector = inSectors ? kSectorBytes : static_cast<DWORD>(volume.f_frsize);
    if (sectorsPerCluster != nullptr)
        *sectorsPerCluster = static_cast<DWORD>(volume.f_frsize / sector);
    if (bytesPerSector != nullptr)
        *bytesPerSector = sector;
    if (numberOfFreeClusters != nullptr)
        *numberOfFreeClusters = ClampToDword(volume.f_bavail);
    if (totalNumberOfClusters != nullptr)
        *totalNumberOfClusters = ClampToDword(volume.f_blocks);
    return TRUE;
}
