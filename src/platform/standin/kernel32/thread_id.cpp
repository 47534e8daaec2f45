// The calling thread: its id, pauses and the time since start-up.
#include <cerrno>
#include <ctime>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "../windows.h"
#include "message_queues.h"

namespace {

// A thread's id, asked of the kernel once (the message pump asks for each
// file copied). A child made by fork is a new thread under the old id's
// variable, so it forgets it.
thread_local DWORD knownId = 0;

void ForgetIdInChild() {
    knownId = 0;
}

const int kForkHandler = pthread_atfork(nullptr, nullptr, ForgetIdInChild);

} // namespace

DWORD WINAPI GetCurrentThreadId() {
    (void)kForkHandler;
    if (knownId == 0)
        knownId = static_cast<DWORD>(syscall(SYS_gettid));
    const DWORD id = knownId;
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

DWORD WINAPI GetTickCount() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Wraps after 49.7 days, as Win32's does.
    return static_cast<DWORD>(static_cast<unsigned long long>(now.tv_sec) * 1000u +
                              static_cast<unsigned long long>(now.tv_nsec) / 1000000u);
}
