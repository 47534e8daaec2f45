#include "share_modes.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kLockDirectory[] = "/tmp/.win32-share-modes";

enum Flag : off_t {
    kGate = 0,
    kHasRead,
    kHasWrite,
    kHasDelete,
    kDeniesRead,
    kDeniesWrite,
    kDeniesDelete,
    kFlagEnd
};

bool LockRange(int fd, short type, off_t start, off_t length, bool wait) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    while (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// Whether an open file description other than fd's holds a lock on flag.
bool HeldByOthers(int fd, off_t flag) {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = flag;
    lock.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &lock) != 0)
        return false;
    return lock.l_type != F_UNLCK;
}

void LockFilePath(dev_t device, ino_t inode, char* path, std::size_t size) {
    std::snprintf(path, size, "%s/%llx-%llx", kLockDirectory,
                  static_cast<unsigned long long>(device), static_cast<unsigned long long>(inode));
}

int OpenLockFile(const char* path) {
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 && errno == ENOENT) {
        if (mkdir(kLockDirectory, 0777) == 0)
            chmod(kLockDirectory, 01777); // shared by every user, as the files are
        fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    }
    if (fd >= 0)
        fchmod(fd, 0666);
    return fd;
}

// Opens the lock file and takes its gate. The file may be unlinked by a
// last closer between our open and our gate: then it is no longer the one
// that others find, and we start again.
int EnterLockFile(const char* path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = OpenLockFile(path);
        if (fd < 0)
            return -1;
        if (!LockRange(fd, F_WRLCK, kGate, 1, true)) {
            close(fd);
            return -1;
        }
        struct stat opened, named;
        if (fstat(fd, &opened) == 0 && stat(path, &named) == 0 && opened.st_ino == named.st_ino &&
            opened.st_dev == named.st_dev)
            return fd;
        close(fd);
    }
    return -1;
}

void LeaveGate(int fd) {
    LockRange(fd, F_UNLCK, kGate, 1, false);
}

} // namespace

DataAccess DataAccessOf(DWORD access) {
    const DWORD kReadData = 0x0001, kWriteData = 0x0002, kAppendData = 0x0004, kDelete = 0x00010000;
    DataAccess wanted;
    wanted.read = (access & (GENERIC_READ | GENERIC_ALL | kReadData)) != 0;
    wanted.write = (access & (GENERIC_WRITE | GENERIC_ALL | kWriteData | kAppendData)) != 0;
    wanted.remove = (access & (GENERIC_ALL | kDelete)) != 0;
    return wanted;
}

DWORD ClaimShareAccess(dev_t device, ino_t inode, DWORD access, DWORD shareMode,
                       ShareClaim* claim) {
    claim->lockFd = -1;
    claim->device = device;
    claim->inode = inode;
    DataAccess wanted = DataAccessOf(access);
    if (!wanted.read && !wanted.write && !wanted.remove)
        return ERROR_SUCCESS;

    char path[128];
    LockFilePath(device, inode, path, sizeof(path));
    int fd = EnterLockFile(path);
    if (fd < 0)
        return ERROR_SUCCESS;

    bool sharesRead = (shareMode & FILE_SHARE_READ) != 0;
    bool sharesWrite = (shareMode & FILE_SHARE_WRITE) != 0;
    bool sharesDelete = (shareMode & FILE_SHARE_DELETE) != 0;
    bool conflict = (wanted.read && HeldByOthers(fd, kDeniesRead)) ||
                    (wanted.write && HeldByOthers(fd, kDeniesWrite)) ||
                    (wanted.remove && HeldByOthers(fd, kDeniesDelete)) ||
                    (!sharesRead && HeldByOthers(fd, kHasRead)) ||
                    (!sharesWrite && HeldByOthers(fd, kHasWrite)) ||
                    (!sharesDelete && HeldByOthers(fd, kHasDelete));
    if (conflict) {
        close(fd); // also leaves the gate
        return ERROR_SHARING_VIOLATION;
    }
    const struct {
        bool set;
        off_t flag;
    } flags[] = {{wanted.read, kHasRead},      {wanted.write, kHasWrite},
                 {wanted.remove, kHasDelete},  {!sharesRead, kDeniesRead},
                 {!sharesWrite, kDeniesWrite}, {!sharesDelete, kDeniesDelete}};
    for (const auto& flag : flags) {
        if (flag.set)
            LockRange(fd, F_RDLCK, flag.flag, 1, false);
    }
    LeaveGate(fd);
    claim->lockFd = fd;
    return ERROR_SUCCESS;
}

void ReleaseShareAccess(ShareClaim* claim) {
    if (claim->lockFd < 0)
        return;
    int fd = claim->lockFd;
    claim->lockFd = -1;
    LockRange(fd, F_WRLCK, kGate, 1, true);
    LockRange(fd, F_UNLCK, kHasRead, kFlagEnd - kHasRead, false);
    bool othersLeft = false;
    for (off_t flag = kHasRead; flag < kFlagEnd; ++flag)
        othersLeft = othersLeft || HeldByOthers(fd, flag);
    if (!othersLeft) {
        // We hold the gate: whoever opened the file meanwhile waits for it
        // and then sees that the name now leads elsewhere.
        char path[128];
        LockFilePath(claim->device, claim->inode, path, sizeof(path));
        unlink(path);
    }
    close(fd);
}
