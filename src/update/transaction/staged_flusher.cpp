#include "staged_flusher.h"

namespace {

HANDLE OpenToFlush(const TextString& path) {
    return CreateFileA(path.GetText(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

} // namespace

// A read-only file (a package from a CD) is opened with the attribute
// cleared, which is put back at once; the attributes are read only then.
bool FlushStagedFile(const TextString& path) {
    HANDLE file = OpenToFlush(path);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        const DWORD attributes = GetFileAttributesA(path.GetText());
        const DWORD cleared = attributes & ~FILE_ATTRIBUTE_READONLY;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
            !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            SetFileAttributesA(path.GetText(), cleared != 0 ? cleared : FILE_ATTRIBUTE_NORMAL)) {
            file = OpenToFlush(path);
            const DWORD error = GetLastError();
            SetFileAttributesA(path.GetText(), attributes);
            SetLastError(error);
        } else {
            SetLastError(ERROR_ACCESS_DENIED);
        }
    }
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = FlushFileBuffers(file) != FALSE;
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return flushed;
}

StagedFlusher::~StagedFlusher() {
    Finish();
    const HANDLE handles[] = {free_, filled_, done_, lock_};
    for (HANDLE handle : handles)
        if (handle != nullptr)
            CloseHandle(handle);
}

bool StagedFlusher::Start() {
    free_ = CreateSemaphoreA(nullptr, kSlots, kSlots, nullptr);
    filled_ = CreateSemaphoreA(nullptr, 0, kSlots, nullptr);
    lock_ = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    done_ = CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
    if (free_ == nullptr || filled_ == nullptr || lock_ == nullptr || done_ == nullptr)
        return false;
    while (threadCount_ < kThreads) {
        HANDLE thread = CreateThread(nullptr, 0, Flusher, this, 0, nullptr);
        if (thread == nullptr) {
            Finish();
            return false;
        }
        threads_[threadCount_++] = thread;
    }
    return true;
}

// Fills the next slot; a null path stops a thread.
void StagedFlusher::Push(const TextString* path) {
    WaitForSingleObject(free_, INFINITE);
    const std::uint32_t slot = handedIn_++ % kSlots;
    stops_[slot] = path == nullptr;
    if (path != nullptr)
        jobs_[slot].Assign(*path);
    ReleaseSemaphore(filled_, 1, nullptr);
}

// Slots are taken, and copied out, one thread at a time and in order, so
// that a slot is filled again only once the thread that took it is done
// with it.
bool StagedFlusher::Take(TextString& path, bool lastFailed) {
    WaitForSingleObject(filled_, INFINITE);
    WaitForSingleObject(lock_, INFINITE);
    if (lastFailed)
        ++failures_;
    const std::uint32_t slot = taken_++ % kSlots;
    const bool stop = stops_[slot];
    if (!stop)
        path.Assign(jobs_[slot]);
    ReleaseSemaphore(lock_, 1, nullptr);
    ReleaseSemaphore(free_, 1, nullptr);
    return !stop;
}

DWORD WINAPI StagedFlusher::Flusher(LPVOID self) {
    StagedFlusher& flusher = *static_cast<StagedFlusher*>(self);
    TextString path;
    bool failed = false;
    while (flusher.Take(path, failed)) {
        failed = !FlushStagedFile(path);
        ReleaseSemaphore(flusher.done_, 1, nullptr);
    }
    return 0;
}

void StagedFlusher::Drain() {
    for (; queued_ > 0 && threadCount_ != 0; --queued_)
        WaitForSingleObject(done_, INFINITE);
}

std::uint32_t StagedFlusher::Finish() {
    queued_ = 0;
    if (threadCount_ == 0)
        return failures_;
    for (std::uint32_t i = 0; i < threadCount_; ++i)
        Push(nullptr);
    for (std::uint32_t i = 0; i < threadCount_; ++i) {
        WaitForSingleObject(threads_[i], INFINITE);
        CloseHandle(threads_[i]);
    }
    threadCount_ = 0;
    return failures_;
}
