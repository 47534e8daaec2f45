#pragma once

#include <ctime>

#include "../windows.h"

// FILETIME counts 100-nanosecond steps since 1601-01-01 UTC.
inline FILETIME FileTimeFromTimespec(const struct timespec& time) {
    const long long kSecondsFrom1601To1970 = 11644473600LL;
    unsigned long long ticks =
        static_cast<unsigned long long>(time.tv_sec + kSecondsFrom1601To1970) * 10000000ULL +
        static_cast<unsigned long long>(time.tv_nsec / 100);
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(ticks);
    result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return result;
}
