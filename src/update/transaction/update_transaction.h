// An update installed whole or not at all:
// 1. staging: every package file is written whole under a staged name
//    beside its target and every missing directory is made; nothing
//    installed is touched;
// 2. the staged files are flushed to the disk, with one flush of the whole
//    volume where the process may open it (an administrator), else one per
//    file;
// 3. commit: each installed file is renamed to its backup name and its
//    staged file renamed into its place; everything is flushed once more,
//    and only then are the backups removed;
// 4. any failure on the way undoes it all: staged files removed, backups
//    renamed back (keeping their attributes and times), directories the run
//    made removed.
// The journal (update_journal.h) tells a later run what was under way, so
// that a run stopped at any moment, or a power cut, is undone (or, once
// every file was in, finished) before anything else is done.
#pragma once

#include "change_list.h"
#include "copy_tree.h"
#include "file_holds.h"
#include "platform/win32_api.h"
#include "staged_flusher.h"
#include "text_string.h"
#include "transient_retry.h"
#include "update_journal.h"

class UpdateTransaction {
  public:
    // installDirectory: the root that every path handed in lies under.
    UpdateTransaction(const TextString& installDirectory, const CopyReporter* reporter);
    ~UpdateTransaction();
    UpdateTransaction(const UpdateTransaction&) = delete;
    UpdateTransaction& operator=(const UpdateTransaction&) = delete;

    // The progress routine (and its data) that each staging copy calls.
    void SetCopyProgress(LPPROGRESS_ROUTINE routine, void* data) {
        copyRoutine_ = routine;
        copyData_ = data;
    }

    // Makes the journal; false (with the last error) when it cannot be made,
    // and the run is then only staged and undone.
    bool Begin();

    // A directory under the root that the run makes: noted first, and
    // made with MakeNotedDirectory once WriteNotes has put its line on the
    // disk (with the lines of its files, so that the folder and its files
    // cost one flush), so that a run stopped at any moment leaves no
    // directory that the next run does not know of. False with the last
    // error when the directory cannot be made.
    void NoteDirectory(const TextString& path);
    bool MakeNotedDirectory(const TextString& path);
    // The files noted since the last NoteDirectory, in a folder that was
    // not made (or not entered), are no longer the run's to undo.
    void ForgetNotedFiles() { changes_.ForgetFilesFrom(filesOfNotedDirectory_); }

    // Notes the file `name` of targetDirectory (under the root, ending in a
    // separator) as one to stage; `replaces`: an installed file is there.
    // Returns its number, which StageFile takes. The notes reach the
    // journal with WriteNotes, which must come before their files are
    // staged; false with the last error when they could not be written.
    std::uint32_t NoteFile(const TextString& targetDirectory, const char* name, bool replaces);
    bool WriteNotes();

    // Keeps the hold that the probe of file `number`'s installed file
    // opened (file_holds.h): held from then to the end of the run, renamed
    // to its backup, until that is removed.
    void KeepHold(std::uint32_t number, HANDLE hold) { holds_.Keep(number, FileHolds::kOld, hold); }

    // Writes source whole under the staged name of file `number` in
    // targetDirectory, and holds it from then until the end of the run.
    // False with the last error when it fails; nothing of it is left then.
    bool StageFile(const TextString& source, const TextString& targetDirectory,
                   std::uint32_t number);
    // Before the copy lets go of a folder where it staged files: nothing of
    // the run works there by path any more.
    void LeaveFolder() { flusher_.Drain(); }
    // The staged file that the last successful StageFile wrote.
    const TextString& StagedPath() const { return staged_; }
    // A check that still reads the staged files (package_check.h): run once,
    // before anything else uses them (a flush file by file, the commit, the
    // undo), so that it may go on while the volume is flushed. False undoes
    // the run.
    void SetStagedCheck(bool (*check)(void* context), void* context) {
        stagedCheck_ = check;
        stagedCheckContext_ = context;
    }

    // With everything staged: flush, commit and clean up, or undo when any
    // of it fails. Without: undo.
    InstallState Finish(bool stagedWhole);

    // The waits for files that another program holds for a moment, shared
    // by the whole run (transient_retry.h).
    RetryBudget& Retries() { return retries_; }

    // The process may open no more handles: every hold is let go of, so
    // that the undo that follows has handles for its folders and files.
    // The run fails; nothing installed has moved yet.
    void OutOfHandles() { holds_.ReleaseAll(); }
    std::uint32_t PeakHolds() const { return holds_.Peak(); }

    // What failed while the staged files were being put in place (each
    // reported as it happened): a file, or the journal.
    std::uint32_t FilesFailedInCommit() const { return filesFailedInCommit_; }
    std::uint32_t JournalFailures() const { return journalFailures_; }

  private:
    enum class Step { kDone, kFailed, kDeferred };
    bool Move(const TextString& from, const TextString& to, bool mayWait);
    bool Defer(class DeferredFiles& deferred, const ChangeList::Change& change);
    Step CommitFile(const ChangeList::Change& change, bool firstTry);
    void FileFailedInCommit(const TextString& target);
    void JournalFailed();
    bool FlushStaged();
    InstallState Commit();
    InstallState Undo(JournalState state);
    void RemoveJournal();
    bool RunStagedCheck();

    TextString root_; // ends in a separator
    const CopyReporter* reporter_;
    LPPROGRESS_ROUTINE copyRoutine_ = nullptr;
    bool (*stagedCheck_)(void*) = nullptr;
    void* stagedCheckContext_ = nullptr;
    void* copyData_ = nullptr;
    DWORD processId_;
    ChangeList changes_;
    std::uint32_t filesOfNotedDirectory_ = 0; // where they begin in changes_
    std::uint32_t files_ = 0;
    std::uint32_t filesFailedInCommit_ = 0;
    std::uint32_t journalFailures_ = 0;
    JournalFile journal_;
    TextString journalPath_;
    FileHolds holds_;
    RetryBudget retries_, undoRetries_;
    TextString staged_, scratch_;
    StagedFlusher flusher_; // last: stopped first
};

enum class Recovery {
    kNone,      // no journal: nothing was under way
    kUndone,    // a stopped run was undone: the installation is as before it
    kCompleted, // a stopped run had every file in: its old files are removed
    kFailed,    // not all of a stopped run could be undone, or its journal could not
                // be read; the journal stays
    kUnusable,  // a file of the journal's name that no run wrote: removed, nothing done
    kSetAside,  // a folder of the journal's name that holds something (no run makes one):
                // renamed, with all in it, so that the run can write its journal
};

// Undoes (or finishes) what a run stopped on this installation left, from
// its journal; to be called holding the installation lock, before anything
// else. Only paths inside the installation, reached through no link, and
// only the run's own staged and backup names are ever moved or removed.
// `skipped` receives the number of journal lines not acted upon.
Recovery RecoverInstallation(const TextString& installDirectory, const CopyReporter* reporter,
                             std::uint32_t* skipped = nullptr);
