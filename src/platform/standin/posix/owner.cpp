#include "owner.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Takes away what the file may not keep under another owner (owner.h);
// `from` is the folder or file that the owner comes from.
void NarrowPermissions(int fd, const struct stat& from, struct stat* info) {
    const mode_t mode = info->st_mode & 07777;
    const mode_t narrowed = mode & ~(S_ISUID | S_ISGID | ((S_IWGRP | S_IWOTH) & ~from.st_mode));
    // A folder's set-group-ID bit only passes its group to what is made in
    // it, and stays.
    const mode_t kept = S_ISDIR(info->st_mode) ? narrowed | (mode & S_ISGID) : narrowed;
    if (kept != mode && fchmod(fd, kept) == 0)
        info->st_mode = (info->st_mode & ~07777) | kept;
}

// known: the file's status where the caller has it, updated to the owner
// and group given.
void GiveTo(int fd, const struct stat& from, struct stat* known = nullptr) {
    const uid_t owner = from.st_uid;
    const gid_t group = from.st_gid;
    struct stat looked;
    if (known == nullptr && fstat(fd, &looked) != 0)
        return;
    struct stat& info = known != nullptr ? *known : looked;
    if (info.st_uid == owner && info.st_gid == group)
        return;
    NarrowPermissions(fd, from, &info);
    if (fchown(fd, owner, group) == 0) {
        info.st_uid = owner;
        info.st_gid = group;
    } else if (info.st_gid != group && fchown(fd, static_cast<uid_t>(-1), group) == 0) {
        info.st_gid = group;
    }
}

} // namespace

void GiveToFolderOwner(int fd, const struct stat& folder) {
    GiveTo(fd, folder);
}

void GiveToFolderOwner(int fd, const struct stat& folder, struct stat* file) {
    GiveTo(fd, folder, file);
}

void GiveOwnerOf(int fd, const struct stat& replaced) {
    GiveTo(fd, replaced);
}
