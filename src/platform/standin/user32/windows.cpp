// Windows without a screen (window_objects.h): their records, the messages
// of the three standard controls the program uses (static, button,
// progress bar) and the line that shows a window on standard error.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <strings.h>
#include <vector>

#include "message_queues.h"
#include "terminal_text.h"
#include "window_objects.h"

namespace {

enum class Kind { Registered, Static, Button, Progress };

struct WindowClass {
    std::string name;
    WNDPROC procedure;
};

struct Window {
    HWND handle;
    DWORD thread;
    HWND parent; // null for a top-level window
    int id;
    Kind kind;
    WNDPROC procedure;
    std::string text;
    bool visible;
    bool alive;
    LONG_PTR userData;
    int low, high, position; // of a progress bar
};

// Handles are never reused: a stale one finds no window.
const std::uintptr_t kFirstHandle = 0x20000;
const std::uintptr_t kHandleStep = 4;

std::mutex windowLock;
std::vector<WindowClass> classes;
std::vector<Window> windows;
bool progressRegistered = false;

// What is on the terminal: the window whose line was written last and not
// yet ended, and that line.
HWND shownWindow = nullptr;
std::string shownLine;

// The test's press (window_objects.h), read once.
struct Press {
    bool read = false;
    bool done = false;
    bool taken = false; // by the program, from its queue
    std::string what;
    int percent = -1;
    HWND window = nullptr; // the top-level window pressed
} press;

// With the lock held.
Window* Find(HWND handle) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    if (value < kFirstHandle || (value - kFirstHandle) % kHandleStep != 0)
        return nullptr;
    const std::size_t index = (value - kFirstHandle) / kHandleStep;
    if (index >= windows.size() || !windows[index].alive)
        return nullptr;
    return &windows[index];
}

Window* TopOf(Window* window) {
    while (window != nullptr && window->parent != nullptr)
        window = Find(window->parent);
    return window;
}

int Percent(const Window& bar) {
    if (bar.high <= bar.low)
        return 0;
    return static_cast<int>((static_cast<long long>(bar.position) - bar.low) * 100 /
                            (static_cast<long long>(bar.high) - bar.low));
}

void ReadPress() {
    press.read = true;
    const char* value = std::getenv("UPDATE_STANDIN_PRESS");
    const char* at = value != nullptr ? std::strrchr(value, '@') : nullptr;
    if (at == nullptr)
        return;
    press.what.assign(value, static_cast<std::size_t>(at - value));
    press.percent = std::atoi(at + 1);
}

// With the lock held: the message that presses what the test asked for on
// top, if it is due now.
bool DuePress(const Window& top, int percent, MSG& message) {
    if (!press.read)
        ReadPress();
    if (press.done || press.percent < 0 || percent < press.percent)
        return false;
    message = MSG();
    message.hwnd = top.handle;
    if (press.what == "Escape") {
        message.message = WM_KEYDOWN;
        message.wParam = VK_ESCAPE;
    } else if (press.what == "Close") {
        message.message = WM_SYSCOMMAND;
        message.wParam = SC_CLOSE;
    } else {
        message.hwnd = nullptr;
        for (const Window& child : windows)
            if (child.alive && child.parent == top.handle && child.kind == Kind::Button &&
                child.text == press.what)
                message.hwnd = child.handle;
        if (message.hwnd == nullptr)
            return false;
        message.message = BM_CLICK;
    }
    press.done = true;
    press.window = top.handle;
    return true;
}

// Writes the line of the top-level window of `window` anew when it changed,
// or ends it when the window is no longer shown; then makes a due press.
void Render(HWND window) {
    std::string out;
    MSG pressMessage;
    bool pressNow = false;
    DWORD thread = 0;
    {
        std::lock_guard<std::mutex> guard(windowLock);
        Window* top = TopOf(Find(window));
        if (top == nullptr)
            return;
        if (!top->visible) {
            if (shownWindow == top->handle) {
                out = "\n";
                shownWindow = nullptr;
                shownLine.clear();
            }
        } else {
            std::string line = top->text + ":";
            int percent = -1;
            for (const Window& child : windows) {
                if (!child.alive || child.parent != top->handle || !child.visible)
                    continue;
                if (child.kind == Kind::Static) {
                    line += " " + child.text;
                } else if (child.kind == Kind::Button) {
                    line += " [" + child.text + "]";
                } else if (child.kind == Kind::Progress) {
                    percent = Percent(child);
                    line += " " + std::to_string(percent) + " %";
                }
            }
            if (press.taken && press.window == top->handle)
                line += " (pressed: " + press.what + ")";
            if (shownWindow != top->handle || line != shownLine) {
                if (shownWindow != nullptr && shownWindow != top->handle)
                    out = "\n";
                std::vector<char> text(3 * line.size() + 1);
                const std::size_t length = AppendTerminalText(text.data(), line.c_str());
                std::size_t previous = shownLine.size();
                out += "\r";
                out.append(text.data(), length);
                // Blanks over the rest of a longer line before.
                if (previous > line.size())
                    out.append(previous - line.size(), ' ');
                shownWindow = top->handle;
                shownLine = line;
            }
            pressNow = DuePress(*top, percent, pressMessage);
            thread = top->thread;
        }
    }
    if (!out.empty())
        WriteToStandardError(out.data(), out.size());
    if (pressNow)
        PostToThread(thread, pressMessage.hwnd, pressMessage.message, pressMessage.wParam, 0, true);
}

LRESULT ControlProcedure(HWND handle, Kind kind, UINT message, WPARAM wParam, LPARAM lParam) {
    if (kind == Kind::Progress &&
        (message == PBM_SETRANGE32 || message == PBM_SETPOS || message == PBM_GETPOS)) {
        LRESULT result = 0;
        {
            std::lock_guard<std::mutex> guard(windowLock);
            Window* bar = Find(handle);
            if (bar == nullptr)
                return 0;
            if (message == PBM_GETPOS)
                return bar->position;
            if (message == PBM_SETRANGE32) {
                result = static_cast<LRESULT>((bar->low & 0xFFFF) |
                                              ((static_cast<DWORD>(bar->high) & 0xFFFF) << 16));
                bar->low = static_cast<int>(wParam);
                bar->high = static_cast<int>(lParam);
            } else {
                result = bar->position;
                bar->position = static_cast<int>(wParam);
            }
            if (bar->position < bar->low)
                bar->position = bar->low;
            if (bar->position > bar->high)
                bar->position = bar->high;
        }
        Render(handle);
        return result;
    }
    if (kind == Kind::Button && message == BM_CLICK) {
        HWND parent = nullptr;
        int id = 0;
        {
            std::lock_guard<std::mutex> guard(windowLock);
            Window* button = Find(handle);
            if (button == nullptr)
                return 0;
            parent = button->parent;
            id = button->id;
        }
        if (parent != nullptr)
            SendMessageA(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(handle));
        return 0;
    }
    return DefWindowProcA(handle, message, wParam, lParam);
}

} // namespace

void RegisterProgressClass() {
    std::lock_guard<std::mutex> guard(windowLock);
    progressRegistered = true;
}

void PressTaken() {
    HWND window = nullptr;
    {
        std::lock_guard<std::mutex> guard(windowLock);
        press.taken = true;
        window = press.window;
    }
    Render(window);
}

DWORD WindowThread(HWND handle) {
    std::lock_guard<std::mutex> guard(windowLock);
    const Window* window = Find(handle);
    return window != nullptr ? window->thread : 0;
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass) {
    if (windowClass == nullptr || windowClass->lpfnWndProc == nullptr ||
        windowClass->lpszClassName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> guard(windowLock);
    for (const WindowClass& known : classes) {
        if (strcasecmp(known.name.c_str(), windowClass->lpszClassName) == 0) {
            SetLastError(ERROR_CLASS_ALREADY_EXISTS);
            return 0;
        }
    }
    classes.push_back(WindowClass{windowClass->lpszClassName, windowClass->lpfnWndProc});
    return static_cast<ATOM>(0xC000 + classes.size() - 1);
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
    Window window{};
    window.high = 100;
    window.alive = true;
    window.thread = GetCurrentThreadId();
    window.text = windowName != nullptr ? windowName : "";
    window.visible = (style & WS_VISIBLE) != 0;
    {
        std::lock_guard<std::mutex> guard(windowLock);
        if (className == nullptr) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        if (strcasecmp(className, "STATIC") == 0) {
            window.kind = Kind::Static;
        } else if (strcasecmp(className, "BUTTON") == 0) {
            window.kind = Kind::Button;
        } else if (progressRegistered && strcasecmp(className, PROGRESS_CLASSA) == 0) {
            window.kind = Kind::Progress;
        } else {
            window.kind = Kind::Registered;
            for (const WindowClass& known : classes)
                if (strcasecmp(known.name.c_str(), className) == 0)
                    window.procedure = known.procedure;
            if (window.procedure == nullptr) {
                SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
                return nullptr;
            }
        }
        if (style & WS_CHILD) {
            if (parent == nullptr) {
                SetLastError(ERROR_TLW_WITH_WSCHILD);
                return nullptr;
            }
            if (Find(parent) == nullptr) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
            window.parent = parent;
            window.id = static_cast<int>(reinterpret_cast<std::intptr_t>(menu));
        }
        window.handle = reinterpret_cast<HWND>(kFirstHandle + kHandleStep * windows.size());
        windows.push_back(window);
    }
    if (window.kind == Kind::Registered) {
        CREATESTRUCTA create{
            param,      instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
            windowName, className, exStyle};
        if (SendMessageA(window.handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
            DestroyWindow(window.handle);
            return nullptr;
        }
    }
    if (window.visible)
        Render(window.handle);
    return window.handle;
}

BOOL WINAPI DestroyWindow(HWND handle) {
    std::vector<HWND> children;
    {
        std::lock_guard<std::mutex> guard(windowLock);
        Window* window = Find(handle);
        if (window == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        window->visible = false;
        for (const Window& child : windows)
            if (child.alive && child.parent == handle)
                children.push_back(child.handle);
    }
    Render(handle); // ends its line, if it had one
    SendMessageA(handle, WM_DESTROY, 0, 0);
    for (HWND child : children)
        DestroyWindow(child);
    std::lock_guard<std::mutex> guard(windowLock);
    Window* window = Find(handle);
    if (window != nullptr)
        window->alive = false;
    return TRUE;
}

BOOL WINAPI IsWindow(HWND handle) {
    std::lock_guard<std::mutex> guard(windowLock);
    return Find(handle) != nullptr;
}

BOOL WINAPI ShowWindow(HWND handle, int cmdShow) {
    bool previous = false;
    {
        std::lock_guard<std::mutex> guard(windowLock);
        Window* window = Find(handle);
        if (window == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        previous = window->visible;
        window->visible = cmdShow != SW_HIDE;
    }
    Render(handle);
    return previous ? TRUE : FALSE;
}

LRESULT WINAPI SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Kind kind;
    WNDPROC procedure;
    {
        std::lock_guard<std::mutex> guard(windowLock);
        const Window* window = Find(handle);
        if (window == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        kind = window->kind;
        procedure = window->procedure;
    }
    if (kind == Kind::Registered)
        return procedure(handle, message, wParam, lParam);
    return ControlProcedure(handle, kind, message, wParam, lParam);
}

LRESULT WINAPI DefWindowProcA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETTEXT: {
        {
            std::lock_guard<std::mutex> guard(windowLock);
            Window* window = Find(handle);
            if (window == nullptr)
                return FALSE;
            window->text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
        }
        Render(handle);
        return TRUE;
    }
    case WM_GETTEXTLENGTH:
    case WM_GETTEXT: {
        std::lock_guard<std::mutex> guard(windowLock);
        const Window* window = Find(handle);
        if (window == nullptr)
            return 0;
        if (message == WM_GETTEXTLENGTH)
            return static_cast<LRESULT>(window->text.size());
        if (wParam == 0 || lParam == 0)
            return 0;
        const std::size_t length = std::min<std::size_t>(window->text.size(), wParam - 1);
        std::memcpy(reinterpret_cast<char*>(lParam), window->text.data(), length);
        reinterpret_cast<char*>(lParam)[length] = '\0';
        return static_cast<LRESULT>(length);
    }
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            SendMessageA(handle, WM_CLOSE, 0, 0);
        return 0;
    case WM_CLOSE:
        DestroyWindow(handle);
        return 0;
    default:
        return 0;
    }
}

BOOL WINAPI SetWindowTextA(HWND handle, LPCSTR text) {
    if (!IsWindow(handle)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return SendMessageA(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    std::lock_guard<std::mutex> guard(windowLock);
    if (Find(dialog) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    for (const Window& child : windows)
        if (child.alive && child.parent == dialog && child.id == id)
            return child.handle;
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

// The messages of the dialog and its children are the dialog's: Escape
// becomes IDCANCEL, the rest is dispatched.
BOOL WINAPI IsDialogMessageA(HWND dialog, LPMSG msg) {
    if (msg == nullptr)
        return FALSE;
    {
        std::lock_guard<std::mutex> guard(windowLock);
        Window* target = Find(msg->hwnd);
        if (Find(dialog) == nullptr || target == nullptr)
            return FALSE;
        while (target != nullptr && target->handle != dialog)
            target = target->parent != nullptr ? Find(target->parent) : nullptr;
        if (target == nullptr)
            return FALSE;
    }
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
        SendMessageA(dialog, WM_COMMAND, IDCANCEL,
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
        return TRUE;
    }
    DispatchMessageA(msg);
    return TRUE;
}

namespace {

// The window whose user data is asked for (the one slot kept), or null
// with the last error set. The caller holds windowLock.
Window* UserDataWindow(HWND handle, int index) {
    Window* window = Find(handle);
    if (window == nullptr)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    else if (index != GWLP_USERDATA)
        SetLastError(ERROR_INVALID_INDEX);
    else
        return window;
    return nullptr;
}

} // namespace

LONG_PTR WINAPI SetWindowLongPtrA(HWND handle, int index, LONG_PTR value) {
    std::lock_guard<std::mutex> guard(windowLock);
    Window* window = UserDataWindow(handle, index);
    if (window == nullptr)
        return 0;
    const LONG_PTR previous = window->userData;
    window->userData = value;
    return previous;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND handle, int index) {
    std::lock_guard<std::mutex> guard(windowLock);
    const Window* window = UserDataWindow(handle, index);
    return window == nullptr ? 0 : window->userData;
}

// A screen of the size a small virtual machine has.
int WINAPI GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXSCREEN:
        return 1024;
    case SM_CYSCREEN:
        return 768;
    default:
        return 0;
    }
}
