// File handles: open, read, write, size, identity, close.
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "file_attributes.h"
#include "file_object.h"
#include "file_time.h"
#include "posix_path.h"
#include "sync_objects.h"

namespace {

// A name that ends in a separator names a directory: for a file Win32
// answers ERROR_INVALID_NAME where it exists or would be made, and
// ERROR_FILE_NOT_FOUND where it is only looked for; a directory opened
// that way as a file is a path not found. ERROR_SUCCESS where the open may
// go on (a directory, or the root).
DWORD TrailingSeparatorRefusal(PosixPath& path, DWORD disposition, DWORD flags) {
    const char* text = path.Text();
    std::size_t length = std::strlen(text);
    if (length < 2 || text[length - 1] != '/')
        return ERROR_SUCCESS;
    struct stat info;
    int found = stat(text, &info);
    if (found != 0 && errno == ENOENT && path.LookUpCase())
        found = stat(text, &info);
    if (found == 0)
        return (flags & FILE_FLAG_BACKUP_SEMANTICS) ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
    if (errno == ENOTDIR)
        return ERROR_INVALID_NAME; // a file, or a file on the way
    if (errno != ENOENT)
        return ERROR_SUCCESS; // the open tells why
    DWORD missing = MissingPathError(text);
    if (missing == ERROR_PATH_NOT_FOUND)
        return missing;
    return disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING ? ERROR_FILE_NOT_FOUND
                                                                            : ERROR_INVALID_NAME;
}

} // namespace

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD flags, HANDLE) {
    if (IsVolumeName(fileName))
        return OpenVolume(fileName, access);
    PosixPath path(fileName, CaseLookup::WhenMissing);
    if (!path.CheckValid())
        return INVALID_HANDLE_VALUE;
    DWORD refusal = TrailingSeparatorRefusal(path, disposition, flags);
    if (refusal != ERROR_SUCCESS) {
        SetLastError(refusal);
        return INVALID_HANDLE_VALUE;
    }
    FileOpenResult opened = OpenFileObject(path, access, shareMode, disposition, flags);
    if (opened.file == nullptr) {
        SetLastError(opened.error);
        return INVALID_HANDLE_VALUE;
    }
    RegisterHandle(&opened.file->header, HandleKind::File);
    // Win32 sets the last error on success too: it tells an *_ALWAYS open of
    // an existing file from one that made it.
    const bool always = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    SetLastError(always && opened.existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return &opened.file->header;
}

namespace {

// The status of an open file; a bad handle sets ERROR_INVALID_HANDLE.
bool StatHandle(HANDLE handle, struct stat& info) {
    FileObject* file = FileFromHandle(handle);
    if (file != nullptr && DescriptorOf(file) >= 0 && fstat(file->fd, &info) == 0)
        return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

// The open file behind handle when it was opened for reading (a directory
// has no data to read) or for writing; null, with the last error set,
// otherwise.
FileObject* FileForData(HANDLE handle, bool forWriting) {
    FileObject* file = FileFromHandle(handle);
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (forWriting ? !file->canWrite : (!file->canRead || file->isDirectory)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return file;
}

} // namespace

DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
    struct stat info;
    if (!StatHandle(handle, info))
        return INVALID_FILE_SIZE;
    unsigned long long size = static_cast<unsigned long long>(info.st_size);
    if (sizeHigh != nullptr)
        *sizeHigh = static_cast<DWORD>(size >> 32);
    if (static_cast<DWORD>(size) == INVALID_FILE_SIZE)
        SetLastError(ERROR_SUCCESS); // tells a real size from a failure
    return static_cast<DWORD>(size);
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    if (read != nullptr)
        *read = 0;
    FileObject* file = FileForData(handle, false);
    if (file == nullptr)
        return FALSE;
    if (buffer == nullptr && toRead != 0) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    DWORD done = 0;
    while (done < toRead) {
        ssize_t count = ::read(file->fd, static_cast<char*>(buffer) + done, toRead - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            SetLastError(Win32ErrorFromErrno(errno, nullptr));
            return FALSE;
        }
        if (count == 0)
            break; // end of file is success with fewer bytes
        done += static_cast<DWORD>(count);
    }
    if (read != nullptr)
        *read = done;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
    if (written != nullptr)
        *written = 0;
    FileObject* file = FileForData(handle, true);
    if (file == nullptr)
        return FALSE;
    if (buffer == nullptr && toWrite != 0) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    DWORD done = 0;
    while (done < toWrite) {
        ssize_t count = ::write(file->fd, static_cast<const char*>(buffer) + done, toWrite - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (written != nullptr)
                *written = done;
            SetLastError(count < 0 ? Win32ErrorFromErrno(errno, nullptr) : ERROR_DISK_FULL);
            return FALSE;
        }
        done += static_cast<DWORD>(count);
    }
    if (written != nullptr)
        *written = done;
    return TRUE;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
    struct stat info;
    if (!StatHandle(handle, info))
        return FALSE;
    const DWORD linkAttributes = FileFromHandle(handle)->linkAttributes;
    unsigned long long size = static_cast<unsigned long long>(info.st_size);
    unsigned long long index = static_cast<unsigned long long>(info.st_ino);
    unsigned long long device = static_cast<unsigned long long>(info.st_dev);
    information->dwFileAttributes =
        linkAttributes != 0 ? linkAttributes : AttributesFromStatus(info);
    information->ftCreationTime = FileTimeFromTimespec(info.st_mtim);
    information->ftLastAccessTime = FileTimeFromTimespec(info.st_atim);
    information->ftLastWriteTime = FileTimeFromTimespec(info.st_mtim);
    information->dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
    information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size);
    information->nNumberOfLinks = static_cast<DWORD>(info.st_nlink);
    information->nFileIndexHigh = static_cast<DWORD>(index >> 32);
    information->nFileIndexLow = static_cast<DWORD>(index);
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    if (CloseSyncObject(handle))
        return TRUE;
    FileObject* file = FileFromHandle(handle);
    if (file == nullptr || !UnregisterHandle(&file->header)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DestroyFileObject(file);
    return TRUE;
}
