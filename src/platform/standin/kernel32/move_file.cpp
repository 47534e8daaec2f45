// MoveFileExA: renaming a file in one step, replacing an existing target
// where asked, with the refusals of Windows: a target that is read-only, a
// directory or not a plain file, or that is open anywhere is not replaced
// (ERROR_ACCESS_DENIED); a source that another open does not share for
// deleting is not moved (ERROR_SHARING_VIOLATION). A link at the target is
// replaced itself, whatever it leads to. With MOVEFILE_COPY_ALLOWED a plain file that cannot be
// renamed onto another file system is copied there and then deleted, as Windows moves it to another
// volume; a directory or a link is not (ERROR_NOT_SAME_DEVICE).
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "folder_entry.h"
#include "folder_index.h"
#include "owner.h"
#include "posix_path.h"
#include "rename_faults.h"
#include "share_modes.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The descriptors of the files of one call, opened to test their share
// modes (and to give the source an owner); closed when it ends.
struct Claims {
    int source = -1, target = -1;
    void Release() {
        if (source >= 0)
            close(source);
        if (target >= 0)
            close(target);
        source = target = -1;
    }
    ~Claims() { Release(); }
};

// Why an existing target may not be replaced, or ERROR_SUCCESS.
DWORD RefusalOfTarget(const FolderEntry& target, const struct stat& info, int* claim) {
    // A link is replaced as it is, as Windows replaces a symbolic link
    // itself; what it leads to is neither judged nor opened.
    if (S_ISLNK(info.st_mode))
        return ERROR_SUCCESS;
    if (!S_ISREG(info.st_mode) || !(info.st_mode & S_IWUSR))
        return ERROR_ACCESS_DENIED;
    // Any open with data access, however it shares, keeps the file: denying
    // every kind of sharing meets each of them.
    DWORD error;
    *claim = OpenCheckingDelete(target, 0, &error);
    if (*claim < 0)
        return ERROR_ACCESS_DENIED;
    // So does a running program (its image is open where no claim shows).
    int fd = target.OpenName(O_WRONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0 && errno == ETXTBSY)
        return ERROR_ACCESS_DENIED;
    if (fd >= 0)
        close(fd);
    return ERROR_SUCCESS;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The rename from one entry to the other, in the folders they opened.
// Without replacing it fails with EEXIST where the target is there; where
// the file system cannot refuse that in the rename itself, it is looked at
// first.
int Rename(const FolderEntry& source, const FolderEntry& target, bool replaces) {
    if (replaces)
        return renameat(source.Folder(), source.Name(), target.Folder(), target.Name());
    if (renameat2(source.Folder(), source.Name(), target.Folder(), target.Name(),
                  RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    struct stat info;
    if (target.Look(&info) == 0) {
        errno = EEXIST;
        return -1;
    }
    return renameat(source.Folder(), source.Name(), target.Folder(), target.Name());
}

// Makes the data of a plain file durable; other kinds have none of their own.
void SyncFile(int fd) {
    struct stat info;
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        fsync(fd);
}

// Makes a rename in the folder (an O_PATH descriptor) durable.
void SyncFolder(int folder) {
    int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// The move of a plain file to another file system: CopyFileA, which keeps
// the refusals of a replaced target, then the source goes. A source that
// cannot be deleted is reported, with the copy left in place. The calls
// take the names as the caller gave them.
BOOL CopyAndDelete(LPCSTR source, LPCSTR target, const FolderEntry& posixTarget, DWORD flags) {
    if (!CopyFileA(source, target, !(flags & MOVEFILE_REPLACE_EXISTING)))
        return FALSE;
    if (flags & MOVEFILE_WRITE_THROUGH) {
        const int copy = posixTarget.OpenName(O_RDONLY | O_NONBLOCK | O_NOCTTY);
        SyncFile(copy);
        if (copy >= 0)
            close(copy);
        SyncFolder(posixTarget.Folder());
    }
    return DeleteFileA(source);
}

} // namespace

BOOL WINAPI MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) {
    if (RenameFaultAsked(existingFileName))
        return FALSE;
    if (flags & ~(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH | MOVEFILE_COPY_ALLOWED))
        return Fail(ERROR_INVALID_PARAMETER); // no delayed moves
    if (newFileName == nullptr)
        return DeleteFileA(existingFileName);
    PosixPath sourcePath(existingFileName, CaseLookup::WhenMissing);
    PosixPath targetPath(newFileName, CaseLookup::WhenMissing);
    if (!sourcePath.CheckValid() || !targetPath.CheckValid())
        return FALSE;

    FolderEntry source(sourcePath.Text());
    struct stat sourceInfo;
    if (LookLookingUpCase(sourcePath, source, &sourceInfo) != 0)
        return Fail(Win32ErrorFromErrno(errno, sourcePath.Text()));
    Claims claims;
    // Renaming is an open of the source for delete access that shares
    // everything, which a handle on a file or a folder that does not share
    // deleting refuses; a link or a special file, which no handle holds,
    // moves as it is.
    DWORD error = ERROR_SUCCESS;
    if (S_ISREG(sourceInfo.st_mode) || S_ISDIR(sourceInfo.st_mode)) {
        claims.source = OpenCheckingDelete(source, kShareAll, &error);
        if (claims.source < 0)
            return Fail(error);
    }

    // Without replacing, the rename itself refuses a name that is there,
    // which is looked at only then.
    const bool replaces = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
    if (!replaces)
        targetPath.LookUpMissingCase();
    FolderEntry target(targetPath.Text(), source);
    struct stat targetInfo;
    if (!replaces) {
        if (!target.IsOpen())
            return Fail(Win32ErrorFromErrno(target.Error(), targetPath.Text()));
    } else if (LookLookingUpCase(targetPath, target, &targetInfo) == 0) {
        if (SameFile(targetInfo, sourceInfo))
            return TRUE; // the same file under both names
        if (S_ISDIR(sourceInfo.st_mode))
            return Fail(ERROR_ACCESS_DENIED);
        error = RefusalOfTarget(target, targetInfo, &claims.target);
        if (error != ERROR_SUCCESS)
            return Fail(error);
        // The file that takes another's place takes its owner and group.
        if (claims.source >= 0 && S_ISREG(sourceInfo.st_mode) && S_ISREG(targetInfo.st_mode))
            GiveOwnerOf(claims.source, targetInfo);
    } else if (errno != ENOENT) {
        return Fail(Win32ErrorFromErrno(errno, targetPath.Text()));
    } else if (!target.IsOpen()) {
        return Fail(MissingPathError(targetPath.Text()));
    }

    if (flags & MOVEFILE_WRITE_THROUGH)
        SyncFile(claims.source);
    FolderChange leaving(sourcePath.Text(), targetPath.Text(), sourcePath.FolderLook(),
                         targetPath.FolderLook());
    FolderChange arriving(leaving.CoversNewName() ? nullptr : targetPath.Text(), nullptr,
                          targetPath.FolderLook());
    const int renamed = Rename(source, target, replaces);
    const int renameError = errno;
    claims.Release();
    if (renamed != 0 && !replaces && renameError == EEXIST) {
        if (target.Look(&targetInfo) == 0 && SameFile(targetInfo, sourceInfo))
            return TRUE; // the same file under both names
        return Fail(ERROR_ALREADY_EXISTS);
    }
    if (renamed == 0) {
        leaving.Renamed();
        arriving.Added();
    }
    if (renamed != 0) {
        if (renameError == EXDEV && (flags & MOVEFILE_COPY_ALLOWED) && S_ISREG(sourceInfo.st_mode))
            return CopyAndDelete(existingFileName, newFileName, target, flags);
        if (renameError == EXDEV)
            return Fail(ERROR_NOT_SAME_DEVICE);
        if (renameError == ENOENT)
            return Fail(MissingPathError(targetPath.Text()));
        return Fail(Win32ErrorFromErrno(renameError, targetPath.Text()));
    }
    if (flags & MOVEFILE_WRITE_THROUGH)
        SyncFolder(target.Folder());
    return TRUE;
}
