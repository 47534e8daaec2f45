#include "undo_changes.h"

#include "deferred_files.h"
#include "held_folder.h"
#include "transient_error.h"
#include "transient_retry.h"
#include "work_names.h"

namespace {

bool Exists(const TextString& path) {
    return GetFileAttributesA(path.GetText()) != INVALID_FILE_ATTRIBUTES;
}

void ReportNotRestored(const CopyReporter* reporter, const TextString& path, DWORD error) {
    if (reporter != nullptr && reporter->notRestored != nullptr)
        reporter->notRestored(reporter->context, path, error);
}

// Whether a folder that could not be held is passed over. The folders of
// a run's own changes were there when it noted them: missing or a link by
// now, someone moved them, and what the run left there is not undone. A
// journal's folder may be missing (named and never made) or a link (the
// run never wrote through one): the run did nothing there.
bool NothingToUndoIn(DWORD holdError, bool fromJournal) {
    return fromJournal && (holdError == ERROR_FILE_NOT_FOUND || holdError == ERROR_PATH_NOT_FOUND ||
                           holdError == ERROR_CANT_ACCESS_FILE);
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

} // namespace

void FilePaths::Make(const TextString& root, DWORD processId, const ChangeList::Change& change) {
    target.Assign(root).Append(change.path);
    staged.Assign(root).Append(FolderPartLength(change.path), change.path);
    backup.Assign(staged);
    work_names::AppendStaged(staged, processId, change.number);
    work_names::AppendBackup(backup, processId, change.number);
}

namespace {

// Holds, before anything moves, every file of a journal's change that the
// undo will move or remove: the backup, and the staged file or else the
// new file that goes back to the staged name. False, with the file told to
// the reporter, when one is there and cannot be held.
bool HoldChange(const FilePaths& paths, const ChangeList::Change& change, JournalState state,
                const CopyReporter* reporter, RetryBudget& retries, FileHolds& holds) {
    const auto hold = [&](FileHolds::Slot slot, const TextString& path) {
        if (retries.Run(path, [&] { return holds.Hold(change.number, slot, path); }) ||
            GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
        ReportNotRestored(reporter, path, GetLastError());
        return false;
    };
    bool held = change.kind != ChangeList::kReplaced || hold(FileHolds::kOld, paths.backup);
    if (state == JournalState::kCommitted)
        return held;
    if (Exists(paths.staged))
        return hold(FileHolds::kNew, paths.staged) && held;
    // Once committing, a new file in place goes back to its staged name.
    const bool movesBack =
        state == JournalState::kCommitting &&
        (change.kind == ChangeList::kNew || holds.Holds(change.number, FileHolds::kOld));
    return (!movesBack || hold(FileHolds::kNew, paths.target)) && held;
}

} // namespace

bool UndoChanges(const TextString& root, DWORD processId, const ChangeList& changes,
                 JournalState state, bool fromJournal, const CopyReporter* reporter,
                 RetryBudget& retries, FileHolds& holds) {
    bool restored = true;
    FolderChain folders(root);
    FilePaths paths;
    DeferredFiles deferred;
    std::uint32_t position = 0;
    ChangeList::Change change = {};
    // A change whose files could not all be held is left as it is.
    DeferredFiles refused;
    std::uint32_t nextRefused = 0;
    if (fromJournal) {
        while (changes.NextFile(position, change)) {
            paths.Make(root, processId, change);
            if (folders.HoldFolderOf(change.path) &&
                !HoldChange(paths, change, state, reporter, retries, holds)) {
                restored = false;
                refused.Add(change);
            }
        }
        position = 0;
        change = {};
    }
    const auto remove = [&retries](const TextString& path) {
        return retries.Run(path, [&path] { return work_names::RemoveWorkFile(path); });
    };
    const auto move = [&retries](const TextString& from, const TextString& to) {
        return retries.Run(to,
                           [&] { return MoveFileExA(from.GetText(), to.GetText(), 0) != FALSE; });
    };
    while (changes.NextFile(position, change)) {
        if (nextRefused < refused.Count() && refused.At(nextRefused).number == change.number) {
            ++nextRefused;
            continue;
        }
        paths.Make(root, processId, change);
        if (!folders.HoldFolderOf(change.path)) {
            const DWORD error = GetLastError();
            if (!NothingToUndoIn(error, fromJournal)) {
                restored = false;
                ReportNotRestored(reporter, paths.target, error);
            }
            continue;
        }
        if (state == JournalState::kCommitted) {
            // Every staged file is in place; only replaced files have
            // backups. One held for a moment waits until the others are gone.
            // Each hold goes right before its file: Windows would keep a
            // removed file that is still open under its name.
            if (change.kind == ChangeList::kReplaced)
                holds.Release(change.number, FileHolds::kOld);
            if (change.kind == ChangeList::kReplaced && !work_names::RemoveWorkFile(paths.backup)) {
                if (IsTransientError(GetLastError())) {
                    deferred.Add(change);
                } else {
                    restored = false;
                    ReportNotRestored(reporter, paths.backup, GetLastError());
                }
            }
            continue;
        }
        if (state == JournalState::kCommitting) {
            // A replaced file whose backup is there goes back in its place;
            // whatever took that place first goes back to its staged name,
            // as a read-only new file could not be replaced. One without a
            // backup was never moved. A new file that left its staged name
            // is taken back to it. Staged names are removed below.
            bool moved = true;
            if (change.kind == ChangeList::kReplaced && Exists(paths.backup)) {
                if (Exists(paths.target))
                    moved = remove(paths.staged) && move(paths.target, paths.staged);
                moved = moved && move(paths.backup, paths.target);
            } else if (change.kind == ChangeList::kNew && !Exists(paths.staged) &&
                       Exists(paths.target)) {
                moved = move(paths.target, paths.staged);
            }
            if (!moved) {
                restored = false;
                ReportNotRestored(reporter, paths.target, GetLastError());
            }
        }
        holds.Release(change.number, FileHolds::kNew);
        if (!remove(paths.staged)) {
            restored = false;
            ReportNotRestored(reporter, paths.staged, GetLastError());
        }
    }
    for (std::uint32_t i = 0; i < deferred.Count(); ++i) {
        paths.Make(root, processId, deferred.At(i));
        holds.Release(deferred.At(i).number, FileHolds::kOld);
        if (!folders.HoldFolderOf(deferred.At(i).path) || !remove(paths.backup)) {
            restored = false;
            ReportNotRestored(reporter, paths.backup, GetLastError());
        }
    }
    if (state != JournalState::kCommitted) {
        folders.Release();
        RemoveMadeFolders(root, changes);
    }
    return restored;
}

void RemoveMadeFolders(const TextString& root, const ChangeList& changes) {
    // Each is let go of before it is removed, its folders on the way held;
    // one that is a link by now is left.
    FolderChain folders(root);
    TextString path;
    HeldFolder made;
    const char* relative = nullptr;
    std::uint32_t position = changes.Size();
    while (changes.PreviousDirectory(position, relative)) {
        path.Assign(root).Append(relative);
        if (!folders.HoldFolderOf(relative) || !made.Hold(path.GetText()))
            continue;
        made.Release();
        RemoveDirectoryA(path.GetText());
    }
}

bool FlushVolumeOf(const TextString& path) {
    HANDLE volume = OpenVolume(path);
    if (volume == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = FlushFileBuffers(volume) != FALSE;
    CloseHandle(volume);
    return flushed;
}

bool CanFlushVolumeOf(const TextString& path) {
    HANDLE volume = OpenVolume(path);
    if (volume == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(volume);
    return true;
}
