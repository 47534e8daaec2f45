// Case of the ASCII letters only: the C library's toupper and tolower follow
// the locale and could fold bytes from 0x80 up, which must stay as they are.
#include "text_string.h"

namespace {

unsigned char LowerAscii(unsigned char byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

unsigned char UpperAscii(unsigned char byte) {
    return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
}

} // namespace

// A string of length 0 may point at the shared empty text: it is left alone.
TextString& TextString::MakeUpper() {
    if (length_ == 0)
        return *this;
    for (char* p = data_; *p != 0; ++p)
        *p = static_cast<char>(UpperAscii(static_cast<unsigned char>(*p)));
    return *this;
}

TextString& TextString::MakeLower() {
    if (length_ == 0)
        return *this;
    for (char* p = data_; *p != 0; ++p)
        *p = static_cast<char>(LowerAscii(static_cast<unsigned char>(*p)));
    return *this;
}

bool TextString::EqualsNoCase(const TextString& other) const {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(data_);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(other.data_);
    for (;; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b))
            return false;
        if (*a == 0)
            return true;
    }
}
