// Without a desktop, a message box is its caption and text on standard
// error, turned into UTF-8 for the terminal.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include "../windows.h"
#include "cp1252.h"
#include "message_box_record.h"

namespace {

std::mutex recordLock;
MessageBoxRecord lastBox = {nullptr, 0};

std::size_t AppendUtf8(char* out, unsigned codePoint) {
    if (codePoint < 0x80) {
        out[0] = static_cast<char>(codePoint);
        return 1;
    }
    if (codePoint < 0x800) {
        out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
        out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 3;
}

// Writes text as UTF-8, CR LF (or a lone CR) as one line break.
std::size_t AppendText(char* out, const char* text) {
    std::size_t length = 0;
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(text); *at != 0; ++at) {
        if (*at == '\r') {
            out[length++] = '\n';
            if (at[1] == '\n')
                ++at;
            continue;
        }
        length += AppendUtf8(out + length, Cp1252ToUnicode(*at));
    }
    return length;
}

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
    std::size_t length = AppendText(line, caption);
    line[length++] = ':';
    line[length++] = ' ';
    length += AppendText(line + length, text);
    line[length++] = '\n';
    for (std::size_t done = 0; done < length;) {
        ssize_t written = write(STDERR_FILENO, line + done, length - done);
        if (written <= 0)
            break;
        done += static_cast<std::size_t>(written);
    }
    std::free(line);
    return IDOK;
}
