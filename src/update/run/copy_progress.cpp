#include "copy_progress.h"

#include "environment_number.h"
#include "pump_messages.h"

namespace {

// A copy that takes longer than this gets a window. The tests under Wine,
// whose copies are too fast to be watched, shorten it.
const DWORD kWindowDelayMs = 1000;
const char kWindowDelayVariable[] = "UPDATE_PROGRESS_DELAY_MS";
// The bar stays below 100 % until the staged files are flushed and put in
// place: 100 % means installed.
const unsigned kLastStagedPercent = 99;

} // namespace

CopyProgress::CopyProgress(bool interactive, const TextString& targetRoot)
    : interactive_(interactive), start_(GetTickCount()),
      windowDelayMs_(EnvironmentNumber(kWindowDelayVariable, kWindowDelayMs, kWindowDelayMs)) {
    TextString root(targetRoot);
    rootLength_ = root.EnsureTrailingSeparator().GetLength();
}

void CopyProgress::BeginFile(const TextString& target, std::uint64_t size) {
    fileSize_ = size;
    fileName_.Assign(target.GetLength() > rootLength_ ? target.GetText() + rootLength_
                                                      : target.GetText());
    window_.SetFile(fileName_.GetText());
    Poll(0);
}

void CopyProgress::EndFile() {
    done_ += fileSize_;
    fileSize_ = 0;
    Poll(0);
}

bool CopyProgress::Poll(std::uint64_t fileBytes) {
    if (!interactive_)
        return false;
    // A file that grew since it was listed counts no more than its size.
    const std::uint64_t done = done_ + (fileBytes < fileSize_ ? fileBytes : fileSize_);
    // Below the total, done * 100 / total_ is below 100.
    window_.SetPercent(total_ == 0 || done >= total_ ? kLastStagedPercent
                                                     : static_cast<unsigned>(done * 100 / total_));
    // The tick count wraps after 49 days; the difference does not care.
    if (!windowTried_ && GetTickCount() - start_ >= windowDelayMs_) {
        windowTried_ = true;
        window_.Open(fileName_.GetText());
    }
    if (window_.IsOpen())
        PumpMessages();
    return window_.CancelAsked();
}

void CopyProgress::Installed() {
    // No window is opened now only to be closed.
    if (!window_.IsOpen())
        return;
    window_.SetPercent(100);
    PumpMessages();
}

CopyWatcher CopyProgress::Watcher() {
    return CopyWatcher{this,
                       [](void* self, const TextString& target, std::uint64_t size) {
                           static_cast<CopyProgress*>(self)->BeginFile(target, size);
                       },
                       [](void* self) { static_cast<CopyProgress*>(self)->EndFile(); },
                       [](void* self, std::uint64_t fileBytes) {
                           return static_cast<CopyProgress*>(self)->Poll(fileBytes);
                       },
                       [](void* self) { return static_cast<CopyProgress*>(self)->CancelAsked(); }};
}
