// A window of the program's own with the standard controls of a progress
// window: what they answer and what reaches the window procedure.
#include <gtest/gtest.h>

#include "platform/win32_api.h"

namespace {

int commands = 0;
int closes = 0;

LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) {
        ++commands;
        return 0;
    }
    if (message == WM_CLOSE) {
        ++closes; // and not destroyed
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void Pump(HWND dialog) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        if (!IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
}

TEST(Windows, ProgressBarButtonEscapeAndCloseBox) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = CountingProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ProgressTestWindow";
    ASSERT_NE(RegisterClassA(&windowClass), 0);
    const HWND window =
        CreateWindowExA(0, "ProgressTestWindow", "Test", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                        10, 10, 300, 120, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    const HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 10, 10, 200, 20,
                                     window, nullptr, windowClass.hInstance, nullptr);
    const HWND button =
        CreateWindowExA(0, "BUTTON", "Abbrechen", WS_CHILD | WS_VISIBLE, 10, 40, 90, 25, window,
                        reinterpret_cast<HMENU>(IDCANCEL), windowClass.hInstance, nullptr);
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(GetDlgItem(window, IDCANCEL), button);
    ShowWindow(window, SW_SHOW);

    SendMessageA(bar, PBM_SETRANGE32, 0, 1000);
    EXPECT_EQ(SendMessageA(bar, PBM_SETPOS, 250, 0), 0);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 250);
    SendMessageA(bar, PBM_SETPOS, 5000, 0); // beyond the range: its end
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 1000);

    char text[32] = {};
    ASSERT_TRUE(SetWindowTextA(window, "Neu"));
    EXPECT_EQ(SendMessageA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text)), 3);
    EXPECT_STREQ(text, "Neu");

    Pump(window);
    commands = closes = 0;
    SendMessageA(button, BM_CLICK, 0, 0);
    EXPECT_EQ(commands, 1);
    // Escape, as a key arrives: posted, and a dialog's IDCANCEL through
    // IsDialogMessageA.
    ASSERT_TRUE(PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0));
    Pump(window);
    EXPECT_EQ(commands, 2);
    // The close box: the default answer to SC_CLOSE is WM_CLOSE.
    ASSERT_TRUE(PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0));
    Pump(window);
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(IsWindow(window));

    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(IsWindow(bar));
    SetLastError(0);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
}

} // namespace
