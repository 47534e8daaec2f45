#pragma once

#include "../windows.h"

// Gives the thread a message queue, so that messages may be posted to it.
void NoteThreadSeen(DWORD threadId);
