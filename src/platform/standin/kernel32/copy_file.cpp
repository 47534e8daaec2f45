// CopyFileA writes over an existing target in place, as Win32 does: the
// same file is truncated and rewritten, keeping its identity (and, for
// many small files, faster than writing a new file and renaming it over the
// old one: bench/copy_file_bench.cpp compares the two).
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_object.h"
#include "posix_path.h"

namespace {

// Copies from into to, both at offset 0 and to empty: to the end of from,
// or once size bytes (the size from had when it was opened) are copied,
// which spares asking once more for an end that is known. A file that
// reports no size (some of /proc) is copied to its end.
int CopyContents(int from, int to, off_t size) {
    bool kernelCopy = true;
    char buffer[65536];
    off_t copied = 0;
    while (size == 0 || copied < size) {
        ssize_t count;
        if (kernelCopy) {
            count = copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
            if (count < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                              errno == EOPNOTSUPP || errno == EPERM)) {
                kernelCopy = false; // this file system pair cannot: copy by hand
                continue;
            }
        } else {
            count = read(from, buffer, sizeof(buffer));
            for (ssize_t done = 0; count > 0 && done < count;) {
                ssize_t written = write(to, buffer + done, static_cast<size_t>(count - done));
                if (written < 0 && errno == EINTR)
                    continue;
                if (written <= 0)
                    return written < 0 ? errno : ENOSPC;
                done += written;
            }
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errno;
        if (count == 0)
            break;
        copied += count;
    }
    return 0;
}

bool SameFile(const struct stat& first, const struct stat& second) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

} // namespace

BOOL WINAPI CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) {
    PosixPath sourcePath(existingFileName, CaseLookup::WhenMissing);
    PosixPath targetPath(newFileName, CaseLookup::WhenMissing);
    if (!sourcePath.IsValid())
        return Fail(sourcePath.Error());
    if (!targetPath.IsValid())
        return Fail(targetPath.Error());

    // The source is read along with writers that share reading, as Win32
    // copies a file that another program is writing.
    FileOpenResult source = OpenFileObject(sourcePath, GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    if (source.file == nullptr)
        return Fail(source.error);

    // Every refusal comes before the target is touched: the open checks the
    // read-only state, the kind of file and the share modes, and the target
    // is emptied only after that and after the check that it is not the
    // source itself.
    FileOpenResult target =
        OpenFileObject(targetPath, GENERIC_WRITE, 0, failIfExists ? CREATE_NEW : OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL);
    if (target.file == nullptr) {
        DestroyFileObject(source.file);
        return Fail(target.error);
    }
    int error = 0;
    if (target.existed && SameFile(source.status, target.status)) {
        // The answer Windows gives, whose own opens meet each other here;
        // this one does not depend on them.
        DestroyFileObject(target.file);
        DestroyFileObject(source.file);
        return Fail(ERROR_SHARING_VIOLATION);
    }
    if (target.existed && target.status.st_size != 0 && ftruncate(target.file->fd, 0) != 0)
        error = errno;

    if (error == 0)
        error = CopyContents(source.file->fd, target.file->fd, source.status.st_size);
    if (error == 0) {
        // Win32 keeps the source's attributes and last-write time. Only the
        // permissions travel: a set-user-ID or set-group-ID bit of a package
        // file must not come out owned by whoever runs the copy.
        mode_t mode = source.status.st_mode & 0777;
        if ((target.status.st_mode & 07777) != mode)
            fchmod(target.file->fd, mode);
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_NOW;
        times[1] = source.status.st_mtim;
        futimens(target.file->fd, times);
    }
    DestroyFileObject(target.file);
    DestroyFileObject(source.file);
    if (error != 0)
        return Fail(Win32ErrorFromErrno(error, nullptr));
    return TRUE;
}
