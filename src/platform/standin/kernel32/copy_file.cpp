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

// Copies all of from into to, both at offset 0 and to empty.
int CopyContents(int from, int to) {
    bool kernelCopy = true;
    char buffer[65536];
    for (;;) {
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
            return 0;
    }
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

} // namespace

BOOL WINAPI CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) {
    PosixPath sourcePath(existingFileName);
    PosixPath targetPath(newFileName);
    if (!sourcePath.IsValid())
        return Fail(sourcePath.Error());
    if (!targetPath.IsValid())
        return Fail(targetPath.Error());

    // The source is read along with writers that share reading, as Win32
    // copies a file that another program is writing.
    FileOpenResult source = OpenFileObject(sourcePath.Text(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    if (source.file == nullptr)
        return Fail(source.error);
    struct stat sourceInfo;
    if (fstat(source.file->fd, &sourceInfo) != 0) {
        DestroyFileObject(source.file);
        return Fail(ERROR_ACCESS_DENIED);
    }

    // Every refusal comes before the target is touched: the open checks the
    // read-only state, directories and the share modes before it truncates.
    FileOpenResult target =
        OpenFileObject(targetPath.Text(), GENERIC_WRITE, 0,
                       failIfExists ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (target.file == nullptr) {
        DestroyFileObject(source.file);
        return Fail(target.error);
    }

    int error = CopyContents(source.file->fd, target.file->fd);
    if (error == 0) {
        // Win32 keeps the source's attributes and last-write time.
        fchmod(target.file->fd, sourceInfo.st_mode & 07777);
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_NOW;
        times[1] = sourceInfo.st_mtim;
        futimens(target.file->fd, times);
    }
    DestroyFileObject(target.file);
    DestroyFileObject(source.file);
    if (error != 0)
        return Fail(Win32ErrorFromErrno(error, nullptr));
    return TRUE;
}
