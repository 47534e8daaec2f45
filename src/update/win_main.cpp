// The update run: find the installation, make sure the product is there and
// not running, copy the package over it, report, and open the notes.
#include <cstdint>

#include "copy_tree.h"
#include "installation_lock.h"
#include "platform/win32_api.h"
#include "read_registry_string.h"
#include "scratch_buffer.h"
#include "text_string.h"
#include "update_texts.h"

namespace {

using namespace update_texts;

const std::uint32_t kModulePathBufferSize = 1000;

// The package root: the drive and directory of our own file, ending in a
// separator. False when the platform cut our path to the buffer, or the
// directory is too long to be split whole: the root would then be some
// other directory, and nothing may be copied from there.
bool FindPackageRoot(TextString& ownDirectory) {
    ScratchBuffer modulePath(kModulePathBufferSize);
    const DWORD length = GetModuleFileNameA(nullptr, modulePath.GetBlock(), kModulePathBufferSize);
    if (length == 0 || length >= kModulePathBufferSize)
        return false;
    ownDirectory.Assign(length, modulePath.GetBlock());
    // The components add up to the whole path unless one was cut.
    TextString fileName, extension;
    ownDirectory.SplitPath(nullptr, nullptr, &fileName, &extension);
    ownDirectory.SplitPath(&ownDirectory, &ownDirectory, nullptr, nullptr);
    if (ownDirectory.GetLength() + fileName.GetLength() + extension.GetLength() != length)
        return false;
    ownDirectory.EnsureTrailingSeparator();
    return true;
}

// Takes the directory when it holds the product executable. The attribute
// call is the existence test, and it leaves the executable with only the
// archive attribute, so that the probe below may open it for writing.
bool HoldsProduct(const TextString& installDirectory, TextString& executablePath) {
    if (installDirectory.GetLength() == 0)
        return false;
    executablePath.Assign(installDirectory);
    executablePath.EnsureTrailingSeparator().Append(kProductExecutable);
    return SetFileAttributesA(executablePath.GetText(), FILE_ATTRIBUTE_ARCHIVE) != FALSE;
}

bool FindInstallation(TextString& installDirectory, TextString& executablePath) {
    installDirectory.Assign(
        ReadRegistryString(HKEY_LOCAL_MACHINE, kRegistryKey, kMachineValueName));
    if (HoldsProduct(installDirectory, executablePath))
        return true;
    installDirectory.Assign(ReadRegistryString(HKEY_CURRENT_USER, kRegistryKey, kUserValueName));
    return HoldsProduct(installDirectory, executablePath);
}

// An exclusive open for writing fails with a sharing violation while the
// product runs. Nothing is written.
bool ProbeProduct(const TextString& executablePath, TextString& message) {
    HANDLE probe =
        CreateFileA(executablePath.GetText(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return true;
    }
    if (GetLastError() == ERROR_SHARING_VIOLATION)
        message.Assign(kProductRunningText);
    else
        message.Format(kCannotOpenFormat, kProductTitle);
    return false;
}

// One run at a time on an installation: the probe and the copy wait for
// any other run on it (installation_lock.h).
bool LockAndProbeProduct(InstallationLock& lock, const TextString& installDirectory,
                         const TextString& executablePath, TextString& message) {
    lock.Take(installDirectory);
    return ProbeProduct(executablePath, message);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    TextString ownDirectory, installDirectory, executablePath, message;
    InstallationLock lock;

    if (!FindPackageRoot(ownDirectory)) {
        message.Format(kCannotOpenFormat, kProductTitle);
    } else if (!FindInstallation(installDirectory, executablePath)) {
        message.Format(kNotFoundFormat, kProductTitle);
    } else if (LockAndProbeProduct(lock, installDirectory, executablePath, message)) {
        std::uint32_t failures = 0;
        const int copied = CopyTree(ownDirectory, installDirectory, kSearchPattern, &failures);
        lock.Release();
        if (failures == 0) {
            message.Format(kDoneFormat, copied);
            MessageBoxA(GetDesktopWindow(), message.GetText(), kCaptionInfo,
                        MB_OK | MB_ICONINFORMATION);
            WinExec(kNotesCommand, SW_SHOWMAXIMIZED);
            return 0;
        }
        message.Format(kPartlyDoneFormat, copied, static_cast<int>(failures));
    }
    lock.Release();
    MessageBoxA(GetDesktopWindow(), message.GetText(), kCaptionError, MB_OK | MB_ICONWARNING);
    return 0;
}
