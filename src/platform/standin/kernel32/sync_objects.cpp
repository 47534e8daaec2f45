// Threads and semaphores over the C++ library's. A handle holds a share of
// its object's state, as does a running thread, so a handle closed while
// its thread runs or while another thread waits on it leaves the state to
// the others.
#include "sync_objects.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "handle_objects.h"

namespace {

struct SyncState {
    std::mutex lock;
    std::condition_variable changed;
    LONG count = 0;   // a semaphore's count
    LONG maximum = 0; // and its limit
    bool ended = false;
};

struct SyncObject {
    HandleObject header;
    std::shared_ptr<SyncState> state;
};

SyncObject* Find(HANDLE handle, HandleKind kind) {
    return reinterpret_cast<SyncObject*>(FindHandle(handle, kind));
}

HANDLE Register(std::shared_ptr<SyncState> state, HandleKind kind) {
    SyncObject* object = new (std::nothrow) SyncObject();
    if (object == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    object->state = std::move(state);
    RegisterHandle(&object->header, kind);
    return object;
}

// Waits until `ready` holds under the state's lock; false at the timeout.
template <typename Ready>
bool WaitFor(SyncState& state, std::unique_lock<std::mutex>& guard, DWORD milliseconds,
             Ready ready) {
    if (milliseconds == INFINITE) {
        state.changed.wait(guard, ready);
        return true;
    }
    return state.changed.wait_for(guard, std::chrono::milliseconds(milliseconds), ready);
}

} // namespace

bool CloseSyncObject(HANDLE handle) {
    SyncObject* object = Find(handle, HandleKind::Thread);
    if (object == nullptr)
        object = Find(handle, HandleKind::Semaphore);
    if (object == nullptr || !UnregisterHandle(&object->header))
        return false;
    delete object;
    return true;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE startAddress,
                           LPVOID parameter, DWORD creationFlags, LPDWORD threadId) {
    if (startAddress == nullptr || creationFlags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<SyncState> state = std::make_shared<SyncState>();
    // The thread's id is known once it runs; the caller that asks for it
    // waits that long.
    struct Start {
        std::mutex lock;
        std::condition_variable known;
        DWORD id = 0;
    };
    std::shared_ptr<Start> start = std::make_shared<Start>();
    try {
        std::thread([state, start, startAddress, parameter] {
            {
                std::lock_guard<std::mutex> guard(start->lock);
                start->id = GetCurrentThreadId();
            }
            start->known.notify_all();
            startAddress(parameter);
            std::lock_guard<std::mutex> guard(state->lock);
            state->ended = true;
            state->changed.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId != nullptr) {
        std::unique_lock<std::mutex> guard(start->lock);
        start->known.wait(guard, [&start] { return start->id != 0; });
        *threadId = start->id;
    }
    return Register(state, HandleKind::Thread);
}

HANDLE WINAPI CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG initialCount, LONG maximumCount,
                               LPCSTR name) {
    if (name != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<SyncState> state = std::make_shared<SyncState>();
    state->count = initialCount;
    state->maximum = maximumCount;
    return Register(state, HandleKind::Semaphore);
}

BOOL WINAPI ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LPLONG previousCount) {
    SyncObject* object = Find(semaphore, HandleKind::Semaphore);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<SyncState> state = object->state;
    if (releaseCount <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(state->lock);
    if (releaseCount > state->maximum - state->count) {
        SetLastError(ERROR_TOO_MANY_POSTS);
        return FALSE;
    }
    if (previousCount != nullptr)
        *previousCount = state->count;
    state->count += releaseCount;
    state->changed.notify_all();
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    SyncObject* object = Find(handle, HandleKind::Thread);
    const bool thread = object != nullptr;
    if (!thread)
        object = Find(handle, HandleKind::Semaphore);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::shared_ptr<SyncState> state = object->state;
    std::unique_lock<std::mutex> guard(state->lock);
    if (thread)
        return WaitFor(*state, guard, milliseconds, [&state] { return state->ended; })
                   ? WAIT_OBJECT_0
                   : WAIT_TIMEOUT;
    if (!WaitFor(*state, guard, milliseconds, [&state] { return state->count > 0; }))
        return WAIT_TIMEOUT;
    --state->count;
    return WAIT_OBJECT_0;
}
