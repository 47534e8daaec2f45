#include "owner.h"

#include <unistd.h>

namespace {

void GiveTo(int fd, uid_t owner, gid_t group) {
    struct stat info;
    if (fstat(fd, &info) != 0 || (info.st_uid == owner && info.st_gid == group))
        return;
    if (fchown(fd, owner, group) != 0 && info.st_gid != group)
        (void)fchown(fd, static_cast<uid_t>(-1), group);
}

} // namespace

void GiveToFolderOwner(int fd, const struct stat& folder) {
    GiveTo(fd, folder.st_uid, folder.st_gid);
}

void GiveOwnerOf(int fd, const struct stat& replaced) {
    GiveTo(fd, replaced.st_uid, replaced.st_gid);
}
