// What a virus scanner does while the program runs: it watches a folder
// and the folders below it (ReadDirectoryChangesW) and opens every file
// that is added, written or renamed into place there, one after another,
// sharing nothing, for a random 20 to 150 ms; a file it may not open (an
// update run holds its files) is passed over.
#pragma once

#include <string>

#include <windows.h>

class Scanner {
  public:
    // Starts watching folder; Started() tells whether it could.
    explicit Scanner(const std::string& folder);
    // Reports how many files it held ("scanned=N") and how many it was
    // refused with a sharing violation ("refused=N").
    ~Scanner();
    bool Started() const { return thread_ != nullptr; }

  private:
    static DWORD WINAPI Run(LPVOID self);

    std::string folder_;
    HANDLE directory_ = INVALID_HANDLE_VALUE;
    HANDLE thread_ = nullptr;
    volatile LONG stop_ = 0;
    LONG held_ = 0;
    LONG refused_ = 0;
};
