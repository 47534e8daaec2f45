#include "environment_number.h"

DWORD EnvironmentNumber(const char* name, DWORD largest, DWORD fallback) {
    char digits[16];
    const DWORD length = GetEnvironmentVariableA(name, digits, sizeof digits);
    if (length == 0 || length >= sizeof digits)
        return fallback;
    DWORD number = 0;
    for (DWORD i = 0; i < length; ++i) {
        if (digits[i] < '0' || digits[i] > '9')
            return fallback;
        number = number * 10 + static_cast<DWORD>(digits[i] - '0');
        if (number > largest)
            return fallback;
    }
    return number;
}
