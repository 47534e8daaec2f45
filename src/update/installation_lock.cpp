#include "installation_lock.h"

#include "pump_messages.h"

namespace {

const char kLockName[] = ".Update.lock";
// Between two attempts on a held lock: short enough to follow the holder
// at once, long enough to cost nothing.
const DWORD kRetryMilliseconds = 100;

} // namespace

void InstallationLock::Take(const TextString& installDirectory) {
    Release();
    TextString path(installDirectory);
    path.EnsureTrailingSeparator().Append(kLockName);
    for (;;) {
        handle_ = CreateFileA(path.GetText(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle_ != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION)
            return;
        PumpMessages();
        Sleep(kRetryMilliseconds);
    }
}

InstallationLock::~InstallationLock() {
    Release();
}

void InstallationLock::Release() {
    if (handle_ != INVALID_HANDLE_VALUE)
        CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}
