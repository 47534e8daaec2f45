// Staged files flushed to the disk while the copy goes on, where the volume
// cannot be flushed whole (a run without an administrator's rights): a few
// threads of their own each open a staged file, flush it and close it, so
// that the disk takes several flushes together and the copy does not wait
// for them. Only the names are queued, up to kSlots behind the copy. A file
// that a thread could not flush (one that another program holds) is
// counted, and the caller then flushes them all again in its own way. Where
// no thread can be made, nothing is flushed here.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"
#include "text_string.h"

class StagedFlusher {
  public:
    StagedFlusher() = default;
    ~StagedFlusher();
    StagedFlusher(const StagedFlusher&) = delete;
    StagedFlusher& operator=(const StagedFlusher&) = delete;

    // Starts the threads; false when they could not all be made (those
    // made are stopped again).
    bool Start();
    bool IsRunning() const { return threadCount_ != 0; }
    // Queues a staged file, waiting while kSlots are queued.
    void Add(const TextString& staged) {
        Push(&staged);
        ++queued_;
    }
    // Waits until every file queued so far is flushed, or failed: the
    // threads open staged files by their paths, which lead through the
    // folder that the copy holds only while it stages there.
    void Drain();
    // Waits until every file queued is flushed, or failed, and stops the
    // threads; nothing is open any more. Returns how many files failed.
    std::uint32_t Finish();

  private:
    static const std::uint32_t kThreads = 4;
    static const std::uint32_t kSlots = 64;

    static DWORD WINAPI Flusher(LPVOID self);
    void Push(const TextString* path);
    // Takes the next job's path (null: stop), counting the last one's
    // failure.
    bool Take(TextString& path, bool lastFailed);

    TextString jobs_[kSlots];
    bool stops_[kSlots] = {};
    std::uint32_t handedIn_ = 0, taken_ = 0, failures_ = 0;
    std::uint32_t queued_ = 0; // files queued and not yet drained
    // free_ counts empty slots, filled_ queued jobs, done_ files flushed
    // (or failed); lock_ guards taking.
    HANDLE free_ = nullptr, filled_ = nullptr, done_ = nullptr, lock_ = nullptr;
    HANDLE threads_[kThreads] = {};
    std::uint32_t threadCount_ = 0;
};

// Flushes one staged file, which may be read-only (a flush needs write
// access; its attribute is put back). The open shares everything, so that
// the check that reads staged files back, and any hold on them, go on.
bool FlushStagedFile(const TextString& path);
