#pragma once

#include "../windows.h"

// Gives the thread a message queue, so that messages may be posted to it.
void NoteThreadSeen(DWORD threadId);

// Queues a message for the thread, to the window or (null) to the thread
// itself; fails with ERROR_INVALID_THREAD_ID for a thread without a queue.
// `press`: it is the test's press, and PressTaken is called once the
// thread takes it from the queue.
BOOL PostToThread(DWORD threadId, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                  bool press = false);
