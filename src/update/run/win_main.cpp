// The update run: find the installation, make sure the product is there and
// not running, copy the package over it, report, and open the notes. With
// /S nothing is shown and the exit code tells the outcome; with /LOG= every
// step goes into a log file as well.
#include <cstdint>

#include "command_line.h"
#include "copy_progress.h"
#include "copy_tree.h"
#include "directory_identity.h"
#include "environment_number.h"
#include "exit_codes.h"
#include "held_folder.h"
#include "installation_lock.h"
#include "log_refusal.h"
#include "manifest_signature.h"
#include "package_check.h"
#include "package_manifest.h"
#include "package_names.h"
#include "package_size.h"
#include "platform/win32_api.h"
#include "read_registry_string.h"
#include "scratch_buffer.h"
#include "text_string.h"
#include "transient_retry.h"
#include "trusted_keys.h"
#include "update_log.h"
#include "update_texts.h"
#include "update_transaction.h"
#include "volume_space.h"
#include "work_names.h"

namespace {

using namespace update_texts;

const std::uint32_t kModulePathBufferSize = 1000;
// How long a run waits for another run's lock before it gives up; a test
// may shorten it with the environment variable, in seconds.
const DWORD kLockWaitMilliseconds = 5 * 60 * 1000;
const char kLockWaitVariable[] = "UPDATE_LOCK_WAIT_SECONDS";

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

DWORD LockWaitLimit() {
    return EnvironmentNumber(kLockWaitVariable, 24 * 60 * 60, kLockWaitMilliseconds / 1000) * 1000;
}

void TellWaiting(void* log, const TextString& lockFile) {
    static_cast<UpdateLog*>(log)->Waiting(lockFile, LockWaitLimit());
}

bool Exists(const TextString& path) {
    return GetFileAttributesA(path.GetText()) != INVALID_FILE_ATTRIBUTES;
}

// Where the product executable is missing but the journal of a stopped run
// is there (it may have been stopped between the two renames of the
// executable), that run is put right first, under the lock, and the folder
// is the installation only if the executable is there then. A journal that
// cannot be put right keeps the folder as the installation: the run then
// ends as one that cannot undo a stopped run, and never passes over a
// half-done installation. The package's own folder is left alone: the run
// refuses it as the installation. False: the folder gives way to the next
// root, with the error of the missing executable.
bool RecoveredOrHalfDone(const TextString& installDirectory, const TextString& executablePath,
                         const TextString& packageRoot, const CopyReporter& reporter,
                         UpdateLog& log) {
    if (IdentifyDirectory(packageRoot.GetText())
            .SameAs(IdentifyDirectory(installDirectory.GetText())))
        return true;
    HeldFolder held;
    held.Hold(installDirectory.GetText(), true);
    InstallationLock lock;
    if (!lock.Take(installDirectory, LockWaitLimit(), TellWaiting, &log))
        return true;
    std::uint32_t skipped = 0;
    const Recovery recovery = RecoverInstallation(installDirectory, &reporter, &skipped);
    // A failure is told once, when the run tries again under its own lock.
    if (recovery == Recovery::kFailed)
        return true;
    if (recovery != Recovery::kNone)
        log.Recovered(installDirectory, recovery, skipped);
    if (Exists(executablePath))
        return true;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
}

// Takes the directory when it holds the product executable, or a stopped
// run's journal that leaves it there once put right (RecoveredOrHalfDone).
// Nothing else is changed before the log is checked against the
// installation.
bool HoldsProduct(const TextString& installDirectory, TextString& executablePath,
                  const TextString& packageRoot, const CopyReporter& reporter, UpdateLog& log) {
    if (installDirectory.GetLength() == 0)
        return false;
    executablePath.Assign(installDirectory);
    executablePath.EnsureTrailingSeparator().Append(kProductExecutable);
    if (Exists(executablePath))
        return true;
    const DWORD error = GetLastError();
    TextString journal(installDirectory);
    journal.EnsureTrailingSeparator().Append(work_names::kJournal);
    if (Exists(journal))
        return RecoveredOrHalfDone(installDirectory, executablePath, packageRoot, reporter, log);
    SetLastError(error);
    return false;
}

bool FindUnder(HKEY root, const char* rootName, const char* valueName, TextString& installDirectory,
               TextString& executablePath, const TextString& packageRoot,
               const CopyReporter& reporter, UpdateLog& log) {
    LONG status = ERROR_SUCCESS;
    installDirectory.Assign(ReadRegistryString(root, kRegistryKey, valueName, &status));
    const bool found = HoldsProduct(installDirectory, executablePath, packageRoot, reporter, log);
    log.InstallationChecked(rootName, installDirectory, found,
                            found                          ? 0
                            : installDirectory.GetLength() ? GetLastError()
                                                           : static_cast<DWORD>(status));
    return found;
}

bool FindInstallation(TextString& installDirectory, TextString& executablePath,
                      const TextString& packageRoot, const CopyReporter& reporter, UpdateLog& log) {
    return FindUnder(HKEY_LOCAL_MACHINE, kMachineRootName, kMachineValueName, installDirectory,
                     executablePath, packageRoot, reporter, log) ||
           FindUnder(HKEY_CURRENT_USER, kUserRootName, kUserValueName, installDirectory,
                     executablePath, packageRoot, reporter, log);
}

// What a run comes to; each has its own exit code in a silent run.
enum class Outcome {
    kInstalled,
    kNotInstalled,
    kNotRestored,
    kNotFound,
    kRunning,
    kCannotOpen,
    kPackageUnknown,
    kPackageIsInstallation, // the registry names the package's own folder
    kOtherRunWaiting,
    kDiskFull,        // the package does not fit on the installation's volume; nothing written
    kCancelled,       // the user stopped it; the installation is as it was
    kPackageDamaged,  // not as its manifest lists it; the installation is as it was
    kManifestInvalid, // the manifest cannot be read or parsed; nothing done
    kNotSigned,       // no manifest signed by a trusted key; nothing done
};

// The megabytes a package needs and those free, when it does not fit.
struct Shortfall {
    std::uint32_t needed = 0;
    std::uint32_t free = 0;
};

// The check of the manifest's bytes against the trusted keys, as the gate
// of its reading.
struct SignatureGate {
    const TextString* packageRoot;
    const PublicKeyDer* keys;
    std::uint32_t count;
    SignatureCheck check;

    static bool Accept(void* context, const char* text, std::uint32_t size) {
        SignatureGate& gate = *static_cast<SignatureGate*>(context);
        gate.check =
            manifest_signature::Check(*gate.packageRoot, text, size, gate.keys, gate.count);
        return gate.check.verdict == SignatureVerdict::kVerified;
    }
};

// Reads the package's manifest, before anything is touched; false, with the
// outcome, when the package has one that cannot be read or parsed, or, in a
// build with trusted keys, when it has none or its bytes are not signed by
// one of them (then they are never parsed).
bool ReadManifest(const TextString& packageRoot, PackageManifest& manifest, bool& checked,
                  Outcome& outcome, UpdateLog& log) {
    SignatureGate signature{&packageRoot, nullptr, 0, {}};
    signature.keys = TrustedKeys(signature.count);
    const PackageManifest::Gate gate{&signature, SignatureGate::Accept};
    const bool keyed = signature.count != 0;
    const PackageManifest::Load load = manifest.Read(packageRoot, keyed ? &gate : nullptr);
    TextString path(packageRoot), signaturePath(packageRoot);
    path.EnsureTrailingSeparator().Append(PackageManifest::kFileName);
    signaturePath.EnsureTrailingSeparator().Append(manifest_signature::kFileName);
    if (load != PackageManifest::Load::kAbsent && load != PackageManifest::Load::kUnreadable) {
        const TextString keyId =
            signature.check.verdict == SignatureVerdict::kVerified
                ? manifest_signature::KeyId(signature.keys[signature.check.key])
                : TextString();
        log.SignatureChecked(signaturePath, keyed ? &signature.check : nullptr, signature.count,
                             keyId);
    }
    log.ManifestRead(path, load, manifest, keyed);
    checked = load == PackageManifest::Load::kRead;
    if (load == PackageManifest::Load::kRefused ||
        (keyed && load == PackageManifest::Load::kAbsent))
        outcome = Outcome::kNotSigned;
    else if (!checked && load != PackageManifest::Load::kAbsent)
        outcome = Outcome::kManifestInvalid;
    else
        return true;
    return false;
}

// An exclusive open for writing fails with a sharing violation while the
// product runs. Nothing is written. The executable first gets only the
// archive attribute, so that a read-only one may be opened; one that is a
// link, a junction or another reparse point is refused untouched: an
// attribute change would change what it leads to. A scanner may hold the
// executable for a moment, as any other file: the probe waits one step of
// the run's retries (transient_retry.h) before it takes the product for
// running.
bool ProbeProduct(const TextString& executablePath, const CopyReporter& reporter, Outcome& outcome,
                  UpdateLog& log) {
    const DWORD attributes = GetFileAttributesA(executablePath.GetText());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        outcome = Outcome::kCannotOpen;
        log.ProductNotOpened(executablePath, ERROR_CANT_ACCESS_FILE);
        return false;
    }
    SetFileAttributesA(executablePath.GetText(), FILE_ATTRIBUTE_ARCHIVE);
    HANDLE probe = INVALID_HANDLE_VALUE;
    RetryBudget::ForProbe(&reporter).Run(executablePath, [&] {
        probe = CreateFileA(executablePath.GetText(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
        return probe != INVALID_HANDLE_VALUE;
    });
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return true;
    }
    const DWORD error = GetLastError();
    // Gone only when a stopped run's journal made the directory count as
    // the installation and no run had put it in place.
    outcome = error == ERROR_SHARING_VIOLATION ? Outcome::kRunning
              : error == ERROR_FILE_NOT_FOUND  ? Outcome::kNotFound
                                               : Outcome::kCannotOpen;
    log.ProductNotOpened(executablePath, error);
    return false;
}

void TellIgnored(void* log, const TextString& word) {
    static_cast<UpdateLog*>(log)->WordIgnored(word);
}

// One run at a time on an installation: the probe and the copy wait for
// any other run on it (installation_lock.h), for a while. What a stopped
// run left is put right first; when it cannot be, nothing else is done.
bool LockRecoverAndProbeProduct(HeldFolder& installation, InstallationLock& lock,
                                const TextString& installDirectory,
                                const TextString& executablePath, const CopyReporter& reporter,
                                Outcome& outcome, UpdateLog& log) {
    // Held from here to the end of the copy: nobody can rename or replace
    // the installation folder meanwhile (held_folder.h). The administrator
    // chose it, link or not; one that cannot be held is still worked in,
    // as one whose lock cannot be taken.
    installation.Hold(installDirectory.GetText(), true);
    if (!lock.Take(installDirectory, LockWaitLimit(), TellWaiting, &log)) {
        outcome = Outcome::kOtherRunWaiting;
        return false;
    }
    std::uint32_t skipped = 0;
    const Recovery recovery = RecoverInstallation(installDirectory, &reporter, &skipped);
    if (recovery != Recovery::kNone)
        log.Recovered(installDirectory, recovery, skipped);
    if (recovery == Recovery::kFailed) {
        outcome = Outcome::kNotRestored;
        return false;
    }
    return ProbeProduct(executablePath, reporter, outcome, log);
}

// Measures the package, once a run, for the progress total and for the room
// its staging takes beside the installed files (only what the manifest, when
// there is one, lists), and tells whether that room is free. Where the free space cannot be read
// the run goes on: a volume that fills on the way is undone as any other failure.
bool Fits(const TextString& package, const TextString& installDirectory,
          const CopyReporter& reporter, const PackageManifest* manifest, std::uint64_t& totalBytes,
          Shortfall& shortfall, UpdateLog& log) {
    const VolumeSpace space = ReadVolumeSpace(installDirectory);
    const PackageFilter filter{reporter.context, reporter.skip};
    const PackageSize size =
        MeasurePackage(package, installDirectory, package_names::kSearchPattern, &filter,
                       space.clusterBytes, manifest);
    totalBytes = size.bytes;
    if (!space.known) {
        log.SpaceUnknown(installDirectory, space.error);
        return true;
    }
    if (size.staged <= space.freeBytes)
        return true;
    shortfall.needed = MegabytesUp(size.staged);
    shortfall.free = MegabytesDown(space.freeBytes);
    log.DiskFull(installDirectory, shortfall.needed, shortfall.free);
    return false;
}

Outcome OutcomeOf(InstallState state) {
    switch (state) {
    case InstallState::kInstalled:
        return Outcome::kInstalled;
    case InstallState::kUnchanged:
        return Outcome::kNotInstalled;
    case InstallState::kDamaged:
        break;
    }
    return Outcome::kNotRestored;
}

int SilentExitCode(Outcome outcome) {
    switch (outcome) {
    case Outcome::kInstalled:
        return exit_codes::kInstalled;
    case Outcome::kNotInstalled:
    case Outcome::kPackageIsInstallation:
    case Outcome::kCancelled: // not in a silent run, which shows no window
        return exit_codes::kNotInstalled;
    case Outcome::kNotRestored:
        return exit_codes::kNotRestored;
    case Outcome::kNotFound:
        return exit_codes::kNotFound;
    case Outcome::kRunning:
        return exit_codes::kRunning;
    case Outcome::kOtherRunWaiting:
        return exit_codes::kOtherRunWaiting;
    case Outcome::kPackageDamaged:
        return exit_codes::kPackageDamaged;
    case Outcome::kManifestInvalid:
        return exit_codes::kManifestInvalid;
    case Outcome::kNotSigned:
        return exit_codes::kNotSigned;
    case Outcome::kDiskFull:
        return exit_codes::kDiskFull;
    case Outcome::kCannotOpen:
    case Outcome::kPackageUnknown:
        break;
    }
    return exit_codes::kCannotOpen;
}

// The message box text and the log's result line of an outcome.
void Describe(Outcome outcome, const CopyResult& copy, const Shortfall& shortfall,
              TextString& message, TextString& result) {
    const int files = static_cast<int>(copy.failedFiles);
    const int folders = static_cast<int>(copy.failedDirectories);
    switch (outcome) {
    case Outcome::kInstalled:
        message.Format(kDoneFormat, copy.copied);
        result.Format(kResultInstalledFormat, copy.copied);
        break;
    case Outcome::kNotInstalled:
        // A line tells of files or of folders only where some failed.
        if (folders == 0)
            message.Format(kNotInstalledFormat, files);
        else if (files == 0)
            message.Format(kNotInstalledFoldersFormat, folders);
        else
            message.Format(kNotInstalledWithFoldersFormat, files, folders);
        result.Format(kResultNotInstalledFormat, files, folders);
        break;
    case Outcome::kNotRestored:
        message.Assign(kNotRestoredText);
        result.Assign(kResultNotRestored);
        break;
    case Outcome::kNotFound:
        message.Format(kNotFoundFormat, kProductTitle);
        result.Assign(kResultNotFound);
        break;
    case Outcome::kRunning:
        message.Assign(kProductRunningText);
        result.Assign(kResultRunning);
        break;
    case Outcome::kCannotOpen:
        message.Format(kCannotOpenFormat, kProductTitle);
        result.Assign(kResultCannotOpen);
        break;
    case Outcome::kPackageUnknown:
        message.Assign(kPackageUnknownText);
        result.Assign(kResultPackageUnknown);
        break;
    case Outcome::kPackageIsInstallation:
        message.Assign(kPackageIsInstallationText);
        result.Assign(kResultPackageIsInstallation);
        break;
    case Outcome::kOtherRunWaiting:
        message.Assign(kOtherRunWaitingText);
        result.Assign(kResultOtherRunWaiting);
        break;
    case Outcome::kDiskFull:
        message.Format(kDiskFullFormat, shortfall.needed, shortfall.free);
        result.Assign(kResultDiskFull);
        break;
    case Outcome::kCancelled:
        message.Assign(kCancelledText);
        result.Assign(kResultCancelled);
        break;
    case Outcome::kPackageDamaged:
        message.Format(kPackageDamagedFormat, static_cast<int>(copy.damagedFiles));
        result.Format(kResultPackageDamagedFormat, static_cast<int>(copy.damagedFiles));
        break;
    case Outcome::kManifestInvalid:
        message.Assign(kManifestInvalidText);
        result.Assign(kResultManifestInvalid);
        break;
    case Outcome::kNotSigned:
        message.Assign(kNotSignedText);
        result.Assign(kResultNotSigned);
        break;
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    // A wrong command line stops a silent run before anything is touched;
    // a run without /S only shows the switches when asked, and ends as
    // every such run ends, with 0.
    RunSwitches switches;
    if (!ReadSwitches(commandLine, switches))
        return exit_codes::kBadCommandLine;
    if (switches.usage) {
        MessageBoxA(GetDesktopWindow(), kUsageText, kCaptionInfo, MB_OK | MB_ICONINFORMATION);
        return 0;
    }

    UpdateLog log;
    if (switches.log)
        log.Hold();

    TextString ownDirectory, installDirectory, executablePath, message, result;
    HeldFolder installation;
    InstallationLock lock;
    Outcome outcome = Outcome::kInstalled;
    CopyResult copy;
    PackageManifest manifest;
    bool checked = false;
    Shortfall shortfall;
    const CopyReporter reporter = log.Reporter();
    const bool rootFound = FindPackageRoot(ownDirectory);
    log.Started(commandLine, rootFound ? &ownDirectory : nullptr);
    // The words passed over, each on a line after the one that holds the
    // whole command line.
    RunSwitches again;
    ReadSwitches(commandLine, again, TellIgnored, &log);
    const bool installationFound = rootFound && FindInstallation(installDirectory, executablePath,
                                                                 ownDirectory, reporter, log);

    // The log may not be written over the product, the installation or the
    // package; it is checked, and then made, once the installation is known.
    if (switches.log) {
        const char* refusal = LogRefusal(switches.logPath, rootFound ? &ownDirectory : nullptr,
                                         installationFound ? &installDirectory : nullptr,
                                         installationFound ? &executablePath : nullptr);
        if (refusal != nullptr) {
            if (!switches.silent) {
                message.Format(kLogRefusedFormat, switches.logPath.GetText(), refusal);
                MessageBoxA(GetDesktopWindow(), message.GetText(), kCaptionError,
                            MB_OK | MB_ICONWARNING);
            }
            return exit_codes::kBadCommandLine;
        }
        log.Open(switches.logPath.GetText());
    }

    if (!rootFound) {
        outcome = Outcome::kPackageUnknown;
    } else if (!installationFound) {
        outcome = Outcome::kNotFound;
    } else if (IdentifyDirectory(ownDirectory.GetText())
                   .SameAs(IdentifyDirectory(installDirectory.GetText()))) {
        // Told before the lock is taken: recovery and the probe would
        // already change the package.
        outcome = Outcome::kPackageIsInstallation;
    } else if (!ReadManifest(ownDirectory, manifest, checked, outcome, log)) {
        // The outcome is the manifest's.
    } else if (LockRecoverAndProbeProduct(installation, lock, installDirectory, executablePath,
                                          reporter, outcome, log)) {
        // Nothing is written into the installation before the package is
        // known to fit (the lock file aside).
        CopyProgress progress(!switches.silent, installDirectory);
        std::uint64_t totalBytes = 0;
        if (!Fits(ownDirectory, installDirectory, reporter, checked ? &manifest : nullptr,
                  totalBytes, shortfall, log)) {
            outcome = Outcome::kDiskFull;
        } else {
            progress.SetTotal(totalBytes);
            PackageCheck check(manifest, ownDirectory, UpdateLog::TellPackageFinding, &log);
            CopyWatcher watcher = progress.Watcher();
            copy = CopyTree(ownDirectory, installDirectory, package_names::kSearchPattern,
                            &reporter, &watcher, checked ? &check : nullptr);
            if (copy.state == InstallState::kInstalled)
                progress.Installed();
            outcome = OutcomeOf(copy.state);
            // A package not as listed is told as such, whatever else failed.
            if (outcome == Outcome::kNotInstalled && copy.damagedFiles != 0)
                outcome = Outcome::kPackageDamaged;
            // A stop asked for once the commit began changes nothing: the
            // commit goes on, and the run is installed, or fails on its own
            // account and says so.
            if (copy.stopped && progress.CancelAsked() && copy.state == InstallState::kUnchanged)
                outcome = Outcome::kCancelled;
        }
        // Closed before any box.
        progress.Close();
    }
    // Released before any box: a box waiting for OK holds up no other run.
    lock.Release();
    installation.Release();
    Describe(outcome, copy, shortfall, message, result);
    // The file that could not be put back (one that another program holds,
    // say) is named in the box, as in the log.
    if (outcome == Outcome::kNotRestored && log.FirstNotRestored().GetLength() != 0) {
        TextString file("\r\n\r\n");
        file.Append(kLogNotRestored).Append(log.FirstNotRestored());
        AppendErrorText(file, log.FirstNotRestoredError());
        message.Append(file);
    }

    // Interactive runs end with 0, whatever happened.
    int exitCode = switches.silent ? SilentExitCode(outcome) : 0;
    log.Finished(result, exitCode);
    if (log.Failed() && exitCode == exit_codes::kInstalled && switches.silent)
        exitCode = exit_codes::kInstalledWithoutLog;
    if (switches.silent)
        return exitCode;

    if (log.Failed()) {
        TextString note;
        note.Format(kLogFailedFormat, log.Failure().GetText());
        message.Append(note);
    }
    if (outcome == Outcome::kInstalled) {
        MessageBoxA(GetDesktopWindow(), message.GetText(), kCaptionInfo,
                    MB_OK | MB_ICONINFORMATION);
        WinExec(kNotesCommand, SW_SHOWMAXIMIZED);
    } else if (outcome == Outcome::kCancelled) {
        MessageBoxA(GetDesktopWindow(), message.GetText(), kCaptionInfo,
                    MB_OK | MB_ICONINFORMATION);
    } else {
        MessageBoxA(GetDesktopWindow(), message.GetText(), kCaptionError, MB_OK | MB_ICONWARNING);
    }
    return exitCode;
}
