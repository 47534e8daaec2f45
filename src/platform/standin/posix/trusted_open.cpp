#include "trusted_open.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <linux/openat2.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

#include "posix_path.h"

namespace {

const int kMostLinks = 40; // the kernel's own limit for one path

// One call, where no link is on the way at all; -1 with ELOOP where one is.
int OpenWithoutAnyLink(const char* path, int flags, mode_t mode) {
#ifdef SYS_openat2
    struct open_how how = {};
    how.flags = static_cast<unsigned long long>(flags);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_NO_SYMLINKS;
    long fd;
    do {
        fd = syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof(how));
    } while (fd < 0 && errno == EINTR);
    return static_cast<int>(fd);
#else
    (void)path, (void)flags, (void)mode;
    errno = ENOSYS;
    return -1;
#endif
}

// Errors of the one call that the walk may answer otherwise.
bool MayBeLink(int error) {
    return error == ELOOP || error == ENOSYS || error == EPERM || error == EINVAL;
}

int OpenRoot(bool absolute) {
    return open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
}

int Fail(int directory, int error) {
    if (directory >= 0)
        close(directory);
    errno = error;
    return -1;
}

// The walk, one name at a time from the root or the current directory; a
// link's text takes the place of its name in what is left to walk.
int OpenWalking(const char* path, int flags, mode_t mode, struct stat* folder) {
    std::string rest = path;
    int directory = OpenRoot(rest[0] == '/');
    if (directory < 0)
        return -1;
    const bool exclusive = (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL);
    int links = 0;
    std::size_t at = 0;
    for (;;) {
        while (at < rest.size() && rest[at] == '/')
            ++at;
        std::size_t end = rest.find('/', at);
        if (end == std::string::npos)
            end = rest.size();
        // A path that ends in a separator ends in its directory itself.
        const std::string name = end == at ? "." : rest.substr(at, end - at);
        const bool last = end == rest.size();
        if (!last) {
            const int inner =
                openat(directory, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (inner >= 0) {
                close(directory);
                directory = inner;
                at = end;
                continue;
            }
        } else {
            int fd;
            do {
                fd = openat(directory, name.c_str(), flags | (exclusive ? 0 : O_NOFOLLOW), mode);
            } while (fd < 0 && errno == EINTR);
            // O_PATH opens a link itself even so: it is a link to judge.
            struct stat opened;
            if (fd >= 0 && (flags & O_PATH) && !exclusive &&
                (fstat(fd, &opened) != 0 || S_ISLNK(opened.st_mode))) {
                close(fd);
                fd = -1;
                errno = ELOOP;
            }
            // A link at the end fails O_NOFOLLOW, and O_DIRECTORY as well.
            if (fd >= 0 || exclusive || (errno != ELOOP && errno != ENOTDIR)) {
                const int error = errno;
                if (fd >= 0 && folder != nullptr && fstat(directory, folder) != 0) {
                    close(fd);
                    fd = -1;
                }
                close(directory);
                errno = fd >= 0 ? 0 : error;
                return fd;
            }
        }
        // Not a directory, or a link: only a trusted link goes on.
        const int error = errno;
        struct stat info;
        if (fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(info.st_mode))
            return Fail(directory, error);
        if (!IsTrustedLink(info))
            return Fail(directory, EACCES);
        if (++links > kMostLinks)
            return Fail(directory, ELOOP);
        char target[PATH_MAX];
        const ssize_t length = readlinkat(directory, name.c_str(), target, sizeof(target) - 1);
        if (length <= 0)
            return Fail(directory, length < 0 ? errno : ENOENT);
        rest = std::string(target, static_cast<std::size_t>(length)) + rest.substr(end);
        at = 0;
        if (target[0] == '/') {
            close(directory);
            directory = OpenRoot(true);
            if (directory < 0)
                return -1;
        }
    }
}

} // namespace

bool IsTrustedLink(const struct stat& link) {
    return link.st_uid == geteuid() || link.st_uid == 0;
}

int OpenFollowingTrustedLinks(const char* path, int flags, mode_t mode, struct stat* folder) {
    if (path == nullptr || path[0] == '\0') {
        errno = ENOENT;
        return -1;
    }
    const std::string whole = path;
    const std::size_t slash = whole.rfind('/');
    const std::string name = slash == std::string::npos ? whole : whole.substr(slash + 1);
    if (folder == nullptr) {
        const int fd = OpenWithoutAnyLink(path, flags, mode);
        if (fd >= 0 || !MayBeLink(errno))
            return fd;
    } else if (!name.empty()) {
        // The folder first, so that its owner is that of the folder the
        // file is opened in.
        const std::string parent = FolderOf(whole);
        const int directory =
            OpenWithoutAnyLink(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
        if (directory < 0 && !MayBeLink(errno))
            return -1;
        if (directory >= 0) {
            const bool exclusive = (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL);
            int fd;
            do {
                fd = openat(directory, name.c_str(), flags | (exclusive ? 0 : O_NOFOLLOW), mode);
            } while (fd < 0 && errno == EINTR);
            const int error = errno;
            if (fd >= 0 && fstat(directory, folder) != 0) {
                close(fd);
                fd = -1;
            }
            close(directory);
            errno = error;
            if (fd >= 0 || error != ELOOP)
                return fd;
        }
    }
    return OpenWalking(path, flags, mode, folder);
}
