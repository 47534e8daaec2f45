#include <unistd.h>

#include "../windows.h"

DWORD WINAPI GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}
