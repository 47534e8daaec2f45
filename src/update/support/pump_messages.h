#pragma once

#include "platform/win32_api.h"

// Removes, translates and dispatches every message waiting in the calling
// thread's queue; returns as soon as the queue is empty, never waits.
// Messages of the modeless dialog, when one is set, go through
// IsDialogMessageA first, so that its keys (Escape) work.
void PumpMessages();

// The modeless dialog whose keys PumpMessages handles; null for none.
void SetModelessDialog(HWND dialog);
