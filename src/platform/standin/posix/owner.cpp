#include "owner.h"

#include <unistd.h>

namespace {

// known: the file's status where the caller has it, updated to the owner
// and group given.
void GiveTo(int fd, uid_t owner, gid_t group, struct stat* known = nullptr) {
    struct stat looked;
    if (known == nullptr && fstat(fd, &looked) != 0)
        return;
    struct stat& info = known != nullptr ? *known : looked;
    if (info.st_uid == owner && info.st_gid == group)
        return;
    if (fchown(fd, owner, group) == 0) {
        info.st_uid = owner;
        info.st_gid = group;
    } else if (info.st_gid != group && fchown(fd, static_cast<uid_t>(-1), group) == 0) {
        info.st_gid = group;
    }
}

} // namespace

void GiveToFolderOwner(int fd, const struct stat& folder) {
    GiveTo(fd, folder.st_uid, folder.st_gid);
}

void GiveToFolderOwner(int fd, const struct stat& folder, struct stat* file) {
    GiveTo(fd, folder.st_uid, folder.st_gid, file);
}

void GiveOwnerOf(int fd, const struct stat& replaced) {
    GiveTo(fd, replaced.st_uid, replaced.st_gid);
}
