// Owners of the files the stand-in makes. Windows keeps the owner of a file
// that a new one replaces, and an administrator's update of a per-user
// installation must leave its files the user's: where the caller may give
// a file away (root may), a new file or folder takes the owner and group of
// the folder it is made in, and a file put in another's place takes that
// one's. Where the caller may not, the file stays the caller's; a group of
// the caller's own is still given.
//
// A file given to another owner or group keeps no write permission for
// group or others that the file it takes them from (the folder, or the
// replaced file) does not have, and no set-user-ID or set-group-ID bit: a
// user's 0666 file put in place of root's 0644 file becomes root's 0644
// file, never root's 0666 file. That permission goes before the owner
// changes, so that there is no moment in which the file is another's and
// still writable by all.
#pragma once

#include <sys/stat.h>

void GiveToFolderOwner(int fd, const struct stat& folder);
// The same, for a file whose status the caller has taken already: it is
// kept up to date with the owner and group given.
void GiveToFolderOwner(int fd, const struct stat& folder, struct stat* file);

// Gives the file at fd the owner and group of the file `replaced`.
void GiveOwnerOf(int fd, const struct stat& replaced);
