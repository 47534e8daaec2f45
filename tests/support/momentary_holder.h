// A file held, sharing nothing, for a moment, as a scanner holds one: the
// tests of the waits for such a holder.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "platform/win32_api.h"

// Holds a file, sharing nothing, from now until `ms` milliseconds on, as a
// scanner holds one for a moment.
struct MomentaryHolder {
    HANDLE file, thread;
    DWORD ms;
    MomentaryHolder(const std::string& path, DWORD milliseconds)
        : file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)),
          thread(nullptr), ms(milliseconds) {
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
        thread = CreateThread(nullptr, 0, Release, this, 0, nullptr);
    }
    ~MomentaryHolder() {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    static DWORD WINAPI Release(LPVOID self) {
        MomentaryHolder& holder = *static_cast<MomentaryHolder*>(self);
        Sleep(holder.ms);
        CloseHandle(holder.file);
        return 0;
    }
};
