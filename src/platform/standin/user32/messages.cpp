// Per-thread message queues, for thread messages (null window), which
// dispatching leaves alone, and for the messages of windows
// (window_objects.h), which dispatching hands to their window procedure.
#include <chrono>
#include <cstdlib>
#include <mutex>

#include "message_queues.h"
#include "window_objects.h"

namespace {

struct QueuedMessage {
    MSG message;
    bool press; // the test's press (window_objects.h)
    QueuedMessage* next;
};

struct ThreadQueue {
    DWORD threadId;
    QueuedMessage* first;
    QueuedMessage* last;
    ThreadQueue* next;
};

std::mutex& QueueLock() {
    static std::mutex lock;
    return lock;
}

ThreadQueue* queues = nullptr;

// With the lock held. Null when out of memory, or when the thread is
// unknown and create is false.
ThreadQueue* QueueOf(DWORD threadId, bool create) {
    for (ThreadQueue* queue = queues; queue != nullptr; queue = queue->next) {
        if (queue->threadId == threadId)
            return queue;
    }
    if (!create)
        return nullptr;
    ThreadQueue* queue = static_cast<ThreadQueue*>(std::calloc(1, sizeof(ThreadQueue)));
    if (queue != nullptr) {
        queue->threadId = threadId;
        queue->next = queues;
        queues = queue;
    }
    return queue;
}

DWORD MessageTime() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

bool Matches(const MSG& message, HWND window, UINT filterMin, UINT filterMax) {
    // (HWND)-1 asks for thread messages only; null for all.
    if (window == reinterpret_cast<HWND>(-1)) {
        if (message.hwnd != nullptr)
            return false;
    } else if (window != nullptr && message.hwnd != window) {
        return false;
    }
    if (filterMin == 0 && filterMax == 0)
        return true;
    return message.message >= filterMin && message.message <= filterMax;
}

} // namespace

void NoteThreadSeen(DWORD threadId) {
    std::lock_guard<std::mutex> guard(QueueLock());
    QueueOf(threadId, true);
}

BOOL PostToThread(DWORD threadId, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                  bool press) {
    QueuedMessage* entry = static_cast<QueuedMessage*>(std::calloc(1, sizeof(QueuedMessage)));
    if (entry == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    entry->message.hwnd = window;
    entry->message.message = message;
    entry->message.wParam = wParam;
    entry->message.lParam = lParam;
    entry->message.time = MessageTime();
    entry->press = press;
    std::lock_guard<std::mutex> guard(QueueLock());
    ThreadQueue* queue = QueueOf(threadId, false);
    if (queue == nullptr) {
        std::free(entry);
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    if (queue->last == nullptr)
        queue->first = entry;
    else
        queue->last->next = entry;
    queue->last = entry;
    return TRUE;
}

BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    return PostToThread(threadId, nullptr, message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const DWORD thread = WindowThread(window);
    if (thread == 0) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return PostToThread(thread, window, message, wParam, lParam);
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    DWORD self = GetCurrentThreadId();
    bool pressTaken = false;
    {
        std::lock_guard<std::mutex> guard(QueueLock());
        ThreadQueue* queue = QueueOf(self, true);
        if (queue == nullptr)
            return FALSE;
        QueuedMessage* previous = nullptr;
        QueuedMessage* entry = queue->first;
        for (; entry != nullptr; previous = entry, entry = entry->next)
            if (Matches(entry->message, window, filterMin, filterMax))
                break;
        if (entry == nullptr)
            return FALSE;
        if (msg != nullptr)
            *msg = entry->message;
        if (remove & PM_REMOVE) {
            if (previous == nullptr)
                queue->first = entry->next;
            else
                previous->next = entry->next;
            if (queue->last == entry)
                queue->last = previous;
            pressTaken = entry->press;
            std::free(entry);
        }
    }
    if (pressTaken)
        PressTaken();
    return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    // Only key messages are translated; there is no keyboard to make
    // characters from, but Win32 reports them translated all the same.
    if (msg == nullptr)
        return FALSE;
    switch (msg->message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
        return TRUE;
    default:
        return FALSE;
    }
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (msg == nullptr || msg->hwnd == nullptr)
        return 0;
    if (!IsWindow(msg->hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}
