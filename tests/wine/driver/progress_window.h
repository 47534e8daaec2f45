// Watching the program's progress window from outside: found by its
// controls (a progress bar and a button, in a top-level window of the
// process that is no message box), its bar read with PBM_GETPOS, and its
// "Abbrechen" clicked with BM_CLICK once the bar reaches a given position.
#pragma once

#include <string>
#include <vector>

#include <windows.h>
// After <windows.h>: the progress bar class and its messages.
#include <commctrl.h>

struct ProgressWatch {
    int cancelAt = -1; // the bar position at which to click; -1: never
    HWND window = nullptr;
    std::string caption;
    std::vector<int> positions; // each different position seen, in order
    int unanswered = 0;         // PBM_GETPOS not answered within a second while
                                // copying (the bar below 100)
    DWORD slowestMs = 0;        // the longest answer
    int clickedAt = -1;         // the position the click was sent at
};

// One look, made in the driver's poll loop.
void WatchProgress(DWORD processId, ProgressWatch& watch);

// progress-window, progress-caption, progress-positions, progress-last,
// progress-unanswered, progress-slowest-ms and progress-clicked-at.
void ReportProgress(const ProgressWatch& watch);
