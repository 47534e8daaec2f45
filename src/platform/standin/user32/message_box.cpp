// Without a desktop, a message box is its caption and text on standard
// error, turned into UTF-8 for the terminal.
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "../windows.h"
#include "message_box_record.h"
#include "terminal_text.h"

namespace {

std::mutex recordLock;
MessageBoxRecord lastBox = {nullptr, 0};

} // namespace

HWND WINAPI GetDesktopWindow() {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10010));
}

HWND WINAPI GetActiveWindow() {
    return nullptr;
}

MessageBoxRecord LastMessageBox() {
    std::lock_guard<std::mutex> guard(recordLock);
    return lastBox;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    {
        std::lock_guard<std::mutex> guard(recordLock);
        lastBox = MessageBoxRecord{owner, type};
    }
    if (text == nullptr)
        text = "";
    if (caption == nullptr)
        caption = "Error"; // the caption Win32 shows for a null one
    // Each byte becomes at most three; one write keeps the box in one piece.
    std::size_t room = 3 * (std::strlen(text) + std::strlen(caption)) + 4;
    char* line = static_cast<char*>(std::malloc(room));
    if (line == nullptr)
        return 0;
    std::size_t length = AppendTerminalText(line, caption);
    line[length++] = ':';
    line[length++] = ' ';
    length += AppendTerminalText(line + length, text);
    line[length++] = '\n';
    WriteToStandardError(line, length);
    std::free(line);
    return IDOK;
}
