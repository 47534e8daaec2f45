#include "installation_lock.h"

#include "pump_messages.h"

namespace {

const char kLockName[] = ".Update.lock";
// Between two attempts on a held lock: short enough to follow the holder
// at once, long enough to cost nothing.
const DWORD kRetryMilliseconds = 100;

} // namespace

bool InstallationLock::Take(const TextString& installDirectory, DWORD limitMilliseconds,
                            void (*waiting)(void* context, const TextString& lockFile),
                            void* context) {
    Release();
    TextString path(installDirectory);
    path.EnsureTrailingSeparator().Append(kLockName);
    // The time waited counts the pauses only, which is what the limit is about.
    for (DWORD waited = 0;; waited += kRetryMilliseconds) {
        handle_ = CreateFileA(path.GetText(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle_ != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION)
            return true;
        if (waited >= limitMilliseconds)
            return false;
        if (waited == 0 && waiting != nullptr)
            waiting(context, path);
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
