// Searching reads the text as a zero-terminated text: an inner zero byte
// ends it.
#include <cstring>

#include "text_string.h"

// A null search text is taken as the empty text, as elsewhere in the class.
std::int32_t TextString::Find(const char* text) const {
    const char* const found = std::strstr(data_, text == nullptr ? "" : text);
    return found == nullptr ? -1 : static_cast<std::int32_t>(found - data_);
}

// The zero character is found at the first zero byte, as strrchr does.
std::int32_t TextString::ReverseFind(char character) const {
    const char* const found = std::strrchr(data_, static_cast<unsigned char>(character));
    return found == nullptr ? -1 : static_cast<std::int32_t>(found - data_);
}
