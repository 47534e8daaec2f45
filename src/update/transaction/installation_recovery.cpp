// What a run finds of a run that was stopped, put right before anything
// else is done (update_transaction.h).
#include "held_folder.h"
#include "transient_retry.h"
#include "undo_changes.h"
#include "update_transaction.h"
#include "work_names.h"

namespace {

bool Exists(const TextString& path) {
    return GetFileAttributesA(path.GetText()) != INVALID_FILE_ATTRIBUTES;
}

// Removes whatever has the journal's name when it is no journal: a file
// (read-only ones too), a link itself, an empty folder. False when it
// stays.
bool RemoveJournalName(const TextString& path) {
    const DWORD attributes = GetFileAttributesA(path.GetText());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return RemoveDirectoryA(path.GetText()) != FALSE;
    return work_names::RemoveWorkFile(path);
}

// Clears a folder of the installation, and every folder below it that is
// no link and whose name does not start with a dot (the run writes into no
// other), of the staged files of any run; backups are left where they are
// and told to the reporter: one may be the only copy of an installed file.
void SweepWorkFiles(const TextString& folder, const CopyReporter* reporter) {
    HeldFolder held;
    if (!held.Hold(folder.GetText()))
        return;
    TextString prefix(folder), path;
    prefix.EnsureTrailingSeparator();
    path.Assign(prefix).Append("*");
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(path.GetText(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    const DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    do {
        const char* name = entry.cFileName;
        path.Assign(prefix).Append(name);
        if (name[0] != '.' && (entry.dwFileAttributes & kNotPlain) == FILE_ATTRIBUTE_DIRECTORY) {
            SweepWorkFiles(path, reporter);
        } else if ((entry.dwFileAttributes & kNotPlain) != 0) {
            // neither entered nor removed
        } else if (work_names::IsLeftoverTemporary(name, 0)) {
            work_names::RemoveWorkFile(path);
        } else if (work_names::IsBackup(name) && reporter != nullptr &&
                   reporter->notRestored != nullptr) {
            reporter->notRestored(reporter->context, path, ERROR_ALREADY_EXISTS);
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

// A journal that no run wrote whole (its first line is not a journal's, it
// is larger than a run writes, or no plain file) is no order: it may have
// been cut short by a power cut, or planted. What its readable lines name
// is put right as far as it is safe: a backup goes back where its
// installed file is missing, staged files go (those it names and any
// other), folders it names go when empty; every other backup stays.
bool ClearAfterUnusableJournal(const TextString& root, const JournalContents& contents,
                               const CopyReporter* reporter) {
    bool cleared = true;
    FolderChain folders(root);
    FilePaths paths;
    std::uint32_t position = 0;
    ChangeList::Change change = {};
    while (contents.changes.NextFile(position, change)) {
        paths.Make(root, contents.processId, change);
        if (!folders.HoldFolderOf(change.path))
            continue;
        if (change.kind == ChangeList::kReplaced && Exists(paths.backup) && !Exists(paths.target) &&
            !MoveFileExA(paths.backup.GetText(), paths.target.GetText(), 0)) {
            cleared = false;
            if (reporter != nullptr && reporter->notRestored != nullptr)
                reporter->notRestored(reporter->context, paths.target, GetLastError());
        }
    }
    folders.Release();
    SweepWorkFiles(root, reporter);
    RemoveMadeFolders(root, contents.changes);
    return cleared;
}

// A folder of the journal's name that holds something is no run's: nothing
// in it is removed. It is renamed to a name of its own beside
// (".Update.journal-<process id>", or with a number after where that is
// taken), which the run's work never touches, and it is left there.
bool SetJournalFolderAside(const TextString& path) {
    const DWORD attributes = GetFileAttributesA(path.GetText());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
            FILE_ATTRIBUTE_DIRECTORY)
        return false;
    TextString aside;
    for (DWORD attempt = 0; attempt < 100; ++attempt) {
        aside.Format("%s-%08lX", path.GetText(), static_cast<unsigned long>(GetCurrentProcessId()));
        if (attempt != 0) {
            TextString number;
            number.Format("-%lu", static_cast<unsigned long>(attempt));
            aside.Append(number);
        }
        if (MoveFileExA(path.GetText(), aside.GetText(), 0))
            return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

} // namespace

Recovery RecoverInstallation(const TextString& installDirectory, const CopyReporter* reporter,
                             std::uint32_t* skipped) {
    TextString root(installDirectory), journalPath;
    root.EnsureTrailingSeparator();
    journalPath.Assign(root).Append(work_names::kJournal);
    // Held while it is put right; the caller may hold it already.
    HeldFolder installation;
    installation.Hold(installDirectory.GetText(), true);
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
        if (!ClearAfterUnusableJournal(root, contents, reporter))
            return Recovery::kFailed;
        if (RemoveJournalName(journalPath))
            return Recovery::kUnusable;
        return SetJournalFolderAside(journalPath) ? Recovery::kSetAside : Recovery::kFailed;
    case JournalRead::kRead:
        break;
    }
    RetryBudget retries = RetryBudget::ForUndo(reporter);
    FileHolds holds;
    if (!UndoChanges(root, contents.processId, contents.changes, contents.state, true, reporter,
                     retries, holds))
        return Recovery::kFailed;
    holds.ReleaseAll();
    if (contents.state != JournalState::kStaging)
        FlushVolumeOf(root);
    if (!retries.Run(journalPath, [&journalPath] { return RemoveJournalName(journalPath); }))
        return Recovery::kFailed;
    return contents.state == JournalState::kCommitted ? Recovery::kCompleted : Recovery::kUndone;
}
