#include "rename_faults.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
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

bool RenameFaultAsked() {
    static const char* const words = std::getenv("UPDATE_STANDIN_RENAME_FAULTS");
    static unsigned long calls = 0;
    if (words == nullptr)
        return false;
    ++calls;
    if (Asks(words, "kill", calls))
        kill(getpid(), SIGKILL);
    if (!Asks(words, "fail", calls))
        return false;
    SetLastError(ERROR_SHARING_VIOLATION);
    return true;
}
