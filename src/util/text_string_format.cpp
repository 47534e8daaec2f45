#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "heap.h"
#include "text_string.h"

// The expansion is measured first and the scratch sized to it, so no
// expansion can overflow; the result is the expansion up to its first zero.
TextString& TextString::Format(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list measuring;
    va_copy(measuring, arguments);
    const int needed = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (needed < 0) {
        va_end(arguments);
        Assign(0, EmptyText());
        return *this;
    }
    const std::size_t size = static_cast<std::size_t>(needed) + 1;
    char* const scratch = static_cast<char*>(AllocateBlock(size));
    std::vsnprintf(scratch, size, format, arguments);
    va_end(arguments);
    Assign(static_cast<std::uint32_t>(std::strlen(scratch)), scratch);
    ReleaseBlock(scratch);
    return *this;
}
