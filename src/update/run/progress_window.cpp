#include "progress_window.h"

#include "pump_messages.h"
#include "text_string.h"
#include "update_texts.h"

namespace {

const char kClassName[] = "BrenvoltUpdateProgress";

// The layout, in pixels of the window (no dialog units: no template).
const int kWidth = 420;
const int kHeight = 150;
const int kMargin = 12;
const int kLineHeight = 20;
const int kBarHeight = 18;
const int kButtonWidth = 96;
const int kButtonHeight = 26;
const unsigned kBarRange = 100;

HWND MakeControl(const char* className, const char* text, DWORD style, int y, int x, int width,
                 int height, HWND parent, int id, HINSTANCE instance) {
    return CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                           parent, reinterpret_cast<HMENU>(static_cast<LONG_PTR>(id)), instance,
                           nullptr);
}

} // namespace

ProgressWindow::~ProgressWindow() {
    Close();
}

LRESULT CALLBACK ProgressWindow::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
    ProgressWindow* self =
        reinterpret_cast<ProgressWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    // The button and Escape (IsDialogMessageA) come as IDCANCEL, the close
    // box as WM_CLOSE, which must not destroy the window: the copy closes it.
    const bool cancel =
        (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE;
    if (cancel) {
        if (self != nullptr)
            self->cancelAsked_ = true;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool ProgressWindow::Open(const char* fileName) {
    if (window_ != nullptr)
        return true;
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    static bool classMade = false;
    if (!classMade) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = WindowProcedure;
        windowClass.hInstance = instance;
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kClassName;
        classMade = RegisterClassA(&windowClass) != 0;
        if (!classMade)
            return false;
    }
    const int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
    window_ = CreateWindowExA(WS_EX_DLGMODALFRAME, kClassName, update_texts::kProgressCaption,
                              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, x, y, kWidth, kHeight,
                              nullptr, nullptr, instance, nullptr);
    if (window_ == nullptr)
        return false;
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    const int inner = kWidth - 3 * kMargin;
    fileLine_ =
        MakeControl("STATIC", update_texts::kProgressFileLabel, SS_LEFTNOWORDWRAP | SS_PATHELLIPSIS,
                    kMargin, kMargin, inner, kLineHeight, window_, 0, instance);
    bar_ = MakeControl(PROGRESS_CLASSA, "", 0, kMargin + kLineHeight + 4, kMargin, inner,
                       kBarHeight, window_, 0, instance);
    const HWND button =
        MakeControl("BUTTON", update_texts::kProgressCancelButton, WS_TABSTOP | BS_DEFPUSHBUTTON,
                    kMargin + kLineHeight + kBarHeight + 14, kMargin + inner - kButtonWidth,
                    kButtonWidth, kButtonHeight, window_, IDCANCEL, instance);
    if (fileLine_ == nullptr || bar_ == nullptr || button == nullptr) {
        Close();
        return false;
    }
    SendMessageA(bar_, PBM_SETRANGE32, 0, kBarRange);
    SendMessageA(bar_, PBM_SETPOS, percent_, 0);
    SetFile(fileName);
    ShowWindow(window_, SW_SHOW);
    SetModelessDialog(window_);
    return true;
}

void ProgressWindow::SetPercent(unsigned percent) {
    if (percent > kBarRange)
        percent = kBarRange;
    if (percent == percent_)
        return;
    percent_ = percent;
    if (bar_ != nullptr)
        SendMessageA(bar_, PBM_SETPOS, percent, 0);
}

void ProgressWindow::SetFile(const char* fileName) {
    if (fileLine_ == nullptr)
        return;
    TextString line(update_texts::kProgressFileLabel);
    line.Append(fileName);
    SetWindowTextA(fileLine_, line.GetText());
}

void ProgressWindow::Close() {
    if (window_ == nullptr)
        return;
    SetModelessDialog(nullptr);
    DestroyWindow(window_);
    window_ = bar_ = fileLine_ = nullptr;
}
