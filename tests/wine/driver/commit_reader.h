// A reader who comes once the commit has begun: it watches the folder of a
// file for the first backup of an update run (".Update-*.old"), then opens
// the file for reading, sharing reading and writing but not deletion, as
// most programs open a file, and keeps it open if it got it.
#pragma once

#include <string>

#include <windows.h>

class CommitReader {
  public:
    explicit CommitReader(const std::string& file);
    // Lets go of the file and reports "hold-at-commit=<file>|ok", "|error
    // <code>", or "|no-commit" when no backup showed.
    ~CommitReader();

  private:
    static DWORD WINAPI Run(LPVOID self);

    std::string file_, pattern_;
    HANDLE thread_ = nullptr;
    HANDLE held_ = INVALID_HANDLE_VALUE;
    volatile LONG stop_ = 0;
    DWORD outcome_ = 0xFFFFFFFF; // the open's error, 0 when it opened; none yet
};
