#include "transient_retry.h"

#include "environment_number.h"
#include "pump_messages.h"
#include "transient_error.h"

namespace {

// About two seconds a step, as other installers and build tools wait for
// a scanner, and thirty steps' worth (a minute) for all steps of a run. The
// undo waits five times as long a step, and twice as long in all. Tests
// whose subject is not the wait may shorten the step, and so the whole,
// with the environment variable, in milliseconds.
const DWORD kStepMs = 2000, kRunSteps = 30, kUndoFactor = 5;
const char kStepVariable[] = "UPDATE_RETRY_STEP_MS";

DWORD StepMs() {
    return EnvironmentNumber(kStepVariable, kStepMs, kStepMs);
}
const DWORD kFirstPauseMs = 10, kLongestPauseMs = 250, kSliceMs = 50;

} // namespace

RetryBudget::RetryBudget(DWORD perStepMs, DWORD totalMs, const CopyReporter* reporter)
    : perStepMs_(perStepMs), leftMs_(totalMs), reporter_(reporter) {}

RetryBudget RetryBudget::ForRun(const CopyReporter* reporter) {
    return RetryBudget(StepMs(), StepMs() * kRunSteps, reporter);
}

RetryBudget RetryBudget::ForProbe(const CopyReporter* reporter) {
    return RetryBudget(StepMs(), StepMs(), reporter);
}

RetryBudget RetryBudget::ForUndo(const CopyReporter* reporter) {
    return RetryBudget(StepMs() * kUndoFactor, StepMs() * kRunSteps * 2, reporter);
}

bool RetryBudget::Pause(DWORD error, DWORD& waited) {
    if (!IsTransientError(error) || waited >= perStepMs_ || leftMs_ == 0 ||
        (progress_ != nullptr && progress_->stopAsked(progress_->context))) {
        SetLastError(error);
        return false;
    }
    // Doubling from a few milliseconds: a scanner's moment is mostly short.
    DWORD pause = kFirstPauseMs;
    while (pause < waited && pause < kLongestPauseMs)
        pause *= 2;
    if (pause > kLongestPauseMs)
        pause = kLongestPauseMs;
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
            progress_->poll(progress_->context, 0);
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
