#include "update_transaction.h"

#include "deferred_files.h"
#include "held_folder.h"
#include "pump_messages.h"
#include "staged_flusher.h"
#include "transient_error.h"
#include "undo_changes.h"
#include "work_names.h"

UpdateTransaction::UpdateTransaction(const TextString& installDirectory,
                                     const CopyReporter* reporter)
    : root_(installDirectory), reporter_(reporter), processId_(GetCurrentProcessId()),
      retries_(RetryBudget::ForRun(reporter)), undoRetries_(RetryBudget::ForUndo(reporter)) {
    root_.EnsureTrailingSeparator();
    journalPath_.Assign(root_).Append(work_names::kJournal);
}

UpdateTransaction::~UpdateTransaction() {
    journal_.Close();
}

bool UpdateTransaction::Begin() {
    if (!journal_.Create(journalPath_, processId_))
        return false;
    // Without a flush of the whole volume, each staged file is flushed as
    // soon as it is written, beside the copy.
    if (!CanFlushVolumeOf(root_))
        flusher_.Start();
    return true;
}

void UpdateTransaction::NoteDirectory(const TextString& path) {
    const char* relative = path.GetText() + root_.GetLength();
    changes_.Add(ChangeList::kDirectory, relative, path.GetLength() - root_.GetLength());
    filesOfNotedDirectory_ = changes_.Size();
    if (journal_.IsOpen())
        journal_.Add(ChangeList::kDirectory, relative);
}

bool UpdateTransaction::MakeNotedDirectory(const TextString& path) {
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
    return !journal_.IsOpen() || journal_.WriteOutDurably();
}

bool UpdateTransaction::StageFile(const TextString& source, const TextString& targetDirectory,
                                  std::uint32_t number) {
    // A file of that name is ours (it carries our process id and number):
    // one of a stopped run that had our id.
    staged_.Assign(targetDirectory);
    work_names::AppendStaged(staged_, processId_, number);
    const auto copy = [&] {
        BOOL copied = CopyFileExA(source.GetText(), staged_.GetText(), copyRoutine_, copyData_,
                                  nullptr, COPY_FILE_FAIL_IF_EXISTS);
        if (!copied && GetLastError() == ERROR_FILE_EXISTS && work_names::RemoveWorkFile(staged_))
            copied = CopyFileExA(source.GetText(), staged_.GetText(), copyRoutine_, copyData_,
                                 nullptr, COPY_FILE_FAIL_IF_EXISTS);
        if (!copied) {
            const DWORD error = GetLastError();
            work_names::RemoveWorkFile(staged_);
            SetLastError(error);
        }
        return copied != FALSE;
    };
    // The package file may be held for a moment by a scanner, too.
    if (!retries_.Run(source, copy))
        return false;
    // Held from here on, so that no open arriving later keeps it from going
    // in place (or, on undo, from going); a scanner that opened it as it was
    // written is waited out. One that cannot be held is left to the undo.
    if (!retries_.Run(staged_, [&] { return holds_.Hold(number, FileHolds::kNew, staged_); }))
        return false;
    if (flusher_.IsRunning())
        flusher_.Add(staged_);
    return true;
}

InstallState UpdateTransaction::Finish(bool stagedWhole) {
    if (stagedWhole && journal_.IsOpen())
        return Commit();
    return Undo(JournalState::kStaging);
}

// A rename of the commit, tried again while another program holds the file
// for a moment: a scanner opens a file that was just written or renamed.
bool UpdateTransaction::Move(const TextString& from, const TextString& to, bool mayWait) {
    const auto rename = [&] { return MoveFileExA(from.GetText(), to.GetText(), 0) != FALSE; };
    return mayWait ? retries_.Run(to, rename) : rename();
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
    if (flusher_.IsRunning()) {
        if (flusher_.Finish() == 0)
            return journal_.Flush();
    } else if (FlushVolumeOf(root_)) {
        return true;
    }
    // Each file again, in turn, waiting for one held for a moment.
    if (!RunStagedCheck())
        return false;
    FolderChain folders(root_);
    FilePaths paths;
    DeferredFiles deferred;
    std::uint32_t position = 0;
    ChangeList::Change change = {};
    while (changes_.NextFile(position, change)) {
        paths.Make(root_, processId_, change);
        if (!folders.HoldFolderOf(change.path) ||
            (!FlushStagedFile(paths.staged) && !Defer(deferred, change))) {
            FileFailedInCommit(paths.target);
            return false;
        }
        // The progress window, when shown, keeps answering; a stop asked
        // for from here on is not heard, as every file is staged.
        PumpMessages();
    }
    for (std::uint32_t i = 0; i < deferred.Count(); ++i) {
        paths.Make(root_, processId_, deferred.At(i));
        if (!folders.HoldFolderOf(deferred.At(i).path) ||
            !retries_.Run(paths.staged, [&paths] { return FlushStagedFile(paths.staged); })) {
            FileFailedInCommit(paths.target);
            return false;
        }
    }
    return journal_.Flush();
}

bool UpdateTransaction::Defer(DeferredFiles& deferred, const ChangeList::Change& change) {
    if (!IsTransientError(GetLastError()))
        return false;
    deferred.Add(change);
    return true;
}

// Puts one staged file in place: the installed one aside, the new one in.
// firstTry: a file that a holder of a moment keeps before anything of it
// moved is put off (kDeferred) rather than waited for; once its installed
// file is aside, the new one goes in now, waiting if it must.
UpdateTransaction::Step UpdateTransaction::CommitFile(const ChangeList::Change& change,
                                                      bool firstTry) {
    FilePaths paths;
    paths.Make(root_, processId_, change);
    const bool aside = change.kind == ChangeList::kReplaced;
    if (aside && !Move(paths.target, paths.backup, !firstTry))
        return firstTry && IsTransientError(GetLastError()) ? Step::kDeferred : Step::kFailed;
    if (Move(paths.staged, paths.target, aside || !firstTry))
        return Step::kDone;
    return firstTry && !aside && IsTransientError(GetLastError()) ? Step::kDeferred : Step::kFailed;
}

InstallState UpdateTransaction::Commit() {
    if (!FlushStaged() || !RunStagedCheck())
        return Undo(JournalState::kStaging);
    if (!journal_.Mark(JournalState::kCommitting)) {
        JournalFailed();
        return Undo(JournalState::kStaging);
    }
    // Each file's folders are held while its two renames run: nobody can
    // swap them for a link in between.
    FolderChain folders(root_);
    DeferredFiles deferred;
    std::uint32_t position = 0, next = 0;
    ChangeList::Change change = {};
    for (;;) {
        // Every file once, then those put off, waiting for each.
        const bool firstTry = changes_.NextFile(position, change);
        if (!firstTry && next == deferred.Count())
            break;
        if (!firstTry)
            change = deferred.At(next++);
        Step step = Step::kFailed;
        if (folders.HoldFolderOf(change.path))
            step = CommitFile(change, firstTry);
        if (step == Step::kDeferred)
            deferred.Add(change);
        if (step == Step::kFailed) {
            FilePaths paths;
            paths.Make(root_, processId_, change);
            FileFailedInCommit(paths.target);
            folders.Release();
            return Undo(JournalState::kCommitting);
        }
        PumpMessages();
    }
    folders.Release();
    // Every file is in. Only once that is on the disk may the old ones go:
    // the volume flush covers the renames; without it, the flush of the
    // journal's last line stands for them (the file system keeps its
    // changes of names in order).
    FlushVolumeOf(root_);
    if (!journal_.Mark(JournalState::kCommitted)) {
        JournalFailed();
        return Undo(JournalState::kCommitting);
    }
    // An old file that cannot be removed now keeps the journal, so that the
    // next run removes it.
    if (UndoChanges(root_, processId_, changes_, JournalState::kCommitted, false, reporter_,
                    retries_, holds_))
        RemoveJournal();
    return InstallState::kInstalled;
}

InstallState UpdateTransaction::Undo(JournalState state) {
    flusher_.Finish();
    RunStagedCheck();
    if (!UndoChanges(root_, processId_, changes_, state, false, reporter_, undoRetries_, holds_))
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
    retries_.Run(journalPath_, [this] { return DeleteFileA(journalPath_.GetText()) != FALSE; });
}
