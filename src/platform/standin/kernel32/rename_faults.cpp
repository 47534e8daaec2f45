#include "rename_faults.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "../windows.h"

namespace {

// Whether `words` asks for `what` at call number n.
bool Asks(const char* words, const char* what, unsigned long n) {
    const std::size_t length = std::strlen(what);
    for (const char* p = words; p != nullptr && *p != '\0';) {
        if (std::strncmp(p, what, length) == 0 && p[length] == '@' &&
            std::strtoul(p + length + 1, nullptr, 10) == n)
            return true;
        p = std::strchr(p, ',');
        if (p != nullptr)
            ++p;
    }
    return false;
}

} // namespace

bool RenameFaultAsked(const char* source) {
    static const char* const words = std::getenv("UPDATE_STANDIN_RENAME_FAULTS");
    static unsigned long calls = 0;
    static std::string refused;
    if (words == nullptr)
        return false;
    if (source == nullptr || refused != source) {
        ++calls;
        if (Asks(words, "kill", calls))
            kill(getpid(), SIGKILL);
        if (Asks(words, "stop", calls))
            kill(getpid(), SIGSTOP);
        if (!Asks(words, "fail", calls))
            return false;
        refused = source == nullptr ? "" : source;
    }
    SetLastError(ERROR_SHARING_VIOLATION);
    return true;
}
