#include "file_object.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "posix_path.h"

namespace {

// Opening never waits, as on Win32: a FIFO without a reader on the other
// side fails at once instead of blocking. Later reads and writes block as
// usual.
int OpenRetrying(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = open(path, flags | O_CLOEXEC | O_NONBLOCK, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 && (flags & O_PATH) == 0) {
        const int status = fcntl(fd, F_GETFL);
        if (status == -1 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
            close(fd);
            errno = EIO;
            return -1;
        }
    }
    return fd;
}

// Writing, truncating or creating does not follow a link that another user
// owns: it may have been planted to send the write elsewhere (the stand-in
// runs as root). The flags to open with: none for the caller's own link,
// O_NOFOLLOW where there is no link, so that one put there after this look
// is refused by the open; -1 refuses.
int LinkFlagsForWriting(const char* posixPath) {
    struct stat info;
    if (lstat(posixPath, &info) != 0 || !S_ISLNK(info.st_mode))
        return O_NOFOLLOW;
    return info.st_uid == geteuid() ? 0 : -1;
}

FileOpenResult Failure(DWORD error) {
    return FileOpenResult{nullptr, error, false};
}

FileOpenResult Failure(int fd, DWORD error) {
    close(fd);
    return Failure(error);
}

} // namespace

FileOpenResult OpenFileObject(const char* posixPath, DWORD access, DWORD shareMode,
                              DWORD disposition, DWORD flags) {
    DataAccess wanted = DataAccessOf(access);
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
        return Failure(ERROR_INVALID_PARAMETER);
    if (disposition == TRUNCATE_EXISTING && !wanted.write)
        return Failure(ERROR_INVALID_PARAMETER);

    int mode = wanted.write ? (wanted.read ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (wanted.write || disposition != OPEN_EXISTING) {
        const int linkFlags = LinkFlagsForWriting(posixPath);
        if (linkFlags < 0)
            return Failure(ERROR_ACCESS_DENIED);
        mode |= linkFlags;
    }
    // A file created with the read-only attribute is still written through
    // the handle that created it; only later opens are refused.
    mode_t createMode = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;

    bool existed = true;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 10; ++attempt) {
        if (disposition == CREATE_NEW) {
            fd = OpenRetrying(posixPath, mode | O_CREAT | O_EXCL, createMode);
            existed = fd < 0 && errno == EEXIST;
            if (fd < 0)
                break;
        } else {
            fd = OpenRetrying(posixPath, mode, 0);
            // Asking for no data needs no read permission on Win32.
            if (fd < 0 && errno == EACCES && !wanted.read && !wanted.write)
                fd = OpenRetrying(posixPath, O_PATH, 0);
            if (fd >= 0 || errno != ENOENT)
                break;
            if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
                break;
            // Create it, unless someone else did so in between.
            fd = OpenRetrying(posixPath, mode | O_CREAT | O_EXCL, createMode);
            existed = fd < 0; // made by someone else in between: open it again
            if (fd < 0 && errno != EEXIST)
                break;
        }
    }
    if (fd < 0) {
        int error = errno;
        if (error == EEXIST)
            return Failure(ERROR_FILE_EXISTS);
        if (error == EISDIR)
            return Failure(ERROR_ACCESS_DENIED);
        // Creating failed for want of a directory on the way.
        if (error == ENOENT && disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING)
            return Failure(ERROR_PATH_NOT_FOUND);
        return Failure(Win32ErrorFromErrno(error, posixPath));
    }

    struct stat info;
    if (fstat(fd, &info) != 0)
        return Failure(fd, ERROR_ACCESS_DENIED);
    bool isDirectory = S_ISDIR(info.st_mode);
    if (isDirectory && (!(flags & FILE_FLAG_BACKUP_SEMANTICS) || wanted.write))
        return Failure(fd, ERROR_ACCESS_DENIED);
    // Root would be let through: the read-only attribute binds everyone.
    bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (existed && !isDirectory && (wanted.write || truncates) && !(info.st_mode & S_IWUSR))
        return Failure(fd, ERROR_ACCESS_DENIED);

    ShareClaim claim;
    if (!isDirectory) {
        DWORD shareError = ClaimShareAccess(info.st_dev, info.st_ino, access, shareMode, &claim);
        if (shareError != ERROR_SUCCESS)
            return Failure(fd, shareError);
    }
    // Only now, with the share modes agreed, may the contents go.
    if (existed && truncates && info.st_size != 0 && ftruncate(fd, 0) != 0) {
        ReleaseShareAccess(&claim);
        return Failure(fd, Win32ErrorFromErrno(errno, posixPath));
    }

    FileObject* file = static_cast<FileObject*>(std::calloc(1, sizeof(FileObject)));
    if (file == nullptr) {
        ReleaseShareAccess(&claim);
        return Failure(fd, ERROR_NOT_ENOUGH_MEMORY);
    }
    file->fd = fd;
    file->canRead = wanted.read;
    file->canWrite = wanted.write;
    file->isDirectory = isDirectory;
    file->share = claim;
    return FileOpenResult{file, ERROR_SUCCESS, existed};
}

void DestroyFileObject(FileObject* file) {
    ReleaseShareAccess(&file->share);
    close(file->fd);
    std::free(file);
}

FileObject* FileFromHandle(HANDLE handle) {
    return reinterpret_cast<FileObject*>(FindHandle(handle, HandleKind::File));
}
