// Room for more open files than the process's descriptor table takes.
//
// Windows gives a process millions of handles; Linux gives it as many
// descriptors as RLIMIT_NOFILE allows, and a process that may not raise the
// hard limit (a container, a user without CAP_SYS_RESOURCE) may be held to
// a few thousand. An open file description, and the share-mode locks on it
// (share_modes.h), lives as long as any descriptor of it, in any table: so
// descriptors that the process keeps only for their locks (handles with no
// data access) are handed, through a socket (SCM_RIGHTS), to keeper threads
// that each have a descriptor table of their own (close_range with
// CLOSE_RANGE_UNSHARE), as large as the limit again. A parked descriptor is
// closed in the keeper when its handle is closed, and comes back into the
// process's table when a call needs it.
#pragma once

struct ParkedDescriptor {
    int keeper = -1; // which keeper holds it; -1: none
    int number = -1; // its number in that keeper's table
};

// Moves the descriptors into keepers and closes them here, from the first
// on; how many (all but where no keeper could be had).
int ParkDescriptors(const int* fds, int count, ParkedDescriptor* parked);
// Closes a parked descriptor.
void CloseParked(const ParkedDescriptor& parked);
// Takes a parked descriptor back into the process's table: the descriptor,
// or -1 with errno.
int RecallParked(const ParkedDescriptor& parked);
