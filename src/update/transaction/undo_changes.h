// Putting an installation back from a list of changes, for the run that
// made them and for a later run that finds them in a journal.
#pragma once

#include "change_list.h"
#include "copy_tree.h"
#include "file_holds.h"
#include "platform/win32_api.h"
#include "text_string.h"
#include "transient_retry.h"
#include "update_journal.h"

// The paths of a file change: its target, its staged and its backup file.
struct FilePaths {
    TextString target, staged, backup;

    void Make(const TextString& root, DWORD processId, const ChangeList::Change& change);
};

// Puts the installation under root (ending in a separator) back as it was
// before the changes, as far as state says they went; once every file was
// in (kCommitted), removes the old files instead. Each step acts in folders
// held from the root down (held_folder.h), so that none leads through a
// link, nor through a folder swapped for one meanwhile. fromJournal: the
// changes come from a journal, and a path through a link is passed over
// (the run never wrote there). False when a file could not be put back
// (or, once committed, an old file could not be removed); each is told to
// the reporter's notRestored.
// Each step on a file that another program holds for a moment is tried
// again within `retries` (transient_retry.h).
// `holds`: the run's holds of its files (file_holds.h), each closed right
// before its file is removed. From a journal, no handle of the stopped run
// survived: every file that the undo will move or remove is held first,
// before anything moves, and one that cannot be held (another program has
// it open without sharing deletion) is told by its own name and left as it
// is, with the rest of its change.
bool UndoChanges(const TextString& root, DWORD processId, const ChangeList& changes,
                 JournalState state, bool fromJournal, const CopyReporter* reporter,
                 RetryBudget& retries, FileHolds& holds);

// Removes the folders that the changes made, last first, when they are
// empty: anything put there since stays.
void RemoveMadeFolders(const TextString& root, const ChangeList& changes);

// Flushes the whole volume of path when the process may (only an
// administrator may open a volume); false otherwise.
bool FlushVolumeOf(const TextString& path);
// Whether the process may flush the volume that holds path whole.
bool CanFlushVolumeOf(const TextString& path);
