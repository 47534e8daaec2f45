// The one header through which the core reaches the platform.
// On Windows that is <windows.h>; elsewhere it is our own stand-in, which
// declares exactly the Win32 subset that the core and its tests use.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After <windows.h>: the progress bar and InitCommonControlsEx.
#include <commctrl.h>
// SHA-256 through CNG.
#include <bcrypt.h>
#else
#include "standin/bcrypt.h"
#include "standin/windows.h"
#endif
