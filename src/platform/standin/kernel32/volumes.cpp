// Volumes and flushing. A volume is the file system that holds a path: its
// mount point is its volume path, and its name "\\?\Volume{<device>}\"
// carries the device number, by which CreateFileA finds a mount of it
// again. Opening a volume for writing takes an administrator (root), as on
// Windows; flushing such a handle syncs the whole file system (syncfs), and
// flushing a file syncs the file (fsync).
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "file_object.h"
#include "posix_path.h"

namespace {

const char kVolumePrefix[] = "\\\\?\\Volume{";

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL CopyOut(const std::string& text, LPSTR buffer, DWORD length) {
    if (buffer == nullptr || text.size() + 1 > length)
        return Fail(ERROR_FILENAME_EXCED_RANGE);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return TRUE;
}

// The mount point of the file system holding the absolute path: the
// highest directory on the way up that is on the same device.
std::string MountPointOf(std::string path, dev_t device) {
    while (path.size() > 1) {
        std::string parent = path.substr(0, path.find_last_of('/'));
        if (parent.empty())
            parent = "/";
        struct stat info;
        if (stat(parent.c_str(), &info) != 0 || info.st_dev != device)
            break;
        path = parent;
    }
    return path;
}

// A mount point in /proc/self/mountinfo writes blanks and the like as
// octal escapes.
std::string Unescaped(const char* field) {
    std::string text;
    for (const char* p = field; *p != '\0'; ++p) {
        if (p[0] == '\\' && p[1] >= '0' && p[1] <= '3' && p[2] >= '0' && p[2] <= '7' &&
            p[3] >= '0' && p[3] <= '7') {
            text += static_cast<char>((p[1] - '0') * 64 + (p[2] - '0') * 8 + (p[3] - '0'));
            p += 3;
        } else {
            text += *p;
        }
    }
    return text;
}

// A mount point of the device, or empty.
std::string FindMount(dev_t device) {
    FILE* mounts = std::fopen("/proc/self/mountinfo", "re");
    if (mounts == nullptr)
        return std::string();
    std::string found;
    char line[4096];
    while (found.empty() && std::fgets(line, sizeof line, mounts) != nullptr) {
        unsigned major = 0, minor = 0;
        char mountPoint[4096];
        if (std::sscanf(line, "%*s %*s %u:%u %*s %4095s", &major, &minor, mountPoint) == 3 &&
            makedev(major, minor) == device)
            found = Unescaped(mountPoint);
    }
    std::fclose(mounts);
    return found;
}

} // namespace

BOOL WINAPI GetVolumePathNameA(LPCSTR fileName, LPSTR volumePathName, DWORD bufferLength) {
    PosixPath path(fileName);
    if (!path.CheckValid())
        return FALSE;
    char* resolved = realpath(path.Text(), nullptr);
    if (resolved == nullptr)
        return Fail(Win32ErrorFromErrno(errno, path.Text()));
    struct stat info;
    std::string mountPoint;
    if (stat(resolved, &info) == 0)
        mountPoint = MountPointOf(resolved, info.st_dev);
    std::free(resolved);
    if (mountPoint.empty())
        return Fail(ERROR_PATH_NOT_FOUND);
    if (mountPoint.back() != '/')
        mountPoint += '/';
    return CopyOut(mountPoint, volumePathName, bufferLength);
}

BOOL WINAPI GetVolumeNameForVolumeMountPointA(LPCSTR volumeMountPoint, LPSTR volumeName,
                                              DWORD bufferLength) {
    PosixPath path(volumeMountPoint);
    if (!path.CheckValid())
        return FALSE;
    struct stat info;
    if (stat(path.Text(), &info) != 0)
        return Fail(Win32ErrorFromErrno(errno, path.Text()));
    // Only the mount point itself names a volume.
    char* resolved = realpath(path.Text(), nullptr);
    const bool isMountPoint =
        resolved != nullptr && MountPointOf(resolved, info.st_dev) == resolved;
    std::free(resolved);
    if (!isMountPoint)
        return Fail(ERROR_INVALID_PARAMETER);
    char name[64];
    std::snprintf(name, sizeof name, "%s%016" PRIX64 "}\\", kVolumePrefix,
                  static_cast<std::uint64_t>(info.st_dev));
    return CopyOut(name, volumeName, bufferLength);
}

bool IsVolumeName(LPCSTR fileName) {
    return fileName != nullptr &&
           std::strncmp(fileName, kVolumePrefix, sizeof kVolumePrefix - 1) == 0;
}

HANDLE OpenVolume(LPCSTR fileName, DWORD access) {
    // "\\?\Volume{<16 hex digits>}" without the trailing separator, which
    // would name the root directory instead.
    const char* digits = fileName + sizeof kVolumePrefix - 1;
    char* end = nullptr;
    const std::uint64_t device = std::strtoull(digits, &end, 16);
    if (end != digits + 16 || std::strcmp(end, "}") != 0) {
        SetLastError(end != nullptr && std::strcmp(end, "}\\") == 0 ? ERROR_ACCESS_DENIED
                                                                    : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const bool writes = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
    if (writes && geteuid() != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const std::string mountPoint = FindMount(static_cast<dev_t>(device));
    const int fd =
        mountPoint.empty() ? -1 : open(mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    FileObject* file = static_cast<FileObject*>(std::calloc(1, sizeof(FileObject)));
    if (file == nullptr) {
        close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    file->fd = fd;
    file->canWrite = writes;
    file->isDirectory = true; // no data to read or write through it
    file->isVolume = true;
    file->deleteDirectoryFd = -1;
    file->parked = ParkedDescriptor();
    RegisterHandle(&file->header, HandleKind::File);
    return &file->header;
}

BOOL WINAPI FlushFileBuffers(HANDLE handle) {
    FileObject* file = FileFromHandle(handle);
    if (file == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (!file->canWrite)
        return Fail(ERROR_ACCESS_DENIED);
    if ((file->isVolume ? syncfs(file->fd) : fsync(file->fd)) != 0)
        return Fail(Win32ErrorFromErrno(errno, nullptr));
    return TRUE;
}
