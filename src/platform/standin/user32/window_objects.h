// The stand-in's windows: each is a record with its class, text, parent and
// the state of its control kind, kept for the process. There is no screen:
// a shown top-level window is one line on standard error that is written
// anew in place ("\r") when its text or its progress bar changes, and
// ended with a line break when it is hidden or destroyed:
//
//   <caption>: <static text> <percent> % [<button text>]
//
// with its children in the order they were made. For tests, the variable
// UPDATE_STANDIN_PRESS="<what>@<percent>" presses, once, when a shown
// window's progress bar reaches the percent: <what> is the text of one of
// its buttons (a BM_CLICK is posted to it), "Escape" (a WM_KEYDOWN of
// VK_ESCAPE posted to the window) or "Close" (the close box: WM_SYSCOMMAND
// SC_CLOSE). Posted, the press arrives when the program pumps its messages,
// as a user's would; once the program has taken it from its queue, the
// window's line ends in " (pressed: <what>)".
#pragma once

#include "../windows.h"

// The thread that made the window; 0 for no window.
DWORD WindowThread(HWND window);

// The program took the test's press from its queue: its window's line
// shows it.
void PressTaken();

// InitCommonControlsEx registers the progress bar class.
void RegisterProgressClass();
