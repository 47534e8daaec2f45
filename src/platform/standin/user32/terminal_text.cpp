#include "terminal_text.h"

#include <unistd.h>

#include "cp1252.h"

namespace {

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

} // namespace

std::size_t AppendTerminalText(char* out, const char* text) {
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

void WriteToStandardError(const char* bytes, std::size_t length) {
    for (std::size_t done = 0; done < length;) {
        ssize_t written = write(STDERR_FILENO, bytes + done, length - done);
        if (written <= 0)
            break;
        done += static_cast<std::size_t>(written);
    }
}
