#include "descriptor_keepers.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sched.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef CLOSE_RANGE_UNSHARE
#define CLOSE_RANGE_UNSHARE (1U << 1)
#endif

namespace {

// What a request asks of a keeper.
enum Command : int { kPark, kClose, kRecall };
// SCM_MAX_FD: the most descriptors one message carries.
const int kBatch = 253;

struct Request {
    int command;
    int count;  // kPark: descriptors that come with it
    int number; // kClose, kRecall: the keeper's descriptor
};

int CloseRange(unsigned first, unsigned last, unsigned flags) {
    return static_cast<int>(syscall(SYS_close_range, first, last, flags));
}

bool SendAll(int socket, const void* data, std::size_t size, const int* fds = nullptr,
             int count = 0) {
    struct iovec part = {const_cast<void*>(data), size};
    struct msghdr message = {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(int) * kBatch)];
    if (count > 0) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof(int) * count);
        struct cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int) * count);
        std::memcpy(CMSG_DATA(header), fds, sizeof(int) * count);
    }
    ssize_t sent;
    do {
        sent = sendmsg(socket, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(size);
}

// Receives size bytes and up to kBatch descriptors (into fds, counted in
// *count when given).
bool ReceiveAll(int socket, void* data, std::size_t size, int* fds = nullptr,
                int* count = nullptr) {
    struct iovec part = {data, size};
    struct msghdr message = {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(int) * kBatch)];
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received;
    do {
        received = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (received < 0 && errno == EINTR);
    if (count != nullptr)
        *count = 0;
    for (struct cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const int n = static_cast<int>((header->cmsg_len - CMSG_LEN(0)) / sizeof(int));
        if (fds != nullptr && count != nullptr) {
            std::memcpy(fds + *count, CMSG_DATA(header), sizeof(int) * n);
            *count += n;
        }
    }
    return received == static_cast<ssize_t>(size) && !(message.msg_flags & MSG_CTRUNC);
}

// The keeper's side: a table of its own, with nothing in it but its socket.
void Keep(int socket, int ready) {
    const int low = socket < ready ? socket : ready, high = socket < ready ? ready : socket;
    bool alone = unshare(CLONE_FILES) == 0;
    if (alone && low > 0)
        alone = CloseRange(0, low - 1, 0) == 0;
    if (alone && high > low + 1)
        alone = CloseRange(low + 1, high - 1, 0) == 0;
    if (alone)
        alone = CloseRange(high + 1, ~0U, 0) == 0;
    const char answer = alone ? 'y' : 'n';
    const bool told = write(ready, &answer, 1) == 1;
    close(ready);
    if (!told || !alone)
        return;
    for (;;) {
        Request request;
        int fds[kBatch], count = 0;
        if (!ReceiveAll(socket, &request, sizeof request, fds, &count))
            return;
        if (request.command == kPark) {
            SendAll(socket, fds, sizeof fds);
        } else if (request.command == kClose) {
            close(request.number);
            SendAll(socket, &request, sizeof request);
        } else {
            SendAll(socket, &request, sizeof request, &request.number, 1);
            close(request.number);
        }
    }
}

struct Keeper {
    int socket;
    int room; // descriptors it may still take
};

std::mutex& KeepersLock() {
    static std::mutex lock;
    return lock;
}

std::vector<Keeper>& Keepers() {
    static std::vector<Keeper>* keepers = new std::vector<Keeper>;
    return *keepers;
}

// A new keeper, or -1.
int StartKeeper() {
    int sockets[2], ready[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0)
        return -1;
    if (pipe2(ready, O_CLOEXEC) != 0) {
        close(sockets[0]);
        close(sockets[1]);
        return -1;
    }
    try {
        std::thread(Keep, sockets[1], ready[1]).detach();
    } catch (...) { // no thread to be had
        close(sockets[0]);
        close(sockets[1]);
        close(ready[0]);
        close(ready[1]);
        return -1;
    }
    char answer = 'n';
    const bool started = read(ready[0], &answer, 1) == 1 && answer == 'y';
    // The keeper has a table of its own by now, with its own copies.
    close(ready[0]);
    close(ready[1]);
    close(sockets[1]);
    if (!started) {
        close(sockets[0]);
        return -1;
    }
    const long limit = sysconf(_SC_OPEN_MAX);
    Keepers().push_back({sockets[0], static_cast<int>(limit > 64 ? limit - 16 : 0)});
    return static_cast<int>(Keepers().size()) - 1;
}

} // namespace

int ParkDescriptors(const int* fds, int count, ParkedDescriptor* parked) {
    std::lock_guard<std::mutex> guard(KeepersLock());
    int done = 0;
    while (done < count) {
        int keeper = -1;
        for (int k = 0; k < static_cast<int>(Keepers().size()) && keeper < 0; ++k)
            if (Keepers()[k].room >= kBatch)
                keeper = k;
        if (keeper < 0 && (keeper = StartKeeper()) < 0)
            break;
        const int batch = count - done < kBatch ? count - done : kBatch;
        Request request = {kPark, batch, -1};
        int numbers[kBatch];
        if (!SendAll(Keepers()[keeper].socket, &request, sizeof request, fds + done, batch) ||
            !ReceiveAll(Keepers()[keeper].socket, numbers, sizeof numbers))
            break;
        Keepers()[keeper].room -= batch;
        for (int i = 0; i < batch; ++i) {
            close(fds[done + i]);
            parked[done + i].keeper = keeper;
            parked[done + i].number = numbers[i];
        }
        done += batch;
    }
    return done;
}

void CloseParked(const ParkedDescriptor& parked) {
    std::lock_guard<std::mutex> guard(KeepersLock());
    Keeper& keeper = Keepers()[parked.keeper];
    Request request = {kClose, 0, parked.number};
    if (SendAll(keeper.socket, &request, sizeof request) &&
        ReceiveAll(keeper.socket, &request, sizeof request))
        ++keeper.room;
}

int RecallParked(const ParkedDescriptor& parked) {
    std::lock_guard<std::mutex> guard(KeepersLock());
    Keeper& keeper = Keepers()[parked.keeper];
    Request request = {kRecall, 0, parked.number};
    int fd = -1, count = 0;
    if (!SendAll(keeper.socket, &request, sizeof request) ||
        !ReceiveAll(keeper.socket, &request, sizeof request, &fd, &count) || count != 1)
        return -1;
    ++keeper.room;
    return fd;
}
