#include "package_check.h"

#include "transient_error.h"

namespace {

// Chunks of a staged file read back for its hash.
const std::uint32_t kChunk = 256 * 1024;
// How long a staged file that another program holds is waited for.
const DWORD kRetryPauseMs = 50;
const DWORD kRetryLimitMs = 2000;

} // namespace

PackageCheck::PackageCheck(PackageManifest& manifest, const TextString& packageRoot,
                           void (*found)(void*, const TextString&, PackageFinding), void* context)
    : manifest_(manifest), root_(packageRoot), found_(found), context_(context), buffer_(kChunk) {
    root_.EnsureTrailingSeparator();
}

// The thread, made for the first file to hash: a run that hashes none has
// none.
void PackageCheck::StartHasher() {
    started_ = true;
    free_ = CreateSemaphoreA(nullptr, kSlots, kSlots, nullptr);
    filled_ = CreateSemaphoreA(nullptr, 0, kSlots, nullptr);
    if (free_ != nullptr && filled_ != nullptr)
        thread_ = CreateThread(nullptr, 0, Hasher, this, 0, nullptr);
}

PackageCheck::~PackageCheck() {
    Stop();
    if (free_ != nullptr)
        CloseHandle(free_);
    if (filled_ != nullptr)
        CloseHandle(filled_);
}

DWORD WINAPI PackageCheck::Hasher(LPVOID check) {
    PackageCheck& self = *static_cast<PackageCheck*>(check);
    for (;;) {
        WaitForSingleObject(self.filled_, INFINITE);
        Job& job = self.jobs_[self.hashed_++ % kSlots];
        if (job.stop)
            return 0;
        job.matches = self.Matches(job);
        ReleaseSemaphore(self.free_, 1, nullptr);
    }
}

// A copy that cannot be read back is no copy of the listed file. A scanner
// may hold a file just written for a moment (transient_error.h): it is
// tried again for a while, quietly, as this may run on the hashing thread.
bool PackageCheck::Matches(const Job& job) {
    Sha256Digest digest;
    for (DWORD waited = 0;; waited += kRetryPauseMs) {
        if (hasher_.HashFile(job.path.GetText(), buffer_.GetBlock(), kChunk, digest))
            return digest == job.entry->digest;
        if (!IsTransientError(GetLastError()) || waited >= kRetryLimitMs)
            return false;
        Sleep(kRetryPauseMs);
    }
}

// The verdict of a job hashed, told on the caller's thread.
void PackageCheck::TakeIn(Job& job) {
    if (job.entry != nullptr && !job.matches) {
        ++differing_;
        Tell(job.entry->Path(), PackageFinding::kDiffers);
    }
    job.entry = nullptr;
}

void PackageCheck::Tell(const char* relative, PackageFinding finding) {
    if (found_ != nullptr)
        found_(context_, scratch_.Assign(root_).Append(relative), finding);
}

bool PackageCheck::Admits(const char* relative, const char* target) {
    PackageManifest::Entry* entry = manifest_.Find(relative);
    if (entry == nullptr) {
        const bool installed =
            target != nullptr && GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES;
        if (installed)
            ++differing_;
        Tell(relative, installed ? PackageFinding::kLost : PackageFinding::kUnlisted);
        return false;
    }
    entry->seen = true;
    return true;
}

void PackageCheck::Verify(const char* relative, const TextString& copy) {
    PackageManifest::Entry* entry = manifest_.Find(relative);
    if (entry == nullptr) {
        ++differing_;
        Tell(relative, PackageFinding::kDiffers);
        return;
    }
    entry->seen = true;
    if (!started_)
        StartHasher();
    if (thread_ == nullptr) {
        Job job;
        job.path.Assign(copy);
        job.entry = entry;
        job.matches = Matches(job);
        TakeIn(job);
        return;
    }
    WaitForSingleObject(free_, INFINITE);
    Job& job = jobs_[handedIn_++ % kSlots];
    TakeIn(job);
    job.path.Assign(copy);
    job.entry = entry;
    ReleaseSemaphore(filled_, 1, nullptr);
}

// Lets the thread hash what it has and end, and takes in its verdicts.
void PackageCheck::Stop() {
    if (thread_ == nullptr)
        return;
    WaitForSingleObject(free_, INFINITE);
    Job& last = jobs_[handedIn_++ % kSlots];
    TakeIn(last);
    last.stop = true;
    ReleaseSemaphore(filled_, 1, nullptr);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    for (Job& job : jobs_)
        TakeIn(job);
}

std::uint32_t PackageCheck::Settle(bool walkedWhole) {
    Stop();
    std::uint32_t missing = 0;
    for (std::uint32_t i = 0; walkedWhole && i < manifest_.Count(); ++i) {
        const PackageManifest::Entry& entry = manifest_.At(i);
        if (!entry.seen) {
            ++missing;
            Tell(entry.Path(), PackageFinding::kMissing);
        }
    }
    return differing_ + missing;
}
