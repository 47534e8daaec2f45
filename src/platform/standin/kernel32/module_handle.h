#pragma once

#include "../windows.h"

// The handle of the running program; never null, never dereferenced.
inline HMODULE ProgramModuleHandle() {
    return reinterpret_cast<HMODULE>(0x400000);
}
