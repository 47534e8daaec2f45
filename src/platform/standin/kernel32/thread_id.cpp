#include <cerrno>
#include <ctime>
#include <sys/syscall.h>
#include <unistd.h>

#include "../windows.h"
#include "message_queues.h"

DWORD WINAPI GetCurrentThreadId() {
    DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    // A thread that learns its id may be posted to: it has a queue from now on.
    NoteThreadSeen(id);
    return id;
}

void WINAPI Sleep(DWORD milliseconds) {
    struct timespec left = {static_cast<time_t>(milliseconds / 1000),
                            static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
