// The window that shows how far an update is: a progress bar, the file being
// copied and an "Abbrechen" button. Escape, the button and the close box all
// ask to stop; the window only notes that, and whoever copies asks for it.
#pragma once

#include "platform/win32_api.h"

class ProgressWindow {
  public:
    ProgressWindow() = default;
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // Creates and shows the window with the file being copied; false when
    // it cannot be made (the run then goes on without it).
    bool Open(const char* fileName);
    bool IsOpen() const { return window_ != nullptr; }
    // The bar, in percent (0 to 100); sent only when it changed.
    void SetPercent(unsigned percent);
    // The line with the file being copied.
    void SetFile(const char* fileName);
    // Asked to stop, by any of the three ways.
    bool CancelAsked() const { return cancelAsked_; }
    void Close();

  private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);

    HWND window_ = nullptr;
    HWND bar_ = nullptr;
    HWND fileLine_ = nullptr;
    unsigned percent_ = 0;
    bool cancelAsked_ = false;
};
