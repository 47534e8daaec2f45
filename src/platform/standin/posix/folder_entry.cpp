#include "folder_entry.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "posix_path.h"
#include "trusted_open.h"

FolderEntry::FolderEntry(const char* posixPath) : folder_(-1), error_(0) {
    Reopen(posixPath);
}

FolderEntry::~FolderEntry() {
    Close();
}

void FolderEntry::Close() {
    if (folder_ >= 0)
        close(folder_);
    folder_ = -1;
}

void FolderEntry::Reopen(const char* posixPath) {
    Close();
    std::string whole = posixPath;
    while (whole.size() > 1 && whole.back() == '/')
        whole.pop_back();
    const std::size_t slash = whole.rfind('/');
    name_ = slash == std::string::npos ? whole : whole.substr(slash + 1);
    if (name_.empty() || name_ == "." || name_ == ".." || whole == "/") {
        error_ = EISDIR;
        return;
    }
    folder_ =
        OpenFollowingTrustedLinks(FolderOf(whole).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
    error_ = folder_ >= 0 ? 0 : errno;
}

int FolderEntry::Look(struct stat* info) const {
    if (folder_ < 0) {
        errno = error_;
        return -1;
    }
    return fstatat(folder_, name_.c_str(), info, AT_SYMLINK_NOFOLLOW);
}

int FolderEntry::OpenName(int flags, mode_t mode) const {
    if (folder_ < 0) {
        errno = error_;
        return -1;
    }
    int fd;
    do {
        fd = openat(folder_, name_.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int FolderEntry::TakeFolder() {
    const int folder = folder_;
    folder_ = -1;
    return folder;
}

int LookLookingUpCase(PosixPath& path, FolderEntry& entry, struct stat* info) {
    if (entry.Look(info) == 0)
        return 0;
    const int error = errno;
    if (error == ENOENT && path.LookUpMissingCase()) {
        entry.Reopen(path.Text());
        return entry.Look(info);
    }
    errno = error;
    return -1;
}
