#include <cstdlib>
#include <cstring>

#include "cp1252.h"
#include "reg_file_parser.h"

namespace {

// Length of the UTF-8 sequence at bytes, with its code point, or 0 when it
// is not well-formed.
std::size_t Utf8Sequence(const unsigned char* bytes, std::size_t left, unsigned* codePoint) {
    unsigned char lead = bytes[0];
    std::size_t length = lead < 0x80         ? 1
                         : (lead >> 5) == 6  ? 2
                         : (lead >> 4) == 14 ? 3
                         : (lead >> 3) == 30 ? 4
                                             : 0;
    if (length == 0 || length > left)
        return 0;
    unsigned value = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (bytes[i] & 0x3F);
    }
    static const unsigned kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

char ToCp1252(unsigned codePoint) {
    int byte = UnicodeToCp1252(codePoint);
    return static_cast<char>(byte < 0 ? '?' : byte);
}

} // namespace

namespace {

// The line (1-based) that holds the byte at `at`.
unsigned LineOf(const unsigned char* bytes, std::size_t at) {
    unsigned line = 1;
    for (std::size_t i = 0; i < at; ++i)
        line += bytes[i] == '\n' ? 1 : 0;
    return line;
}

// Whether bytes from start on are UTF-8 throughout; if not, where the
// first byte that is not lies. multibyte tells whether any character took
// more than one byte.
bool IsUtf8(const unsigned char* bytes, std::size_t start, std::size_t length, bool* multibyte,
            std::size_t* bad) {
    *multibyte = false;
    for (std::size_t i = start; i < length;) {
        unsigned codePoint;
        const std::size_t sequence = Utf8Sequence(bytes + i, length - i, &codePoint);
        if (sequence == 0) {
            *bad = i;
            return false;
        }
        *multibyte = *multibyte || sequence > 1;
        i += sequence;
    }
    return true;
}

} // namespace

char* DecodeRegFileText(const unsigned char* bytes, std::size_t length, std::size_t* textLength,
                        RegFileError* error) {
    char* text = static_cast<char*>(std::malloc(length + 1));
    if (text == nullptr) {
        *error = RegFileError{0, "out of memory"};
        return nullptr;
    }
    std::size_t out = 0;
    if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        for (std::size_t i = 2; i + 1 < length; i += 2)
            text[out++] = ToCp1252(bytes[i] | (bytes[i + 1] << 8));
        *textLength = out;
        return text;
    }
    const bool marked = length >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0;
    const std::size_t start = marked ? 3 : 0;
    bool multibyte = false;
    std::size_t bad = 0;
    const bool utf8 = IsUtf8(bytes, start, length, &multibyte, &bad);
    if (marked && !utf8) {
        std::free(text);
        *error =
            RegFileError{LineOf(bytes, bad), "a byte that is not UTF-8 in a file marked as UTF-8"};
        return nullptr;
    }
    if (utf8 && (marked || multibyte)) {
        for (std::size_t i = start; i < length;) {
            unsigned codePoint = 0;
            i += Utf8Sequence(bytes + i, length - i, &codePoint);
            text[out++] = ToCp1252(codePoint);
        }
    } else {
        std::memcpy(text, bytes, length);
        out = length;
    }
    *textLength = out;
    return text;
}
