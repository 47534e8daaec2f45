// What a virus scanner does while the program runs: it watches a folder
// and the folders below it (ReadDirectoryChangesW) and opens every file
// that is added, written or renamed into place there, one after another,
// sharing nothing, for a random 20 to 150 ms.
#pragma once

#include <string>

#include <windows.h>

class Scanner {
  public:
    // Starts watching folder; Started() tells whether it could.
    explicit Scanner(const std::string& folder);
    ~Scanner(); // reports how many files it held ("scanned=N")
    bool Started() const { return thread_ != nullptr; }

  private:
    static DWORD WINAPI Run(LPVOID self);

    std::string folder_;
    HANDLE directory_ = INVALID_HANDLE_VALUE;
    HANDLE thread_ = nullptr;
    volatile LONG stop_ = 0;
    LONG held_ = 0;
};
