// CopyFileA writes over an existing target in place, as Win32 does: the
// same file is truncated and rewritten, keeping its identity (and, for
// many small files, faster than writing a new file and renaming it over the
// old one: bench/copy_file_bench.cpp compares the two).
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_object.h"
#include "folder_entry.h"
#include "posix_path.h"

namespace {

// With a progress routine the contents go in chunks of this size, and the
// routine hears of each.
const off_t kChunkSize = 1 << 20;

// A pause after each chunk, in milliseconds, from
// UPDATE_STANDIN_COPY_DELAY_MS: lets tests make a copy slow.
DWORD ChunkDelay() {
    const char* value = std::getenv("UPDATE_STANDIN_COPY_DELAY_MS");
    return value != nullptr ? static_cast<DWORD>(std::strtoul(value, nullptr, 10)) : 0;
}

// Who hears of the copy's progress, as CopyFileExA has it.
struct Progress {
    LPPROGRESS_ROUTINE routine;
    LPVOID data;
    LPBOOL cancel;
    HANDLE source;
    HANDLE target;
    off_t size;
    DWORD delay;
    DWORD answer; // PROGRESS_CONTINUE until the routine or cancel says otherwise

    // Tells the routine (unless it asked for quiet) and takes its answer;
    // false when the copy must stop.
    bool Tell(off_t copied, DWORD reason) {
        if (cancel != nullptr && *cancel) {
            answer = PROGRESS_CANCEL;
            return false;
        }
        if (routine == nullptr || answer == PROGRESS_QUIET)
            return true;
        LARGE_INTEGER total, done;
        total.QuadPart = size;
        done.QuadPart = copied;
        // One stream: the data, so its counts are the file's.
        answer = routine(total, done, total, done, 1, reason, source, target, data);
        return answer == PROGRESS_CONTINUE || answer == PROGRESS_QUIET;
    }
};

// Copies from into to, both at offset 0 and to empty: to the end of from,
// or once size bytes (the size from had when it was opened) are copied,
// which spares asking once more for an end that is known. A file that
// reports no size (some of /proc) is copied to its end. With a routine or a
// delay the copy goes in chunks, and a routine that says stop ends it with
// ECANCELED.
int CopyContents(int from, int to, off_t size, Progress& progress) {
    const bool chunked =
        progress.routine != nullptr || progress.cancel != nullptr || progress.delay != 0;
    const size_t most = chunked ? static_cast<size_t>(kChunkSize) : size_t(1) << 30;
    bool kernelCopy = true;
    char buffer[65536];
    off_t copied = 0;
    if (!progress.Tell(0, CALLBACK_STREAM_SWITCH))
        return ECANCELED;
    while (size == 0 || copied < size) {
        ssize_t count;
        if (kernelCopy) {
            count = copy_file_range(from, nullptr, to, nullptr, most, 0);
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
        if (!chunked)
            continue;
        if (progress.delay != 0)
            Sleep(progress.delay);
        if (!progress.Tell(copied, CALLBACK_CHUNK_FINISHED))
            return ECANCELED;
    }
    return 0;
}

bool SameFile(const struct stat& first, const struct stat& second) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Removes the file at path if it is still the one open on fd: never one
// that someone put at that name since.
void RemoveIfStill(const char* path, int fd) {
    FolderEntry entry(path);
    struct stat opened, named;
    if (fstat(fd, &opened) == 0 && entry.Look(&named) == 0 && SameFile(opened, named))
        unlinkat(entry.Folder(), entry.Name(), 0);
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

} // namespace

BOOL WINAPI CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) {
    return CopyFileExA(existingFileName, newFileName, nullptr, nullptr, nullptr,
                       failIfExists ? COPY_FILE_FAIL_IF_EXISTS : 0);
}

// A routine that answers PROGRESS_CANCEL, or a cancel flag that turns true,
// ends the copy with ERROR_REQUEST_ABORTED and removes the target;
// PROGRESS_STOP ends it the same way but leaves what was written, as Win32
// keeps it for a restart.
BOOL WINAPI CopyFileExA(LPCSTR existingFileName, LPCSTR newFileName,
                        LPPROGRESS_ROUTINE progressRoutine, LPVOID data, LPBOOL cancel,
                        DWORD copyFlags) {
    const bool failIfExists = (copyFlags & COPY_FILE_FAIL_IF_EXISTS) != 0;
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

    // The routine is handed the two files as handles, as Win32 does.
    RegisterHandle(&source.file->header, HandleKind::File);
    RegisterHandle(&target.file->header, HandleKind::File);
    Progress progress{progressRoutine,
                      data,
                      cancel,
                      &source.file->header,
                      &target.file->header,
                      source.status.st_size,
                      ChunkDelay(),
                      PROGRESS_CONTINUE};
    if (error == 0)
        error = CopyContents(source.file->fd, target.file->fd, source.status.st_size, progress);
    UnregisterHandle(&source.file->header);
    UnregisterHandle(&target.file->header);
    if (error == ECANCELED) {
        if (progress.answer != PROGRESS_STOP)
            RemoveIfStill(targetPath.Text(), target.file->fd);
        DestroyFileObject(target.file);
        DestroyFileObject(source.file);
        return Fail(ERROR_REQUEST_ABORTED);
    }
    if (error == 0) {
        // Win32 keeps the source's attributes and last-write time. Only the
        // permissions travel: a set-user-ID or set-group-ID bit of a package
        // file must not come out owned by whoever runs the copy. Nor does
        // write permission for group or others, which the target keeps as it
        // had it (an existing one) or was given it in its folder (a new one),
        // as a copy on Windows takes its access from where it is written:
        // another user's 0666 file must not come out as root's 0666 copy.
        const mode_t othersWrite = S_IWGRP | S_IWOTH;
        mode_t mode =
            (source.status.st_mode & 0777 & ~othersWrite) | (target.status.st_mode & othersWrite);
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
