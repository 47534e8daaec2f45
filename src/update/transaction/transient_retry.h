// Waiting out a file that another program holds for a moment. On Windows,
// virus scanners, search indexers, backup and sync agents open a file right
// after it is written, renamed or closed, and hold it for milliseconds to
// seconds, often without sharing deletion: a rename, a removal or an open
// of it then fails with ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION or,
// through some filter drivers, ERROR_ACCESS_DENIED. The run's own steps on
// its files are tried again on those errors, with a short backoff, for a
// bounded time per step and for all steps of the run together, so that a
// lasting holder still ends the run in bounded time. Nothing waits when
// nothing is held. While a step waits, the thread's messages are handled
// (the progress window answers) and a stop asked for ends the wait.
#pragma once

#include "copy_tree.h"
#include "platform/win32_api.h"
#include "text_string.h"
#include "transient_error.h"

class RetryBudget {
  public:
    // perStepMs: how long one step waits at most; totalMs: all steps of
    // the budget together. reporter: told of each wait (may be null).
    RetryBudget(DWORD perStepMs, DWORD totalMs, const CopyReporter* reporter);

    // The budgets of a run: its staging and commit, and its undo, which
    // waits longer (a file not put back is the worst outcome).
    static RetryBudget ForRun(const CopyReporter* reporter);
    // One step's worth, for the probe of the product: a running product is
    // told within it.
    static RetryBudget ForProbe(const CopyReporter* reporter);
    static RetryBudget ForUndo(const CopyReporter* reporter);

    // A stop asked for ends any wait (the user's cancel, while staging).
    void SetProgress(const CopyWatcher* progress) { progress_ = progress; }

    // Runs step (a callable returning true on success, the error in
    // GetLastError otherwise) until it succeeds, fails for good, or the
    // time is spent; a wait is told to the reporter with `path` and the
    // time waited, when the step then succeeded or was still held: one that
    // ended with another error (the file gone, say) or for good waited for
    // no holder, and its failure is the caller's to tell. The step's
    // result, its last error kept.
    // `final`, when given, is set by the step when its failure is for good
    // whatever the error (a folder where a file should be, say).
    template <typename Step>
    bool Run(const TextString& path, Step step, const bool* final = nullptr) {
        DWORD waited = 0;
        bool done;
        while (!(done = step()) && !(final != nullptr && *final) && Pause(GetLastError(), waited)) {
        }
        if (waited != 0 &&
            (done || (IsTransientError(GetLastError()) && !(final != nullptr && *final))))
            Told(path, waited, done);
        return done;
    }

  private:
    // Waits before another try of a step that failed with error, having
    // waited `waited` already; false (with the error kept) when it is not
    // worth one.
    bool Pause(DWORD error, DWORD& waited);
    void Told(const TextString& path, DWORD waited, bool done);

    DWORD perStepMs_, leftMs_;
    const CopyReporter* reporter_;
    const CopyWatcher* progress_ = nullptr;
};
