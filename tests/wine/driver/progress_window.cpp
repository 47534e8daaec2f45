#include "progress_window.h"

#include <cstring>

#include "report.h"

namespace {

struct Search {
    DWORD processId;
    HWND found;
};

HWND ChildOfClass(HWND window, const char* className) {
    return FindWindowExA(window, nullptr, className, nullptr);
}

BOOL CALLBACK TakeProgressWindow(HWND window, LPARAM parameter) {
    Search* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) &&
        ChildOfClass(window, PROGRESS_CLASSA) != nullptr &&
        ChildOfClass(window, "Button") != nullptr) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::string Text(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

} // namespace

void WatchProgress(DWORD processId, ProgressWatch& watch) {
    if (watch.window == nullptr || !IsWindow(watch.window)) {
        Search search = {processId, nullptr};
        EnumWindows(TakeProgressWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr)
            return;
        watch.window = search.found;
        watch.caption = Text(search.found);
    }
    const HWND bar = ChildOfClass(watch.window, PROGRESS_CLASSA);
    if (bar == nullptr)
        return;
    // Sent across processes, the message is answered only while the
    // program handles its messages: the answer time is its responsiveness.
    DWORD_PTR position = 0;
    const DWORD start = GetTickCount();
    if (!SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position)) {
        // At 99 % the staged files are being flushed to the disk, in one
        // call that may outlast the timeout; only the copy is held to it.
        if (IsWindow(bar) && (watch.positions.empty() || watch.positions.back() < 99))
            ++watch.unanswered;
        return;
    }
    const DWORD took = GetTickCount() - start;
    if (took > watch.slowestMs)
        watch.slowestMs = took;
    const int now = static_cast<int>(position);
    if (watch.positions.empty() || watch.positions.back() != now)
        watch.positions.push_back(now);
    if (watch.cancelAt >= 0 && watch.clickedAt < 0 && now >= watch.cancelAt) {
        for (HWND button = ChildOfClass(watch.window, "Button"); button != nullptr;
             button = FindWindowExA(watch.window, button, "Button", nullptr)) {
            if (Text(button) == "Abbrechen") {
                DWORD_PTR ignored = 0;
                SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
                watch.clickedAt = now;
                break;
            }
        }
    }
}

void ReportProgress(const ProgressWatch& watch) {
    Report("progress-window", watch.positions.empty() ? "none" : "found");
    if (watch.positions.empty())
        return;
    Report("progress-caption", watch.caption);
    std::string positions;
    for (int position : watch.positions)
        positions += (positions.empty() ? "" : ",") + std::to_string(position);
    Report("progress-positions", positions);
    Report("progress-last", std::to_string(watch.positions.back()));
    Report("progress-unanswered", std::to_string(watch.unanswered));
    Report("progress-slowest-ms", std::to_string(watch.slowestMs));
    if (watch.cancelAt >= 0)
        Report("progress-clicked-at", std::to_string(watch.clickedAt));
}
