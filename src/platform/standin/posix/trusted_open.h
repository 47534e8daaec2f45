// Opening a path for writing without following a link that another user
// made, at any part of the path: the stand-in may run as root over folders
// that other users may write, and a link planted part way along a path
// (a log's folder, say) would send the write wherever that user likes.
#pragma once

#include <sys/stat.h>

// A link may be followed when the caller or root owns it.
bool IsTrustedLink(const struct stat& link);

// open(path, flags, mode), except that each link on the way and at the end
// is followed only when IsTrustedLink; another user's link fails the open
// with EACCES. With O_CREAT | O_EXCL a link at the end is never followed,
// as open does. Returns the descriptor, or -1 with errno set. With folder,
// also the status of the folder that the file was opened in (for a path
// that ends in a separator, of the folder itself).
int OpenFollowingTrustedLinks(const char* path, int flags, mode_t mode,
                              struct stat* folder = nullptr);
