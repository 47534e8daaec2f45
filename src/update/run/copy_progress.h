// How far a copy is, in bytes of the package against its total size, and
// the progress window that shows it once the copy has taken about a second.
#pragma once

#include <cstdint>

#include "copy_tree.h"
#include "platform/win32_api.h"
#include "progress_window.h"
#include "text_string.h"

class CopyProgress {
  public:
    // The clock starts now. Without `interactive` (a silent run) no window
    // is ever shown, and nothing can ask to stop. `targetRoot` is the part
    // of each target path that the window leaves out.
    CopyProgress(bool interactive, const TextString& targetRoot);

    // The total, in bytes, of the files to be copied.
    void SetTotal(std::uint64_t totalBytes) { total_ = totalBytes; }

    // Around each file that is tried, copied or not, with its size in the
    // package listing: the bar moves on by that size once it is done.
    void BeginFile(const TextString& target, std::uint64_t size);
    void EndFile();

    // Opens the window once it is due, moves the bar to the bytes done
    // (those of the files ended, and fileBytes of the current one; at most
    // 99 %, as staged files are not installed yet) and handles the messages
    // waiting. True when the user asked to stop.
    bool Poll(std::uint64_t fileBytes);
    // The update is in: a window shown goes to 100 %, and what the user
    // did meanwhile is handled, changing nothing, before it closes.
    void Installed();
    bool CancelAsked() const { return window_.CancelAsked(); }
    bool WindowShown() const { return window_.IsOpen(); }

    // Before the final box.
    void Close() { window_.Close(); }

    // What the copy tells and asks (copy_tree.h), handed on to this; valid
    // while this lives.
    CopyWatcher Watcher();

  private:
    const bool interactive_;
    const DWORD start_;
    const DWORD windowDelayMs_;
    bool windowTried_ = false;
    std::uint32_t rootLength_;
    std::uint64_t total_ = 0;
    std::uint64_t done_ = 0;     // bytes of the files ended
    std::uint64_t fileSize_ = 0; // of the current file
    TextString fileName_;        // the current file, below the target root
    ProgressWindow window_;
};
