#include "transient_retry.h"

#include "pump_messages.h"

namespace {

// About two seconds a step, as other installers and build tools wait for
// a scanner; a minute for all steps of a run. The undo waits longer.
const DWORD kStepMs = 2000, kRunMs = 60 * 1000;
const DWORD kUndoStepMs = 10 * 1000, kUndoMs = 2 * 60 * 1000;
const DWORD kFirstPauseMs = 10, kLongestPauseMs = 250, kSliceMs = 50;

} // namespace

RetryBudget::RetryBudget(DWORD perStepMs, DWORD totalMs, const CopyReporter* reporter)
    : perStepMs_(perStepMs), leftMs_(totalMs), reporter_(reporter) {}

RetryBudget RetryBudget::ForRun(const CopyReporter* reporter) {
    return RetryBudget(kStepMs, kRunMs, reporter);
}

RetryBudget RetryBudget::ForUndo(const CopyReporter* reporter) {
    return RetryBudget(kUndoStepMs, kUndoMs, reporter);
}

bool RetryBudget::IsTransient(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

bool RetryBudget::Pause(DWORD error, DWORD& waited) {
    if (!IsTransient(error) || waited >= perStepMs_ || leftMs_ == 0 ||
        (progress_ != nullptr && progress_->CancelAsked())) {
        SetLastError(error);
        return false;
    }
    // Doubling from a few milliseconds: a scanner's moment is mostly short.
    DWORD pause = kFirstPauseMs;
    while (pause < waited && pause < kLongestPauseMs)
        pause *= 2;
    if (pause > perStepMs_ - waited)
        pause = perStepMs_ - waited;
    if (pause > leftMs_)
        pause = leftMs_;
    for (DWORD slept = 0; slept < pause;) {
        const DWORD slice = pause - slept < kSliceMs ? pause - slept : kSliceMs;
        Sleep(slice);
        slept += slice;
        PumpMessages();
        if (progress_ != nullptr)
            progress_->Poll(0);
    }
    waited += pause;
    leftMs_ -= pause;
    SetLastError(error);
    return true;
}

void RetryBudget::Told(const TextString& path, DWORD waited, bool done) {
    const DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (reporter_ != nullptr && reporter_->waited != nullptr)
        reporter_->waited(reporter_->context, path, waited, error);
    SetLastError(error);
}
