#include "message_box.h"

#include <cstring>

#include "report.h"

namespace {

// Control ids of the message box template (Win32 and Wine alike use 0xFFFF
// for the text; the icon is control 0x14 on Windows, 0x440 under Wine).
const int kTextId = 0xFFFF;
const int kIconIds[] = {0x14, 0x440};

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK TakeMessageBox(HWND window, LPARAM parameter) {
    Search* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (owner == search->processId && std::strcmp(className, "#32770") == 0 &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(window, &text[0], length + 1);
    return Utf8FromWide(text.c_str());
}

// Pixels of the screen rectangle that differ from the icon drawn there on
// the given background.
long DifferingPixels(HDC screen, const RECT& area, HICON icon, COLORREF background) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    HBRUSH brush = CreateSolidBrush(background);
    const RECT all = {0, 0, width, height};
    FillRect(memory, &all, brush);
    DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    long differing = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (GetPixel(memory, x, y) != GetPixel(screen, area.left + x, area.top + y))
                ++differing;
    SelectObject(memory, previous);
    DeleteObject(brush);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return differing;
}

} // namespace

HWND FindMessageBox(DWORD processId) {
    Search search = {processId, nullptr};
    EnumWindows(TakeMessageBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ReadCaption(HWND box) {
    return WindowText(box);
}

std::string ReadText(HWND box) {
    return WindowText(GetDlgItem(box, kTextId));
}

namespace {

std::string MatchIcon(HWND iconControl) {
    RECT area;
    GetWindowRect(iconControl, &area);
    HDC screen = GetDC(nullptr);
    const COLORREF background = GetPixel(screen, area.left - 1, area.top);
    const struct {
        const char* name;
        LPCSTR id;
    } candidates[] = {{"warning", IDI_WARNING},
                      {"information", IDI_INFORMATION},
                      {"error", IDI_ERROR},
                      {"question", IDI_QUESTION}};
    std::string match = "unknown";
    for (const auto& candidate : candidates) {
        if (DifferingPixels(screen, area, LoadIconA(nullptr, candidate.id), background) == 0) {
            match = candidate.name;
            break;
        }
    }
    ReleaseDC(nullptr, screen);
    return match;
}

} // namespace

std::string IdentifyIcon(HWND box) {
    HWND iconControl = nullptr;
    for (int id : kIconIds)
        if (iconControl == nullptr)
            iconControl = GetDlgItem(box, id);
    if (iconControl == nullptr || !IsWindowVisible(iconControl))
        return "none";
    // The box must be drawn and on top before its pixels are read; a box
    // that is still being drawn gets a few more chances.
    SetForegroundWindow(box);
    std::string match = "unknown";
    for (int attempt = 0; attempt < 5 && match == "unknown"; ++attempt) {
        UpdateWindow(box);
        Sleep(200);
        match = MatchIcon(iconControl);
    }
    return match;
}

void PressOk(HWND box) {
    HWND ok = GetDlgItem(box, IDOK);
    DWORD_PTR result = 0;
    if (ok != nullptr)
        SendMessageTimeoutA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                            reinterpret_cast<LPARAM>(ok), SMTO_ABORTIFHUNG, 5000, &result);
    else
        PostMessageA(box, WM_CLOSE, 0, 0);
}
