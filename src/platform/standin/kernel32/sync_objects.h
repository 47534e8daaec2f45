// Threads and semaphores of the stand-in (sync_objects.cpp).
#pragma once

#include "../windows.h"

// Closes a thread or semaphore handle; false when it is neither, and the
// caller tries its own kinds.
bool CloseSyncObject(HANDLE handle);
