#include "update_log.h"

#include "update_texts.h"
#include "version.h"

namespace {

using namespace update_texts;

// Room for a system message text; longer ones are left out.
const DWORD kErrorTextSize = 512;

void AppendTwoDigits(TextString& text, unsigned value) {
    text.Append(static_cast<char>('0' + value / 10 % 10))
        .Append(static_cast<char>('0' + value % 10));
}

// "YYYY-MM-DD hh:mm:ss ", the local time.
void AppendTimeStamp(TextString& text) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    text.Append(static_cast<std::int32_t>(now.wYear)).Append('-');
    AppendTwoDigits(text, now.wMonth);
    text.Append('-');
    AppendTwoDigits(text, now.wDay);
    text.Append(' ');
    AppendTwoDigits(text, now.wHour);
    text.Append(':');
    AppendTwoDigits(text, now.wMinute);
    text.Append(':');
    AppendTwoDigits(text, now.wSecond);
    text.Append(' ');
}

// The text with each control character as "\x" and two hex digits.
void AppendEscaped(TextString& line, const TextString& text) {
    const char kDigits[] = "0123456789ABCDEF";
    const char* const chars = text.GetText();
    std::uint32_t plain = 0; // the start of the run of characters taken as they are
    for (std::uint32_t i = 0; i < text.GetLength(); ++i) {
        const unsigned char c = static_cast<unsigned char>(chars[i]);
        if (c >= 0x20 && c != 0x7F)
            continue;
        line.Append(i - plain, chars + plain);
        line.Append("\\x").Append(kDigits[c >> 4]).Append(kDigits[c & 0xF]);
        plain = i + 1;
    }
    line.Append(text.GetLength() - plain, chars + plain);
}

void ReportFileToLog(void* log, const TextString& target, DWORD error) {
    static_cast<UpdateLog*>(log)->FileCopied(target, error);
}

void ReportDirectoryToLog(void* log, const TextString& path, CopyStep step, DWORD error) {
    static_cast<UpdateLog*>(log)->DirectoryFailed(path, step, error);
}

void ReportNotRestoredToLog(void* log, const TextString& path, DWORD error) {
    static_cast<UpdateLog*>(log)->NotRestored(path, error);
}

void ReportWaitToLog(void* log, const TextString& path, DWORD milliseconds, DWORD error) {
    static_cast<UpdateLog*>(log)->Waited(path, milliseconds, error);
}

void ReportReadOnlyToLog(void* log, const TextString& target) {
    static_cast<UpdateLog*>(log)->ReadOnlyReplaced(target);
}

bool SkipLogFile(void* log, const char* name, const TextString& source) {
    return static_cast<const UpdateLog*>(log)->IsLogFile(name, source);
}

} // namespace

void AppendErrorText(TextString& text, DWORD error) {
    text.Append(" (").Append(kLogErrorWord).Append(' ').Append(static_cast<std::int32_t>(error));
    char systemText[kErrorTextSize];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, systemText, kErrorTextSize, nullptr);
    // The system's texts end in a line break; a log line may not hold one.
    while (length > 0 && (systemText[length - 1] == '\r' || systemText[length - 1] == '\n' ||
                          systemText[length - 1] == ' '))
        --length;
    for (DWORD i = 0; i < length; ++i)
        if (systemText[i] == '\r' || systemText[i] == '\n')
            systemText[i] = ' ';
    if (length > 0)
        text.Append(": ").Append(length, systemText);
    text.Append(')');
}

UpdateLog::~UpdateLog() {
    if (file_ != INVALID_HANDLE_VALUE)
        CloseHandle(file_);
}

void UpdateLog::Open(const char* path) {
    path_.Assign(path);
    holding_ = false;
    // Others may read it while the run goes on; a second run at the same
    // time cannot write into it.
    file_ = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ != INVALID_HANDLE_VALUE && held_.GetLength() != 0)
        WriteLine(held_);
    held_.Clear();
    if (file_ == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        failed_ = true;
        failure_.Assign(path_);
        AppendErrorText(failure_, error);
        return;
    }
    TextString extension;
    path_.SplitPath(nullptr, nullptr, &name_, &extension);
    name_.Append(extension);
    if (!GetFileInformationByHandle(file_, &identity_))
        name_.Clear(); // unknown: nothing is taken for the log
}

bool UpdateLog::IsLogFile(const char* name, const TextString& path) const {
    if (file_ == INVALID_HANDLE_VALUE || name_.GetLength() == 0 ||
        lstrcmpiA(name, name_.GetText()) != 0)
        return false;
    // Access 0 and full sharing: the open disturbs nobody and is refused by
    // no share mode.
    HANDLE other =
        CreateFileA(path.GetText(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (other == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    const bool same = GetFileInformationByHandle(other, &information) &&
                      information.dwVolumeSerialNumber == identity_.dwVolumeSerialNumber &&
                      information.nFileIndexHigh == identity_.nFileIndexHigh &&
                      information.nFileIndexLow == identity_.nFileIndexLow;
    CloseHandle(other);
    return same;
}

void UpdateLog::Write(const TextString& text) {
    if ((file_ == INVALID_HANDLE_VALUE && !holding_) || failed_)
        return;
    TextString line;
    AppendTimeStamp(line);
    AppendEscaped(line, text);
    line.Append("\r\n");
    if (holding_)
        held_.Append(line);
    else
        WriteLine(line);
}

void UpdateLog::WriteLine(const TextString& line) {
    DWORD written = 0;
    const BOOL done = WriteFile(file_, line.GetText(), line.GetLength(), &written, nullptr);
    if (!done || written != line.GetLength()) {
        const DWORD error = done ? static_cast<DWORD>(ERROR_DISK_FULL) : GetLastError();
        failed_ = true;
        failure_.Assign(path_);
        AppendErrorText(failure_, error);
    }
}

void UpdateLog::Started(const char* commandLine, const TextString* packageRoot) {
    TextString text;
    text.Format(kLogStartedFormat, UPDATE_VERSION_TEXT);
    if (packageRoot != nullptr)
        text.Append(kLogPackage).Append(*packageRoot);
    else
        text.Append(kLogPackageUnknown);
    text.Append(kLogCommandLine).Append(commandLine);
    Write(text);
}

void UpdateLog::WordIgnored(const TextString& word) {
    TextString text(kLogWordIgnored);
    text.Append(word);
    Write(text);
}

void UpdateLog::InstallationChecked(const char* rootName, const TextString& directory, bool found,
                                    DWORD error) {
    TextString text;
    if (found) {
        text.Format(kLogInstallationFoundFormat, rootName, directory.GetText());
    } else if (directory.GetLength() == 0 && error == ERROR_MORE_DATA) {
        text.Format(kLogValueTooLongFormat, rootName);
    } else if (directory.GetLength() == 0) {
        text.Format(kLogNoValueFormat, rootName);
    } else {
        text.Format(kLogNoProductFormat, rootName, directory.GetText(), kProductExecutable);
        AppendErrorText(text, error);
    }
    Write(text);
}

void UpdateLog::Waiting(const TextString& lockFile, DWORD limitMilliseconds) {
    const unsigned seconds = static_cast<unsigned>(limitMilliseconds / 1000);
    TextString text;
    text.Format(kLogWaitingFormat, lockFile.GetText(), seconds / 60, seconds % 60);
    Write(text);
}

void UpdateLog::ProductNotOpened(const TextString& executablePath, DWORD error) {
    TextString text(kLogProductNotOpened);
    text.Append(executablePath);
    AppendErrorText(text, error);
    Write(text);
}

void UpdateLog::DiskFull(const TextString& installDirectory, std::uint32_t neededMegabytes,
                         std::uint32_t freeMegabytes) {
    TextString text;
    text.Format(kLogDiskFullFormat, installDirectory.GetText(), neededMegabytes, freeMegabytes);
    Write(text);
}

void UpdateLog::SpaceUnknown(const TextString& installDirectory, DWORD error) {
    TextString text(kLogSpaceUnknown);
    text.Append(installDirectory);
    AppendErrorText(text, error);
    Write(text);
}

void UpdateLog::FileCopied(const TextString& target, DWORD error) {
    TextString text(error == ERROR_SUCCESS ? kLogFileCopied : kLogFileNotCopied);
    text.Append(target);
    if (error != ERROR_SUCCESS)
        AppendErrorText(text, error);
    Write(text);
}

void UpdateLog::DirectoryFailed(const TextString& path, CopyStep step, DWORD error) {
    TextString text(step == CopyStep::kReadPackageDirectory  ? kLogDirectoryNotRead
                    : step == CopyStep::kMakeTargetDirectory ? kLogDirectoryNotMade
                    : step == CopyStep::kWriteJournal        ? kLogJournalNotWritten
                    : step == CopyStep::kHoldFiles           ? kLogOutOfHandles
                                                             : kLogDirectoryNotEntered);
    text.Append(path);
    if (error != ERROR_SUCCESS)
        AppendErrorText(text, error);
    Write(text);
}

void UpdateLog::NotRestored(const TextString& path, DWORD error) {
    if (firstNotRestored_.GetLength() == 0) {
        firstNotRestored_.Assign(path);
        firstNotRestoredError_ = error;
    }
    TextString text(kLogNotRestored);
    text.Append(path);
    AppendErrorText(text, error);
    Write(text);
}

void UpdateLog::Waited(const TextString& path, DWORD milliseconds, DWORD error) {
    TextString text;
    text.Format(error == ERROR_SUCCESS ? kLogWaitedFormat : kLogGaveUpFormat,
                static_cast<int>(milliseconds));
    text.Append(path);
    if (error != ERROR_SUCCESS)
        AppendErrorText(text, error);
    Write(text);
}

void UpdateLog::ReadOnlyReplaced(const TextString& target) {
    TextString text(kLogReadOnlyReplaced);
    text.Append(target);
    Write(text);
}

void UpdateLog::Recovered(const TextString& installDirectory, Recovery recovery,
                          std::uint32_t skipped) {
    TextString text(recovery == Recovery::kUndone      ? kLogRecoveryUndone
                    : recovery == Recovery::kCompleted ? kLogRecoveryCompleted
                    : recovery == Recovery::kFailed    ? kLogRecoveryFailed
                    : recovery == Recovery::kSetAside  ? kLogRecoverySetAside
                                                       : kLogRecoveryUnusable);
    text.Append(installDirectory);
    if (skipped != 0) {
        TextString note;
        note.Format(kLogRecoverySkippedFormat, static_cast<int>(skipped));
        text.Append(note);
    }
    Write(text);
}

void UpdateLog::Finished(const TextString& result, int exitCode) {
    TextString text;
    text.Format(kLogFinishedFormat, result.GetText(), exitCode);
    Write(text);
}

void UpdateLog::ManifestRead(const TextString& path, PackageManifest::Load load,
                             const PackageManifest& manifest, bool required) {
    TextString text;
    switch (load) {
    case PackageManifest::Load::kAbsent:
        text.Assign(required ? kLogManifestRequired : kLogPackageNotChecked).Append(path);
        break;
    case PackageManifest::Load::kRefused:
        return;
    case PackageManifest::Load::kRead:
        text.Format(kLogPackageCheckedFormat, path.GetText(), manifest.Count());
        break;
    case PackageManifest::Load::kUnreadable:
        text.Assign(kLogManifestUnreadable).Append(path);
        AppendErrorText(text, manifest.Error());
        break;
    case PackageManifest::Load::kMalformed:
        text.Format(kLogManifestMalformedFormat, path.GetText(), manifest.BadLine());
        break;
    }
    Write(text);
}

void UpdateLog::SignatureChecked(const TextString& path, const SignatureCheck* check,
                                 std::uint32_t keys, const TextString& keyId) {
    TextString text;
    if (check == nullptr) {
        text.Assign(kLogSignatureNotChecked).Append(path);
        Write(text);
        return;
    }
    switch (check->verdict) {
    case SignatureVerdict::kVerified:
        text.Format(kLogSignatureVerifiedFormat, keyId.GetText(), path.GetText());
        break;
    case SignatureVerdict::kMissing:
        text.Assign(kLogSignatureMissing).Append(path);
        break;
    case SignatureVerdict::kUnreadable:
        text.Assign(kLogSignatureUnreadable).Append(path);
        AppendErrorText(text, check->error);
        break;
    case SignatureVerdict::kMalformed:
        text.Assign(kLogSignatureMalformed).Append(path);
        break;
    case SignatureVerdict::kByNoKey:
        text.Format(kLogSignatureByNoKeyFormat, keys, path.GetText());
        break;
    case SignatureVerdict::kNoVerifier:
        text.Format(kLogSignatureNoVerifierFormat, static_cast<unsigned>(check->error),
                    path.GetText());
        break;
    }
    Write(text);
}

void UpdateLog::PackageFound(const TextString& path, PackageFinding finding) {
    TextString text(finding == PackageFinding::kUnlisted  ? kLogFileUnlisted
                    : finding == PackageFinding::kLost    ? kLogFileLost
                    : finding == PackageFinding::kMissing ? kLogFileMissing
                                                          : kLogFileDiffers);
    text.Append(path);
    Write(text);
}

void UpdateLog::TellPackageFinding(void* log, const TextString& path, PackageFinding finding) {
    static_cast<UpdateLog*>(log)->PackageFound(path, finding);
}

CopyReporter UpdateLog::Reporter() {
    return CopyReporter{
        this,    ReportFileToLog, ReportDirectoryToLog, SkipLogFile, ReportNotRestoredToLog,
        nullptr, ReportWaitToLog, ReportReadOnlyToLog};
}
