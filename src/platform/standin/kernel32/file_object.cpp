#include "file_object.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "file_attributes.h"
#include "folder_entry.h"
#include "folder_index.h"
#include "owner.h"
#include "share_modes.h"
#include "trusted_open.h"

namespace {

// Never waits: a FIFO without a writer or a device without carrier opens
// at once (and is refused after fstat), a tty does not become ours.
const int kOpenFlags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

int OpenRetrying(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = open(path, flags | kOpenFlags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// FILE_FLAG_OPEN_REPARSE_POINT: the last name itself, a link there as a
// link (O_PATH); the folders on the way as a write walks them.
int OpenNameItself(const char* path, int flags, mode_t mode) {
    FolderEntry entry(path);
    if (entry.Error() == EISDIR) // ends in "." or "..", which are no links
        return OpenFollowingTrustedLinks(path, flags | kOpenFlags, mode);
    const int fd = entry.OpenName(flags | kOpenFlags, mode);
    // A link at the name fails O_NOFOLLOW, and O_DIRECTORY as well.
    if (fd < 0 && (errno == ELOOP || errno == ENOTDIR)) {
        const int error = errno;
        struct stat info;
        if (entry.Look(&info) == 0 && S_ISLNK(info.st_mode))
            return entry.OpenName(O_PATH);
        errno = error;
    }
    return fd;
}

// Writing, truncating or creating does not follow a link that another user
// owns, anywhere on the path: it may have been planted to send the write
// elsewhere (the stand-in runs as root). Reading follows links as open does.
int OpenPath(const char* path, int flags, mode_t mode, bool writes, bool nameItself) {
    if (nameItself)
        return OpenNameItself(path, flags, mode);
    if (writes)
        return OpenFollowingTrustedLinks(path, flags | kOpenFlags, mode);
    return OpenRetrying(path, flags, mode);
}

// The status of the folder of path now, where it is still the folder
// `before` (the same identity); false otherwise.
bool LookAgainAtFolder(const char* path, const struct stat& before, struct stat* after) {
    return stat(FolderOf(path).c_str(), after) == 0 && S_ISDIR(after->st_mode) &&
           after->st_dev == before.st_dev && after->st_ino == before.st_ino;
}

// A new file, never made through a link at its name (O_EXCL); *folder
// receives the status of the folder it was made in. Where the call has
// looked at that folder already (its case look-up), the file is made by its
// whole path and the folder looked at once more: the same folder gives its
// status after the change; another (the folder was replaced in between) is
// not trusted, and the file stays the caller's. Otherwise the folder is
// opened first and the file made in it.
int CreateNew(const PosixPath& path, int flags, mode_t mode, struct stat* folder) {
    const struct stat* before = path.FolderLook();
    FolderChange change(path.Text(), nullptr, before);
    flags |= O_CREAT | O_EXCL | kOpenFlags;
    if (before == nullptr || !S_ISDIR(before->st_mode)) {
        const int fd = OpenFollowingTrustedLinks(path.Text(), flags, mode, folder);
        if (fd >= 0)
            change.Added(folder);
        return fd;
    }
    const int fd = OpenFollowingTrustedLinks(path.Text(), flags, mode);
    if (fd < 0)
        return fd;
    if (LookAgainAtFolder(path.Text(), *before, folder)) {
        change.Added(folder);
    } else {
        change.Added();
        if (fstat(fd, folder) != 0) {
            const int error = errno;
            close(fd);
            errno = error;
            return -1;
        }
    }
    return fd;
}

FileOpenResult Failure(DWORD error) {
    FileOpenResult result = {};
    result.error = error;
    return result;
}

FileOpenResult Failure(int fd, DWORD error) {
    close(fd);
    return Failure(error);
}

DWORD OpenError(int error, const char* posixPath, DWORD disposition) {
    switch (error) {
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case ENXIO: // a socket, or a device without its driver
    case ENODEV:
        return ERROR_CANT_ACCESS_FILE;
    case EWOULDBLOCK: // a lease held by another program (not waited for)
        return ERROR_SHARING_VIOLATION;
    case ENOENT:
        // Creating failed for want of a directory on the way.
        if (disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING)
            return ERROR_PATH_NOT_FOUND;
        break;
    }
    return Win32ErrorFromErrno(error, posixPath);
}

// An open of a delete-on-close file that was removed between our open and
// our share modes (its holder closed it): the open is made once more.
const DWORD kRemovedMeanwhile = 0xFFFFFFFF;
const int kDeleteOnCloseAttempts = 10;

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Notes the directory of path (O_PATH) and the name of the file in it, for
// the removal at close. kRemovedMeanwhile when the name no longer leads to
// the open file `opened` (it was removed or replaced in between);
// ERROR_ACCESS_DENIED when the name is a link (what it points at is never
// deleted) or the directory cannot be opened.
DWORD NoteDeleteOnClose(const char* path, const struct stat& opened, FileObject* file) {
    FolderEntry entry(path);
    if (!entry.IsOpen())
        return ERROR_ACCESS_DENIED;
    struct stat named;
    if (entry.Look(&named) != 0)
        return kRemovedMeanwhile;
    if (S_ISLNK(named.st_mode))
        return ERROR_ACCESS_DENIED;
    if (!SameFile(named, opened))
        return kRemovedMeanwhile;
    file->deleteName = strdup(entry.Name());
    if (file->deleteName == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    file->deleteDirectoryFd = entry.TakeFolder();
    return ERROR_SUCCESS;
}

// Handles kept only for their share modes, not parked, oldest first.
std::mutex& ParkableLock() {
    static std::mutex lock;
    return lock;
}
FileObject* oldestParkable = nullptr;
FileObject* newestParkable = nullptr;

void Unlist(FileObject* file) {
    (file->olderParkable ? file->olderParkable->newerParkable : oldestParkable) =
        file->newerParkable;
    (file->newerParkable ? file->newerParkable->olderParkable : newestParkable) =
        file->olderParkable;
    file->olderParkable = file->newerParkable = nullptr;
}

// Once the process's own descriptors come within this many of its limit,
// the listed handles are parked with keepers; a process held to fewer than
// kSmallestLimit descriptors parks none.
const long kHeadroom = 256, kSmallestLimit = 1024;
const std::size_t kParkBatch = 1024;

// Lists a new handle kept only for its share modes; when its descriptor
// shows the table nearly full, parks the oldest listed ones.
void ListParkable(FileObject* file) {
    // The limit as it is now, looked at again every 64 handles: parking
    // starts at most 64 descriptors late, well within the headroom.
    std::lock_guard<std::mutex> guard(ParkableLock());
    static long limit = 0;
    static unsigned opened = 0;
    if (opened++ % 64 == 0)
        limit = sysconf(_SC_OPEN_MAX);
    file->parkable = true;
    file->olderParkable = newestParkable;
    (newestParkable ? newestParkable->newerParkable : oldestParkable) = file;
    newestParkable = file;
    if (limit < kSmallestLimit || file->fd < limit - kHeadroom)
        return;
    // The oldest of them, a batch at a time: their numbers are free again
    // for the next opens, and a run that only just passes the limit parks
    // (and closes through its keepers) few.
    std::vector<FileObject*> files;
    std::vector<int> fds;
    for (FileObject* listed = oldestParkable; listed != nullptr && files.size() < kParkBatch;
         listed = listed->newerParkable) {
        files.push_back(listed);
        fds.push_back(listed->fd);
    }
    std::vector<ParkedDescriptor> parked(files.size());
    const int done = ParkDescriptors(fds.data(), static_cast<int>(fds.size()), parked.data());
    for (int i = 0; i < done; ++i) {
        Unlist(files[i]);
        files[i]->parked = parked[i];
        files[i]->fd = -1;
    }
}

FileOpenResult OpenOnce(PosixPath& path, DWORD access, DWORD shareMode, DWORD disposition,
                        DWORD flags) {
    const bool deleteOnClose = (flags & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    if (deleteOnClose)
        access |= DELETE; // as Win32 adds it
    DataAccess wanted = DataAccessOf(access);
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
        return Failure(ERROR_INVALID_PARAMETER);
    if (disposition == TRUNCATE_EXISTING && !wanted.write)
        return Failure(ERROR_INVALID_PARAMETER);

    // Opened for reading in any case: the share modes are read locks on the
    // file (share_modes.h). CREATE_ALWAYS empties an existing file whatever
    // access the handle asks for, so it needs a descriptor that may.
    const bool mayTruncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    int mode = wanted.write || mayTruncate ? O_RDWR : O_RDONLY;
    // Data access that appends and cannot write in place.
    if ((access & FILE_APPEND_DATA) && !(access & (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL)))
        mode |= O_APPEND;
    const bool writes = wanted.write || disposition != OPEN_EXISTING;
    const bool nameItself = (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    // A file created with the read-only attribute is still written through
    // the handle that created it; only later opens are refused.
    mode_t createMode = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    if (deleteOnClose)
        createMode &= 0600; // see file_object.h

    // A new name must not exist in another case; other opens look the case
    // up only when the name as written is missing.
    bool caseLookedUp = disposition == CREATE_NEW;
    if (caseLookedUp)
        path.LookUpMissingCase();
    bool existed = true;
    struct stat madeIn = {}; // the folder of a file made here
    bool madeInLink = false; // made where a link at the name leads
    int fd = -1, error = 0;
    for (int attempt = 0; fd < 0 && attempt < 10; ++attempt) {
        if (disposition == CREATE_NEW) {
            fd = CreateNew(path, mode, createMode, &madeIn);
            error = errno;
            existed = fd < 0 && error == EEXIST;
            break;
        }
        fd = OpenPath(path.Text(), mode, 0, writes, nameItself);
        error = errno;
        // Asking for no data needs no read permission on Win32.
        if (fd < 0 && error == EACCES && !wanted.Any() && !mayTruncate) {
            fd = OpenPath(path.Text(), O_PATH, 0, writes, nameItself);
            error = errno;
        }
        if (fd >= 0 || error != ENOENT)
            break;
        if (!caseLookedUp) {
            caseLookedUp = true;
            if (path.LookUpMissingCase())
                continue;
        }
        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
            break;
        // Create it, unless someone else did so in between.
        fd = CreateNew(path, mode, createMode, &madeIn);
        error = errno;
        existed = fd < 0; // made by someone else in between: open it again
        if (fd < 0 && error != EEXIST)
            break;
        // A link at the name that leads nowhere yet: Win32 makes what it
        // leads to, where the walk trusts it; the file stays the caller's.
        struct stat name;
        if (fd < 0 && !nameItself && lstat(path.Text(), &name) == 0 && S_ISLNK(name.st_mode)) {
            fd = OpenPath(path.Text(), mode | O_CREAT, createMode, true, false);
            error = errno;
            existed = false;
            madeInLink = true;
            break;
        }
    }
    if (fd < 0)
        return Failure(OpenError(error, path.Text(), disposition));

    FileOpenResult result = {};
    if (fstat(fd, &result.status) != 0)
        return Failure(fd, ERROR_ACCESS_DENIED);
    // A new file takes the owner and group of its folder where the caller
    // may give them, as a file made by root in a user's installation must
    // stay the user's; a file that is deleted on close stays the caller's
    // (see file_object.h).
    if (!existed && !deleteOnClose && !madeInLink)
        GiveToFolderOwner(fd, madeIn, &result.status);
    const struct stat& info = result.status;
    const bool isLink = S_ISLNK(info.st_mode); // opened itself, see OpenNameItself
    const DWORD linkAttributes = isLink ? LinkAttributes(AT_FDCWD, path.Text()) : 0;
    if (isLink && (wanted.write || mayTruncate || deleteOnClose))
        return Failure(fd, ERROR_ACCESS_DENIED);
    bool isDirectory =
        isLink ? (linkAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 : S_ISDIR(info.st_mode);
    if (!isDirectory && !isLink && !S_ISREG(info.st_mode))
        return Failure(fd, ERROR_CANT_ACCESS_FILE);
    if (isDirectory && (!(flags & FILE_FLAG_BACKUP_SEMANTICS) || wanted.write || deleteOnClose))
        return Failure(fd, ERROR_ACCESS_DENIED);
    // Root would be let through: the read-only attribute binds everyone,
    // and a read-only file cannot be deleted either.
    bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (existed && !isDirectory && (wanted.write || truncates || deleteOnClose) &&
        !(info.st_mode & S_IWUSR))
        return Failure(fd, ERROR_ACCESS_DENIED);

    // A directory keeps its share modes as a file does; a link opened
    // itself has no descriptor to keep them on.
    if (!isLink) {
        // Emptying the file is writing to it, whatever the handle asks for:
        // an open that does not share writing keeps its contents.
        const DWORD claimed = existed && truncates ? access | FILE_WRITE_DATA : access;
        DWORD shareError = existed ? ClaimShareAccess(fd, claimed, shareMode)
                                   : ClaimShareAccessOfNewFile(fd, claimed, shareMode);
        if (shareError != ERROR_SUCCESS)
            return Failure(fd, shareError);
    }
    // Only now, with the share modes agreed, may the contents go.
    if (existed && truncates && info.st_size != 0 && ftruncate(fd, 0) != 0)
        return Failure(fd, Win32ErrorFromErrno(errno, path.Text()));

    FileObject* file = static_cast<FileObject*>(std::calloc(1, sizeof(FileObject)));
    if (file == nullptr)
        return Failure(fd, ERROR_NOT_ENOUGH_MEMORY);
    file->fd = fd;
    file->canRead = ReadsData(access) && !isLink;
    file->canWrite = WritesData(access);
    file->isDirectory = isDirectory;
    file->linkAttributes = linkAttributes;
    file->deleteDirectoryFd = -1;
    file->parked = ParkedDescriptor();
    if (deleteOnClose) {
        DWORD noted = NoteDeleteOnClose(path.Text(), info, file);
        if (noted != ERROR_SUCCESS) {
            DestroyFileObject(file);
            return Failure(noted);
        }
    }
    // Delete access alone, on a plain file: kept for its share modes only.
    if (wanted.remove && !wanted.read && !wanted.write && !deleteOnClose && !isDirectory && !isLink)
        ListParkable(file);
    result.file = file;
    result.error = ERROR_SUCCESS;
    result.existed = existed;
    return result;
}

} // namespace

int DescriptorOf(FileObject* file) {
    if (file->fd < 0 && file->parked.keeper >= 0) {
        const int fd = RecallParked(file->parked);
        if (fd < 0) {
            SetLastError(ERROR_TOO_MANY_OPEN_FILES);
            return -1;
        }
        file->fd = fd;
        file->parked = ParkedDescriptor();
    }
    return file->fd;
}

FileOpenResult OpenFileObject(PosixPath& path, DWORD access, DWORD shareMode, DWORD disposition,
                              DWORD flags) {
    for (int attempt = 0; attempt < kDeleteOnCloseAttempts; ++attempt) {
        FileOpenResult result = OpenOnce(path, access, shareMode, disposition, flags);
        if (result.file != nullptr || result.error != kRemovedMeanwhile)
            return result;
    }
    // What Windows answers for a file whose deletion is pending.
    return Failure(ERROR_ACCESS_DENIED);
}

void DestroyFileObject(FileObject* file) {
    if (file->deleteName != nullptr) {
        // Removed while our share modes still hold (see file_object.h).
        struct stat opened, named;
        if (fstat(file->fd, &opened) == 0 &&
            fstatat(file->deleteDirectoryFd, file->deleteName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(opened, named))
            unlinkat(file->deleteDirectoryFd, file->deleteName, 0);
        std::free(file->deleteName);
    }
    if (file->deleteDirectoryFd >= 0)
        close(file->deleteDirectoryFd);
    if (file->parkable) {
        std::lock_guard<std::mutex> guard(ParkableLock());
        if (file->fd >= 0)
            Unlist(file);
    }
    if (file->fd >= 0)
        close(file->fd);
    else if (file->parked.keeper >= 0)
        CloseParked(file->parked);
    std::free(file);
}

FileObject* FileFromHandle(HANDLE handle) {
    return reinterpret_cast<FileObject*>(FindHandle(handle, HandleKind::File));
}
