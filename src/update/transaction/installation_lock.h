#pragma once

#include "platform/win32_api.h"
#include "text_string.h"

// One update at a time on an installation. The lock is the file
// ".Update.lock" in the installation directory, held open without sharing
// and deleted on close (FILE_FLAG_DELETE_ON_CLOSE):
// - the system drops it when its holder ends in any way, killed included;
//   a file left by a holder that could not delete it (a crash of the
//   machine; on the Linux stand-in, a killed run) is opened again and
//   taken at once. On Windows such a leftover carries the directory's
//   permissions: a user who may read the installation could hold it open
//   and so make runs wait for as long as he holds it;
// - only who may create files in the installation directory can create
//   it, and it exists only while a run holds it, which no one else can
//   open for data while it is held;
// - its name starts with a dot, which the copy never takes from a package,
//   and is none of the copy's temporary names (".Update-<hex>.tmp").
//
// Taking it waits while another run holds the lock (a sharing violation),
// draining the thread's messages between attempts, for a limited time: a
// holder that never lets go (the installation's owner may hold the file as
// well) must not keep a run waiting for ever. When the lock cannot be
// taken at all for another reason (a read-only or missing directory, no
// right to create files there, a name that is a directory, a lock file whose
// deletion is pending while someone keeps a handle to it without data
// access, which anyone who may read the directory can), the run goes on
// without it: the copy then meets the same condition and reports every file
// it could not install (or, where nothing stands in its way, runs unlocked),
// whereas refusing would need words of its own, and
// would let whoever can keep the lock file from being opened stop every
// update.
class InstallationLock {
  public:
    InstallationLock() : handle_(INVALID_HANDLE_VALUE) {}
    ~InstallationLock();
    InstallationLock(const InstallationLock&) = delete;
    InstallationLock& operator=(const InstallationLock&) = delete;

    // Takes the lock on the installation, waiting while another run holds
    // it (or goes on without it, as said above). `waiting`, when not null,
    // is called once, with `context` and the lock file, when the lock is
    // found held. False when it is still held after `limitMilliseconds`:
    // nothing was done.
    bool Take(const TextString& installDirectory, DWORD limitMilliseconds,
              void (*waiting)(void* context, const TextString& lockFile) = nullptr,
              void* context = nullptr);
    // Gives the lock up (deleting its file); again is harmless.
    void Release();

  private:
    HANDLE handle_;
};
