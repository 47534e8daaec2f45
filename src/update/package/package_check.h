// A package checked against its manifest (package_manifest.h) while it is
// copied: files not listed are left out, each staged copy must have its
// listed SHA-256, and every listed file must have been found. What is
// hashed is what was staged, just written (so still in the system's
// cache), never the package a second time: a file changed in the package
// while the run reads it fails with the copy it made. The top-level
// Update.exe, never staged, is hashed where it lies.
//
// The hashing runs on a thread of its own, up to kSlots files behind the
// copy (the files are in the system's cache; only their names are queued) and
// on while the staged files are flushed (update_transaction.h), so that it
// costs the run little more than the copy does; where no thread can be
// made, each file is hashed when it is handed in. Findings are told on the
// caller's thread only.
#pragma once

#include <cstdint>

#include "package_manifest.h"
#include "platform/win32_api.h"
#include "scratch_buffer.h"
#include "sha256.h"
#include "text_string.h"

// What the check found wrong, as it is told to a log.
enum class PackageFinding {
    kUnlisted, // a file the manifest does not list: left out
    kLost,     // one it does not list whose name is installed: a product file it lost
    kMissing,  // a listed file that the package does not hold
    kDiffers,  // a file whose staged copy has another SHA-256 than listed
};

class PackageCheck {
  public:
    // `found`, when not null, hears of each finding with the package path.
    PackageCheck(PackageManifest& manifest, const TextString& packageRoot,
                 void (*found)(void* context, const TextString& path, PackageFinding finding),
                 void* context);
    ~PackageCheck();
    PackageCheck(const PackageCheck&) = delete;
    PackageCheck& operator=(const PackageCheck&) = delete;

    // Whether the package file (relative: below the package top, names
    // joined by '\') is listed, and so installed; it counts as found. One
    // not listed whose name is installed (at `target`, looked at only then)
    // is a product file that the manifest lost (cut short, say): the
    // package is damaged.
    bool Admits(const char* relative, const char* target = nullptr);
    // Hashes `copy`, the file just staged from the package file `relative`
    // (or the top-level Update.exe itself), against its line; the copy may
    // not change until Settle.
    void Verify(const char* relative, const TextString& copy);
    // Once the walk is done, before the staged files are used: waits for
    // the hashing, reports the listed
    // files not found (when `walkedWhole`: a stopped walk did not look for
    // all of them) and returns the number of files missing or differing.
    std::uint32_t Settle(bool walkedWhole);

  private:
    // Enough that the copy seldom waits for the hashing, which then goes on
    // while the staged files are flushed.
    static const std::uint32_t kSlots = 64;
    struct Job {
        TextString path;
        PackageManifest::Entry* entry = nullptr; // null: none, or taken in
        bool matches = false;
        bool stop = false;
    };

    void StartHasher();
    static DWORD WINAPI Hasher(LPVOID check);
    bool Matches(const Job& job);
    void TakeIn(Job& job);
    void Stop();
    void Tell(const char* relative, PackageFinding finding);

    PackageManifest& manifest_;
    TextString root_, scratch_;
    void (*found_)(void*, const TextString&, PackageFinding);
    void* context_;
    Sha256 hasher_; // the hashing thread's, or the caller's without one
    ScratchBuffer buffer_;
    std::uint32_t differing_ = 0;
    // Jobs go round the slots: the caller fills one when `free_` lets it,
    // the thread hashes it when `filled_` does.
    Job jobs_[kSlots];
    std::uint32_t handedIn_ = 0, hashed_ = 0;
    HANDLE free_ = nullptr, filled_ = nullptr, thread_ = nullptr;
    bool started_ = false;
};
