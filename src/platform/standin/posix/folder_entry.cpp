#include "folder_entry.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "posix_path.h"
#include "trusted_open.h"

FolderEntry::FolderEntry(const char* posixPath) : folder_(-1), ownsFolder_(false), error_(0) {
    Reopen(posixPath);
}

FolderEntry::FolderEntry(const char* posixPath, const FolderEntry& sibling)
    : folder_(-1), ownsFolder_(false), error_(0) {
    if (!sibling.IsOpen() || !Split(posixPath) || folderPath_ != sibling.folderPath_) {
        Reopen(posixPath);
        return;
    }
    folder_ = sibling.folder_;
}

FolderEntry::~FolderEntry() {
    Close();
}

void FolderEntry::Close() {
    if (folder_ >= 0 && ownsFolder_)
        close(folder_);
    folder_ = -1;
    ownsFolder_ = false;
}

bool FolderEntry::Split(const char* posixPath) {
    std::string whole = posixPath;
    while (whole.size() > 1 && whole.back() == '/')
        whole.pop_back();
    const std::size_t slash = whole.rfind('/');
    name_ = slash == std::string::npos ? whole : whole.substr(slash + 1);
    folderPath_ = FolderOf(whole);
    return !(name_.empty() || name_ == "." || name_ == ".." || whole == "/");
}

void FolderEntry::Reopen(const char* posixPath) {
    Close();
    if (!Split(posixPath)) {
        error_ = EISDIR;
        return;
    }
    folder_ = OpenFollowingTrustedLinks(folderPath_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
    ownsFolder_ = folder_ >= 0;
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
    const int folder = ownsFolder_ || folder_ < 0 ? folder_ : dup(folder_);
    folder_ = -1;
    ownsFolder_ = false;
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
