#include "update_transaction.h"

#include "pump_messages.h"
#include "work_names.h"

namespace {

// The length of the directory part of a relative path, its separator
// included (0 for a name in the root); a trail byte is never taken for one.
std::uint32_t DirectoryLength(const char* relative) {
    std::uint32_t length = 0;
    for (const char* p = relative; *p != '\0'; ++p) {
        if (*p == '\\')
            length = static_cast<std::uint32_t>(p - relative) + 1;
        else if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0')
            ++p;
    }
    return length;
}

bool Exists(const TextString& path) {
    return GetFileAttributesA(path.GetText()) != INVALID_FILE_ATTRIBUTES;
}

// Every directory from the root down to the one holding relative is a
// plain directory, no link or other reparse point.
bool PlainDirectoriesOnTheWay(const TextString& root, const char* relative, bool itselfToo) {
    TextString path;
    for (const char* p = relative;; ++p) {
        if (*p == '\\' || (*p == '\0' && itselfToo)) {
            path.Assign(root).Append(static_cast<std::uint32_t>(p - relative), relative);
            const DWORD attributes = GetFileAttributesA(path.GetText());
            if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
                (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                return false;
        }
        if (*p == '\0')
            return true;
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0')
            ++p;
    }
}

// The paths of the n-th file change: its target, its staged and its backup
// file.
struct FilePaths {
    TextString target, staged, backup;

    void Make(const TextString& root, DWORD processId, const ChangeList::Change& change) {
        target.Assign(root).Append(change.path);
        staged.Assign(root).Append(DirectoryLength(change.path), change.path);
        backup.Assign(staged);
        work_names::AppendStaged(staged, processId, change.number);
        work_names::AppendBackup(backup, processId, change.number);
    }
};

void ReportNotRestored(const CopyReporter* reporter, const TextString& path, DWORD error) {
    if (reporter != nullptr && reporter->notRestored != nullptr)
        reporter->notRestored(reporter->context, path, error);
}

// Puts the installation back as it was before the changes, as far as state
// says they went; once every file was in (kCommitted), removes the old
// files instead. checkPaths: the changes come from a journal, and one whose
// way leads through a link is passed over. False when an installed file
// could not be put back.
bool UndoChanges(const TextString& root, DWORD processId, const ChangeList& changes,
                 JournalState state, bool checkPaths, const CopyReporter* reporter) {
    bool restored = true;
    FilePaths paths;
    std::uint32_t position = 0;
    ChangeList::Change change = {};
    while (changes.NextFile(position, change)) {
        if (checkPaths && !PlainDirectoriesOnTheWay(root, change.path, false))
            continue;
        paths.Make(root, processId, change);
        if (state == JournalState::kCommitted) {
            // Every staged file is in place; only replaced files have backups.
            if (change.kind == ChangeList::kReplaced)
                work_names::RemoveWorkFile(paths.backup);
            continue;
        }
        if (state == JournalState::kCommitting) {
            // A replaced file whose backup is there goes back over whatever
            // took its place; one without was never moved. A new file that
            // left its staged name is taken back to it, and removed below.
            bool moved = true;
            if (change.kind == ChangeList::kReplaced && Exists(paths.backup))
                moved = MoveFileExA(paths.backup.GetText(), paths.target.GetText(),
                                    MOVEFILE_REPLACE_EXISTING) != FALSE;
            else if (change.kind == ChangeList::kNew && !Exists(paths.staged) &&
                     Exists(paths.target))
                moved = MoveFileExA(paths.target.GetText(), paths.staged.GetText(), 0) != FALSE;
            if (!moved) {
                restored = false;
                ReportNotRestored(reporter, paths.target, GetLastError());
            }
        }
        work_names::RemoveWorkFile(paths.staged);
    }
    if (state == JournalState::kCommitted)
        return restored;
    // Only empty directories go: anything put there since stays.
    TextString path;
    const char* relative = nullptr;
    position = changes.Size();
    while (changes.PreviousDirectory(position, relative)) {
        if (checkPaths && !PlainDirectoriesOnTheWay(root, relative, true))
            continue;
        RemoveDirectoryA(path.Assign(root).Append(relative).GetText());
    }
    return restored;
}

// A handle to the volume that holds path, for flushing all of it, or
// INVALID_HANDLE_VALUE where the process may not open one (only an
// administrator may).
HANDLE OpenVolume(const TextString& path) {
    char volumePath[MAX_PATH + 1];
    if (!GetVolumePathNameA(path.GetText(), volumePath, sizeof volumePath))
        return INVALID_HANDLE_VALUE;
    TextString name;
    if (volumePath[0] != '\0' && volumePath[1] == ':' && volumePath[2] == '\\' &&
        volumePath[3] == '\0') {
        name.Format("\\\\.\\%c:", volumePath[0]);
    } else {
        char volumeName[MAX_PATH + 1];
        if (!GetVolumeNameForVolumeMountPointA(volumePath, volumeName, sizeof volumeName))
            return INVALID_HANDLE_VALUE;
        name.Assign(volumeName).DropTrailingSeparator(); // with it, it names the root directory
    }
    return CreateFileA(name.GetText(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Flushes the whole volume of path when the process may; false otherwise.
bool FlushVolumeOf(const TextString& path) {
    HANDLE volume = OpenVolume(path);
    if (volume == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = FlushFileBuffers(volume) != FALSE;
    CloseHandle(volume);
    return flushed;
}

// Flushes one file, which may be read-only (a flush needs write access).
bool FlushFile(const TextString& path) {
    const DWORD attributes = GetFileAttributesA(path.GetText());
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES &&
                          (attributes & FILE_ATTRIBUTE_READONLY) &&
                          !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (readOnly)
        SetFileAttributesA(path.GetText(), attributes & ~FILE_ATTRIBUTE_READONLY);
    HANDLE file = CreateFileA(path.GetText(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    bool flushed = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
    const DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (readOnly)
        SetFileAttributesA(path.GetText(), attributes);
    SetLastError(error);
    return flushed;
}

} // namespace

UpdateTransaction::UpdateTransaction(const TextString& installDirectory,
                                     const CopyReporter* reporter)
    : root_(installDirectory), reporter_(reporter), processId_(GetCurrentProcessId()) {
    root_.EnsureTrailingSeparator();
    journalPath_.Assign(root_).Append(work_names::kJournal);
}

UpdateTransaction::~UpdateTransaction() {
    journal_.Close();
}

bool UpdateTransaction::Begin() {
    return journal_.Create(journalPath_, processId_);
}

bool UpdateTransaction::MakeDirectory(const TextString& path) {
    const DWORD attributes = GetFileAttributesA(path.GetText());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return true;
        SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    // Noted before it is made, so that a run stopped right after leaves
    // no directory that the next run does not know of.
    const char* relative = path.GetText() + root_.GetLength();
    changes_.Add(ChangeList::kDirectory, relative, path.GetLength() - root_.GetLength());
    if (journal_.IsOpen()) {
        journal_.Add(ChangeList::kDirectory, relative);
        if (!journal_.WriteOut())
            return false;
    }
    return CreateDirectoryA(path.GetText(), nullptr) != FALSE;
}

std::uint32_t UpdateTransaction::NoteFile(const TextString& targetDirectory, const char* name,
                                          bool replaces) {
    const char kind = replaces ? ChangeList::kReplaced : ChangeList::kNew;
    scratch_.Assign(targetDirectory).Append(name);
    const char* relative = scratch_.GetText() + root_.GetLength();
    changes_.Add(kind, relative, scratch_.GetLength() - root_.GetLength());
    if (journal_.IsOpen())
        journal_.Add(kind, relative);
    return files_++;
}

bool UpdateTransaction::WriteNotes() {
    return !journal_.IsOpen() || journal_.WriteOut();
}

bool UpdateTransaction::StageFile(const TextString& source, const TextString& targetDirectory,
                                  std::uint32_t number) {
    // A file of that name is ours (it carries our process id and number):
    // one of a stopped run that had our id.
    staged_.Assign(targetDirectory);
    work_names::AppendStaged(staged_, processId_, number);
    BOOL copied = CopyFileExA(source.GetText(), staged_.GetText(), copyRoutine_, copyData_, nullptr,
                              COPY_FILE_FAIL_IF_EXISTS);
    if (!copied && GetLastError() == ERROR_FILE_EXISTS && work_names::RemoveWorkFile(staged_))
        copied = CopyFileExA(source.GetText(), staged_.GetText(), copyRoutine_, copyData_, nullptr,
                             COPY_FILE_FAIL_IF_EXISTS);
    if (!copied) {
        const DWORD error = GetLastError();
        work_names::RemoveWorkFile(staged_);
        SetLastError(error);
        return false;
    }
    return true;
}

InstallState UpdateTransaction::Finish(bool stagedWhole) {
    if (stagedWhole && journal_.IsOpen())
        return Commit();
    return Undo(JournalState::kStaging);
}

// Counted, and told to the reporter with the last error, as it happens.
void UpdateTransaction::FileFailedInCommit(const TextString& target) {
    ++filesFailedInCommit_;
    if (reporter_ != nullptr && reporter_->file != nullptr)
        reporter_->file(reporter_->context, target, GetLastError());
}

void UpdateTransaction::JournalFailed() {
    ++journalFailures_;
    if (reporter_ != nullptr && reporter_->directory != nullptr)
        reporter_->directory(reporter_->context, journalPath_, CopyStep::kWriteJournal,
                             GetLastError());
}

bool UpdateTransaction::RunStagedCheck() {
    bool (*check)(void*) = stagedCheck_;
    stagedCheck_ = nullptr;
    return check == nullptr || check(stagedCheckContext_);
}

bool UpdateTransaction::FlushStaged() {
    if (FlushVolumeOf(root_))
        return true;
    // A flush file by file opens them for writing.
    if (!RunStagedCheck())
        return false;
    FilePaths paths;
    std::uint32_t position = 0;
    ChangeList::Change change = {};
    while (changes_.NextFile(position, change)) {
        paths.Make(root_, processId_, change);
        if (!FlushFile(paths.staged)) {
            FileFailedInCommit(paths.target);
            return false;
        }
        // The progress window, when shown, keeps answering; a stop asked
        // for from here on is not heard, as every file is staged.
        PumpMessages();
    }
    return journal_.Flush();
}

InstallState UpdateTransaction::Commit() {
    if (!FlushStaged() || !RunStagedCheck())
        return Undo(JournalState::kStaging);
    if (!journal_.Mark(JournalState::kCommitting)) {
        JournalFailed();
        return Undo(JournalState::kStaging);
    }
    FilePaths paths;
    std::uint32_t position = 0;
    ChangeList::Change change = {};
    while (changes_.NextFile(position, change)) {
        paths.Make(root_, processId_, change);
        if ((change.kind == ChangeList::kReplaced &&
             !MoveFileExA(paths.target.GetText(), paths.backup.GetText(), 0)) ||
            !MoveFileExA(paths.staged.GetText(), paths.target.GetText(), 0)) {
            FileFailedInCommit(paths.target);
            return Undo(JournalState::kCommitting);
        }
        PumpMessages();
    }
    // Every file is in. Only once that is on the disk may the old ones go:
    // the volume flush covers the renames; without it, the flush of the
    // journal's last line stands for them (the file system keeps its
    // changes of names in order).
    FlushVolumeOf(root_);
    if (!journal_.Mark(JournalState::kCommitted)) {
        JournalFailed();
        return Undo(JournalState::kCommitting);
    }
    UndoChanges(root_, processId_, changes_, JournalState::kCommitted, false, reporter_);
    RemoveJournal();
    return InstallState::kInstalled;
}

InstallState UpdateTransaction::Undo(JournalState state) {
    RunStagedCheck();
    if (!UndoChanges(root_, processId_, changes_, state, false, reporter_))
        return InstallState::kDamaged; // the journal stays for the next run
    if (journal_.IsOpen()) {
        // What was put back reaches the disk before the journal goes.
        if (state != JournalState::kStaging)
            FlushVolumeOf(root_);
        RemoveJournal();
    }
    return InstallState::kUnchanged;
}

void UpdateTransaction::RemoveJournal() {
    journal_.Close();
    DeleteFileA(journalPath_.GetText());
}

Recovery RecoverInstallation(const TextString& installDirectory, const CopyReporter* reporter,
                             std::uint32_t* skipped) {
    TextString root(installDirectory), journalPath;
    root.EnsureTrailingSeparator();
    journalPath.Assign(root).Append(work_names::kJournal);
    JournalContents contents;
    const JournalRead read = ReadJournal(journalPath, contents);
    if (skipped != nullptr)
        *skipped = contents.skipped;
    switch (read) {
    case JournalRead::kNone:
    case JournalRead::kInUse: // its run is still going; ours cannot start its own
        return Recovery::kNone;
    case JournalRead::kCannotRead:
        return Recovery::kFailed;
    case JournalRead::kForeign:
        DeleteFileA(journalPath.GetText());
        return Recovery::kUnusable;
    case JournalRead::kRead:
        break;
    }
    if (!UndoChanges(root, contents.processId, contents.changes, contents.state, true, reporter))
        return Recovery::kFailed;
    if (contents.state != JournalState::kStaging)
        FlushVolumeOf(root);
    DeleteFileA(journalPath.GetText());
    return contents.state == JournalState::kCommitted ? Recovery::kCompleted : Recovery::kUndone;
}
