#include "share_modes.h"

#include "posix_path.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace {

// The flags in the order of their bytes, chosen so that the flags of the
// opens a copy makes lie side by side and are raised in one call: a source
// (has read, denies delete) and a target (denies delete, has write, denies
// read, denies write).
enum Flag { kHasRead, kDeniesDelete, kHasWrite, kDeniesRead, kDeniesWrite, kHasDelete, kFlagCount };
using FlagSet = unsigned;

const off_t kFirstFlagByte = std::numeric_limits<off_t>::max() - (kFlagCount - 1);
const int kAttempts = 4;

FlagSet Bit(Flag flag) {
    return 1u << flag;
}

// A lock call on bytes [first, first + count) of the flags. 0 or the errno.
int LockCall(int fd, int command, short type, int first, int count, short* held = nullptr) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = kFirstFlagByte + first;
    lock.l_len = count;
    while (fcntl(fd, command, &lock) != 0) {
        if (errno != EINTR)
            return errno;
    }
    if (held != nullptr)
        *held = lock.l_type;
    return 0;
}

// Calls visit(first, count) for each run of neighbouring flags in set, and
// stops at the first call that does not return 0.
template <typename Visit> int ForEachRun(FlagSet set, Visit visit) {
    for (int first = 0; first < kFlagCount;) {
        if (!(set & (1u << first))) {
            ++first;
            continue;
        }
        int end = first;
        while (end < kFlagCount && (set & (1u << end)))
            ++end;
        if (int result = visit(first, end - first))
            return result;
        first = end;
    }
    return 0;
}

const int kHeld = -1;

// kHeld when another open file description holds any flag of set, 0 when
// none does, or the errno of a failed test.
int HeldByOthers(int fd, FlagSet set) {
    auto test = [fd](int first, int count) {
        short held = F_UNLCK;
        int error = LockCall(fd, F_OFD_GETLK, F_WRLCK, first, count, &held);
        return error != 0 ? error : held != F_UNLCK ? kHeld : 0;
    };
    // Mostly nobody else holds a flag that matters: one test over the span
    // from the first flag of set to its last says so (a handle of our own
    // that only deletes, an update run's hold, raises a flag outside it).
    int first = 0, last = kFlagCount - 1;
    while (first < kFlagCount && !(set & (1u << first)))
        ++first;
    while (last > first && !(set & (1u << last)))
        --last;
    if (first == kFlagCount)
        return 0;
    int any = test(first, last - first + 1);
    if (any != kHeld || set == ((2u << last) - (1u << first)))
        return any;
    return ForEachRun(set, test);
}

int Raise(int fd, FlagSet set) {
    return ForEachRun(set, [fd](int first, int count) {
        return LockCall(fd, F_OFD_SETLK, F_RDLCK, first, count);
    });
}

void LowerAll(int fd) {
    LockCall(fd, F_OFD_SETLK, F_UNLCK, 0, kFlagCount);
}

// A pause of 0.1 ms for each attempt so far and up to 0.3 ms more, different
// in each process and at each moment, so that two opens that met each other
// do not meet again.
void PauseBeforeRetry(int attempt) {
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned mix =
        static_cast<unsigned>(now.tv_nsec) ^ static_cast<unsigned>(getpid()) * 2654435761u;
    mix ^= mix >> 15;
    mix *= 2246822519u;
    mix ^= mix >> 13;
    struct timespec pause = {0, 100000L * attempt + static_cast<long>(mix % 300000)};
    nanosleep(&pause, nullptr);
}

} // namespace

bool ReadsData(DWORD access) {
    return (access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0;
}

bool WritesData(DWORD access) {
    return (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
}

DataAccess DataAccessOf(DWORD access) {
    DataAccess wanted;
    wanted.read = ReadsData(access) || (access & (GENERIC_EXECUTE | FILE_EXECUTE)) != 0;
    wanted.write = WritesData(access);
    wanted.remove = (access & (GENERIC_ALL | DELETE)) != 0;
    return wanted;
}

namespace {

// The flags an open with the access and share mode raises, and those of
// others that stand against it.
void FlagsOf(DWORD access, DWORD shareMode, FlagSet* raised, FlagSet* unmet) {
    const DataAccess wanted = DataAccessOf(access);
    const struct {
        bool does;
        Flag has, denies;
        bool shares;
    } kinds[] = {{wanted.read, kHasRead, kDeniesRead, (shareMode & FILE_SHARE_READ) != 0},
                 {wanted.write, kHasWrite, kDeniesWrite, (shareMode & FILE_SHARE_WRITE) != 0},
                 {wanted.remove, kHasDelete, kDeniesDelete, (shareMode & FILE_SHARE_DELETE) != 0}};
    *raised = *unmet = 0;
    for (const auto& kind : kinds) {
        if (kind.does) {
            *raised |= Bit(kind.has);
            *unmet |= Bit(kind.denies);
        }
        if (!kind.shares) {
            *raised |= Bit(kind.denies);
            *unmet |= Bit(kind.has);
        }
    }
}

} // namespace

DWORD ClaimShareAccessOfNewFile(int fd, DWORD access, DWORD shareMode) {
    if (!DataAccessOf(access).Any())
        return ERROR_SUCCESS;
    FlagSet raised, unmet;
    FlagsOf(access, shareMode, &raised, &unmet);
    return Raise(fd, raised) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

DWORD TestShareAccess(int fd, DWORD access, DWORD shareMode) {
    if (!DataAccessOf(access).Any())
        return ERROR_SUCCESS;
    FlagSet raised, unmet;
    FlagsOf(access, shareMode, &raised, &unmet);
    const int held = HeldByOthers(fd, unmet);
    return held == 0       ? ERROR_SUCCESS
           : held == kHeld ? ERROR_SHARING_VIOLATION
                           : ERROR_ACCESS_DENIED;
}

DWORD ClaimShareAccess(int fd, DWORD access, DWORD shareMode) {
    if (!DataAccessOf(access).Any())
        return ERROR_SUCCESS;
    FlagSet raised, unmet;
    FlagsOf(access, shareMode, &raised, &unmet);

    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0)
            PauseBeforeRetry(attempt);
        int error = Raise(fd, raised);
        // Another program's write lock over the whole file.
        if (error == EAGAIN || error == EACCES) {
            LowerAll(fd);
            continue;
        }
        if (error == 0)
            error = HeldByOthers(fd, unmet);
        if (error == 0)
            return ERROR_SUCCESS;
        LowerAll(fd);
        if (error != kHeld)
            return ERROR_ACCESS_DENIED; // the flags cannot be kept
    }
    return ERROR_SHARING_VIOLATION;
}

int OpenCheckingDelete(const FolderEntry& entry, DWORD shareMode, DWORD* error) {
    int fd = entry.OpenName(O_RDONLY | O_NONBLOCK | O_NOCTTY);
    *error = fd < 0 ? Win32ErrorFromErrno(errno, nullptr) : TestShareAccess(fd, DELETE, shareMode);
    if (fd >= 0 && *error != ERROR_SUCCESS) {
        close(fd);
        fd = -1;
    }
    return fd;
}
