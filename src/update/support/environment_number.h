// Settings that tests may give a run through its environment.
#pragma once

#include "platform/win32_api.h"

// The decimal number in the environment variable `name`, when it holds one
// of at most `largest`; otherwise `fallback`.
DWORD EnvironmentNumber(const char* name, DWORD largest, DWORD fallback);
