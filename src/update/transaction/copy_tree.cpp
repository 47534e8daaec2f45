#include "copy_tree.h"
#include "lead_bytes.h"

#include "directory_identity.h"
#include "folder_listing.h"
#include "held_folder.h"
#include "name_clashes.h"
#include "package_check.h"
#include "package_entries.h"
#include "platform/win32_api.h"
#include "pump_messages.h"
#include "update_transaction.h"
#include "work_names.h"

namespace {

using package_entries::IsProgram;
using package_entries::RefusalOf;

// A link, a junction or another reparse point: what it leads to may lie
// anywhere, and another user may have made it.
const DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

// One directory level on the way from the roots down to the directory being
// copied, on the stack of the call that copies it.
struct Level {
    DirectoryIdentity source;
    DirectoryIdentity target;
    const Level* parent;
    // Why nothing may be written into its target folder (not made, so not
    // held); ERROR_SUCCESS when it is held. Its files and folders are
    // still gone through, and each is counted as failed with this error.
    DWORD refusal;
    // Its target folder is noted and not yet made: it is made, and held by
    // `pending`, once its line and its files' lines are on the disk.
    HeldFolder* pending = nullptr;

    bool HoldsSource(const DirectoryIdentity& identity) const {
        for (const Level* level = this; level != nullptr; level = level->parent)
            if (level->source.SameAs(identity))
                return true;
        return false;
    }
    bool HoldsTarget(const DirectoryIdentity& identity) const {
        for (const Level* level = this; level != nullptr; level = level->parent)
            if (level->target.SameAs(identity))
                return true;
        return false;
    }
};

bool IsNoMatchError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND;
}

// The verdict on a file that the reporter leaves out: no Win32 error.
const DWORD kLeftOut = 0xFFFFFFFFu;

// Closes a hold that is not kept, the last error kept; false.
bool LetGo(HANDLE& hold) {
    if (hold != INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        CloseHandle(hold);
        hold = INVALID_HANDLE_VALUE;
        SetLastError(error);
    }
    return false;
}

// The name of an installed file, open as `file`, as the file system keeps
// it: the package may write it in another case ("d1.dat" for "D1.dat"),
// and the file that replaces it, or comes back in its place, keeps the
// installed one, as a copy over it would. `name` where it cannot be told.
const char* InstalledName(HANDLE file, const char* name, char* buffer, DWORD size) {
    const DWORD length = GetFinalPathNameByHandleA(file, buffer, size, 0);
    if (length == 0 || length >= size)
        return name;
    const char* last = buffer;
    for (const char* p = buffer; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/')
            last = p + 1;
        else if (IsLeadByte(*p) && p[1] != '\0')
            ++p;
    }
    return lstrcmpiA(last, name) == 0 ? last : name;
}

// A CopyFileExA progress routine whose data is a CopyWatcher: it polls, and
// cancels the copy when the user asked to stop.
DWORD CALLBACK WatchCopy(LARGE_INTEGER, LARGE_INTEGER totalBytesTransferred, LARGE_INTEGER,
                         LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE, LPVOID data) {
    const CopyWatcher* watcher = static_cast<const CopyWatcher*>(data);
    const bool stop =
        watcher->poll(watcher->context, static_cast<std::uint64_t>(totalBytesTransferred.QuadPart));
    return stop ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

class TreeCopy {
  public:
    TreeCopy(const char* pattern, const CopyReporter* reporter, UpdateTransaction& transaction,
             const CopyWatcher* progress, PackageCheck* check, std::uint32_t rootLength)
        : pattern_(pattern), reporter_(reporter), transaction_(transaction), progress_(progress),
          check_(check), rootLength_(rootLength), processId_(GetCurrentProcessId()) {}

    CopyResult& Result() { return result_; }

    // The reporter, when there is one, hears of each file and of each
    // directory that fails.
    void ReportFile(const TextString& target, DWORD error) const {
        if (reporter_ != nullptr && reporter_->file != nullptr)
            reporter_->file(reporter_->context, target, error);
    }
    void ReportDirectory(const TextString& path, CopyStep step, DWORD error) const {
        if (reporter_ != nullptr && reporter_->directory != nullptr)
            reporter_->directory(reporter_->context, path, step, error);
    }
    bool Skips(const char* name, const TextString& source) const {
        return reporter_ != nullptr && reporter_->skip != nullptr &&
               reporter_->skip(reporter_->context, name, source);
    }
    // Whether the run goes on: asked before each file.
    bool KeepsGoing() {
        if (!result_.stopped && reporter_ != nullptr && reporter_->keepGoing != nullptr &&
            !reporter_->keepGoing(reporter_->context))
            result_.stopped = true;
        if (!result_.stopped && progress_ != nullptr && progress_->stopAsked(progress_->context))
            result_.stopped = true;
        return !result_.stopped;
    }

    // The process may open no more handles, at the file `path`: no file
    // after it could be held either. The run stops here, told once, and is
    // undone; its holds are let go of first, so that the undo has handles.
    void StopOutOfHandles(const TextString& path, DWORD error) {
        transaction_.OutOfHandles();
        ReportDirectory(path, CopyStep::kHoldFiles, error);
        result_.stopped = true;
    }

    // Another run may be going, whose journal stands where ours would: its
    // staged files are not ours to remove.
    void KeepLeftovers() { keepsLeftovers_ = true; }

    // Copies the directory source into target, which exists; level holds
    // both identities.
    void CopyLevel(const TextString& source, const TextString& target, Level& level);

  private:
    void CopySubdirectory(const TextString& source, const TextString& target, const Level& parent);
    bool JudgeFiles(FolderListing& listing, const NameClashes& clashes,
                    const TextString& sourceDirectory, const TextString& targetDirectory,
                    const Level& level);
    bool MakeNotedFolder(FolderListing* listing, const TextString& source, const TextString& target,
                         Level& level, bool notesWritten);
    void RemoveLeftovers(const TextString& targetDirectory);
    HANDLE ProbeTarget(const TextString& path, bool& readOnly);

    const char* pattern_;
    const CopyReporter* reporter_;
    UpdateTransaction& transaction_;
    const CopyWatcher* progress_;
    PackageCheck* check_;
    std::uint32_t rootLength_; // of the package root with its separator
    DWORD processId_;
    bool keepsLeftovers_ = false;
    CopyResult result_;
};

void TreeCopy::CopyLevel(const TextString& source, const TextString& target, Level& level) {
    // Both directories end in a separator once per level; the paths are
    // reused for every entry and grow only for a longer name.
    TextString sourceDirectory(source), targetDirectory(target);
    sourceDirectory.EnsureTrailingSeparator();
    targetDirectory.EnsureTrailingSeparator();
    TextString sourcePath(sourceDirectory), targetPath;
    sourcePath.Append(pattern_);
    FolderListing listing;
    if (!listing.Read(sourcePath.GetText())) {
        const DWORD error = GetLastError();
        if (!IsNoMatchError(error)) {
            ++result_.failedDirectories;
            ReportDirectory(source, CopyStep::kReadPackageDirectory, error);
        } else if (level.pending != nullptr) {
            // An empty folder of the package is made all the same.
            MakeNotedFolder(nullptr, source, target, level, transaction_.WriteNotes());
        }
        return;
    }
    if (level.refusal == ERROR_SUCCESS && level.pending == nullptr)
        RemoveLeftovers(targetDirectory);
    NameClashes clashes;
    clashes.Collect(listing);
    const bool notesWritten = JudgeFiles(listing, clashes, sourceDirectory, targetDirectory, level);
    if (level.pending != nullptr && !MakeNotedFolder(&listing, source, target, level, notesWritten))
        return;

    for (FolderListing::Entry* entry = listing.Next(nullptr); entry != nullptr && !result_.stopped;
         entry = listing.Next(entry)) {
        const char* const name = entry->Name();
        sourcePath.Assign(sourceDirectory).Append(name);
        targetPath.Assign(targetDirectory).Append(name);
        if (IsProgram(name)) {
            // The program itself, never installed; the top-level one must
            // be as listed all the same.
            if (check_ != nullptr && level.parent == nullptr && !entry->IsDirectory())
                check_->Verify(sourcePath.GetText() + rootLength_, sourcePath);
        } else if (entry->IsDirectory()) {
            // Neither read nor written: no name on Windows, or one name
            // there with another entry of this directory.
            const DWORD refusal = RefusalOf(name, clashes);
            if (refusal != ERROR_SUCCESS) {
                ++result_.failedDirectories;
                ReportDirectory(targetPath, CopyStep::kMakeTargetDirectory, refusal);
            } else {
                CopySubdirectory(sourcePath, targetPath, level);
            }
        } else if (entry->verdict == kLeftOut) {
            // left out on the reporter's word
        } else if (!KeepsGoing()) {
            break;
        } else if (entry->verdict != ERROR_SUCCESS) {
            ++result_.failedFiles;
            ReportFile(targetPath, entry->verdict);
        } else {
            if (progress_ != nullptr)
                progress_->beginFile(progress_->context, targetPath, entry->Size());
            if (transaction_.StageFile(sourcePath, targetDirectory, entry->number)) {
                if (check_ != nullptr)
                    check_->Verify(sourcePath.GetText() + rootLength_, transaction_.StagedPath());
                ++result_.copied;
                ReportFile(targetPath, ERROR_SUCCESS);
            } else {
                const DWORD error = GetLastError();
                ++result_.failedFiles;
                ReportFile(targetPath, error);
                if (IsOutOfHandles(error))
                    StopOutOfHandles(targetPath, error);
            }
            if (progress_ != nullptr)
                progress_->endFile(progress_->context);
        }
        PumpMessages();
    }
    if (!result_.stopped && listing.ReadError() != ERROR_SUCCESS) {
        ++result_.failedDirectories;
        ReportDirectory(source, CopyStep::kReadPackageDirectory, listing.ReadError());
    }
}

// Decides for each file of the listing, before any is staged, whether it is
// left out, refused (the error in its verdict) or staged; those to stage are
// noted in the journal in one write (with the line of their folder, when
// the run makes it). The refusals of an overwriting copy
// come from a probe of the target, which writes nothing: a read-only target
// or a directory (ERROR_ACCESS_DENIED), a file that another program holds
// open, even one that shares reading (ERROR_SHARING_VIOLATION).
// In a folder not yet made there is nothing to probe. False (with the last
// error) when the notes could not be written.
bool TreeCopy::JudgeFiles(FolderListing& listing, const NameClashes& clashes,
                          const TextString& sourceDirectory, const TextString& targetDirectory,
                          const Level& level) {
    TextString path, installed;
    const bool inNewFolder = level.pending != nullptr;
    bool noted = inNewFolder;
    for (FolderListing::Entry* entry = listing.Next(nullptr); entry != nullptr;
         entry = listing.Next(entry)) {
        const char* const name = entry->Name();
        if (entry->IsDirectory() || IsProgram(name))
            continue;
        if (Skips(name, path.Assign(sourceDirectory).Append(name))) {
            entry->verdict = kLeftOut;
            continue;
        }
        entry->verdict = RefusalOf(name, clashes);
        if (entry->verdict == ERROR_SUCCESS)
            entry->verdict = level.refusal;
        if (entry->verdict != ERROR_SUCCESS)
            continue;
        // A file the manifest does not list is left out; one whose name is
        // installed is a product file that the manifest lost.
        if (check_ != nullptr) {
            installed.Assign(targetDirectory).Append(name);
            if (!check_->Admits(path.GetText() + rootLength_,
                                inNewFolder ? nullptr : installed.GetText())) {
                entry->verdict = kLeftOut;
                continue;
            }
        }
        path.Assign(targetDirectory).Append(name);
        bool readOnly = false;
        HANDLE hold = INVALID_HANDLE_VALUE;
        if (inNewFolder)
            SetLastError(ERROR_FILE_NOT_FOUND);
        else
            hold = ProbeTarget(path, readOnly);
        const bool replaces = hold != INVALID_HANDLE_VALUE;
        if (replaces && readOnly && reporter_ != nullptr && reporter_->readOnlyReplaced != nullptr)
            reporter_->readOnlyReplaced(reporter_->context, path);
        const char* installedName = name;
        char finalPath[2 * MAX_PATH];
        if (replaces) {
            installedName = InstalledName(hold, name, finalPath, sizeof finalPath);
        } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            entry->verdict = GetLastError();
        }
        if (entry->verdict == ERROR_SUCCESS) {
            entry->number = transaction_.NoteFile(targetDirectory, installedName, replaces);
            if (replaces)
                transaction_.KeepHold(entry->number, hold);
            noted = true;
        } else if (IsOutOfHandles(entry->verdict)) {
            const DWORD error = entry->verdict;
            entry->verdict = kLeftOut;
            ++result_.failedFiles;
            ReportFile(path, error);
            StopOutOfHandles(path, error);
            break;
        }
        // A folder of many files takes a while: the window opens when due
        // and answers meanwhile; a stop is heard before the first file.
        if (progress_ != nullptr)
            progress_->poll(progress_->context, 0);
        PumpMessages();
    }
    if (!noted || transaction_.WriteNotes())
        return true;
    const DWORD error = GetLastError();
    for (FolderListing::Entry* entry = listing.Next(nullptr); entry != nullptr;
         entry = listing.Next(entry))
        if (!entry->IsDirectory() && entry->verdict == ERROR_SUCCESS)
            entry->verdict = error;
    SetLastError(error);
    return false;
}

// Makes and holds the folder that level notes, its line and its files'
// lines being on the disk (notesWritten). One not made is counted, and
// still gone through (true), so that each of its files (in listing, when
// there is one) is counted too, and nothing is written there; one made but
// not held, or no longer what was made, is not gone through (false). The
// files noted for a folder not gone through are not the run's to undo.
bool TreeCopy::MakeNotedFolder(FolderListing* listing, const TextString& source,
                               const TextString& target, Level& level, bool notesWritten) {
    HeldFolder& held = *level.pending;
    level.pending = nullptr;
    const bool made = notesWritten && transaction_.MakeNotedDirectory(target);
    if (made && held.Hold(target.GetText())) {
        level.target = held.Identity();
        if (!level.target.SameAs(level.source) && !level.parent->HoldsSource(level.target))
            return true;
        transaction_.ForgetNotedFiles();
        ++result_.failedDirectories;
        ReportDirectory(source, CopyStep::kEnterPackageDirectory, ERROR_SUCCESS);
        return false;
    }
    const DWORD error = GetLastError();
    transaction_.ForgetNotedFiles();
    ++result_.failedDirectories;
    ReportDirectory(target, CopyStep::kMakeTargetDirectory, error);
    if (made)
        return false;
    level.refusal = ERROR_PATH_NOT_FOUND;
    for (FolderListing::Entry* entry = listing != nullptr ? listing->Next(nullptr) : nullptr;
         entry != nullptr; entry = listing->Next(entry))
        if (!entry->IsDirectory() && entry->verdict == ERROR_SUCCESS)
            entry->verdict = ERROR_PATH_NOT_FOUND;
    return true;
}

// Holds an installed file for the run (file_holds.h), then opens it for
// writing, sharing only deletion, and closes that at once: the hold fails
// while another program has it open without sharing deletion (32), the
// probe while one has it open at all (32), even sharing reading and
// deletion, or runs it, and either for a folder in its place (5). Nothing
// is written. A read-only file is probed with its attribute cleared, which
// is put back at once: it is replaced like any other (readOnly tells it),
// and its backup keeps the attribute. A holder of a moment (a scanner) is
// waited out. The hold, kept to the end of the run; INVALID_HANDLE_VALUE
// with the last error when it fails; ERROR_FILE_NOT_FOUND: there is none.
HANDLE TreeCopy::ProbeTarget(const TextString& path, bool& readOnly) {
    HANDLE hold = INVALID_HANDLE_VALUE;
    bool final = false;
    const auto open = [&] {
        HANDLE probe = INVALID_HANDLE_VALUE;
        hold = OpenHold(path.GetText());
        if (hold != INVALID_HANDLE_VALUE)
            probe = CreateFileA(path.GetText(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);
            return true;
        }
        if (GetLastError() != ERROR_ACCESS_DENIED) {
            final = IsOutOfHandles(GetLastError());
            return LetGo(hold);
        }
        const DWORD attributes = GetFileAttributesA(path.GetText());
        final = attributes == INVALID_FILE_ATTRIBUTES || (attributes & kNotPlain) != 0;
        // With no attribute left, NORMAL says so (0 would change nothing).
        const DWORD cleared = attributes & ~FILE_ATTRIBUTE_READONLY;
        if (!final && hold != INVALID_HANDLE_VALUE && (attributes & FILE_ATTRIBUTE_READONLY) &&
            SetFileAttributesA(path.GetText(), cleared != 0 ? cleared : FILE_ATTRIBUTE_NORMAL)) {
            probe = CreateFileA(path.GetText(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
            const DWORD error = GetLastError();
            SetFileAttributesA(path.GetText(), attributes);
            readOnly = probe != INVALID_HANDLE_VALUE;
            if (readOnly)
                CloseHandle(probe);
            SetLastError(error);
        }
        if (readOnly)
            return true;
        SetLastError(ERROR_ACCESS_DENIED);
        return LetGo(hold);
    };
    if (!transaction_.Retries().Run(path, open, &final))
        return INVALID_HANDLE_VALUE;
    return hold;
}

// What is skipped here and why:
// - a link back to a package directory being copied: its files are
//   installed where that directory is; no failure;
// - a directory being written (the installation, or one of its directories
//   on the way down): read as package content, it would feed itself; a
//   failure, as the package content behind it is not installed;
// - a target that is the source itself, or a package directory being read:
//   writing there would change the package; a failure.
void TreeCopy::CopySubdirectory(const TextString& source, const TextString& target,
                                const Level& parent) {
    Level level{IdentifyDirectory(source.GetText()), DirectoryIdentity(), &parent, ERROR_SUCCESS};
    if (parent.HoldsSource(level.source))
        return;
    if (parent.HoldsTarget(level.source)) {
        ++result_.failedDirectories;
        ReportDirectory(source, CopyStep::kEnterPackageDirectory, ERROR_SUCCESS);
        return;
    }
    // A directory of the installation that is a link, a junction or another
    // reparse point is never entered: nothing below it is written.
    const DWORD existing = GetFileAttributesA(target.GetText());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ++result_.failedDirectories;
        ReportDirectory(target, CopyStep::kMakeTargetDirectory, ERROR_CANT_ACCESS_FILE);
        return;
    }
    // Held while its files are staged, so that nobody can swap it for a
    // link meanwhile; one that is a link by now is not entered either. One
    // that is not there is noted here and made by CopyLevel.
    HeldFolder held;
    const bool isFolder =
        existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (parent.refusal == ERROR_SUCCESS && existing == INVALID_FILE_ATTRIBUTES) {
        transaction_.NoteDirectory(target);
        level.pending = &held;
    } else if (isFolder && parent.refusal == ERROR_SUCCESS && held.Hold(target.GetText())) {
        level.target = held.Identity();
        if (level.target.SameAs(level.source) || parent.HoldsSource(level.target)) {
            ++result_.failedDirectories;
            ReportDirectory(source, CopyStep::kEnterPackageDirectory, ERROR_SUCCESS);
            return;
        }
    } else {
        // Not there as a folder: counted, and still gone through, so that
        // each of its files is counted too; nothing is written there. One
        // that is there but cannot be held is not gone through.
        DWORD error = ERROR_PATH_NOT_FOUND;
        if (parent.refusal == ERROR_SUCCESS)
            error = isFolder ? GetLastError() : ERROR_ALREADY_EXISTS;
        level.refusal = ERROR_PATH_NOT_FOUND; // what each of its files then meets
        ++result_.failedDirectories;
        ReportDirectory(target, CopyStep::kMakeTargetDirectory, error);
        if (isFolder && parent.refusal == ERROR_SUCCESS)
            return;
    }
    CopyLevel(source, target, level);
    transaction_.LeaveFolder();
}

// Removes the staged files of runs that were stopped before they could
// rename or remove them (they may be read-only); plain files only, never a
// link of that name. The journal of such a run has normally undone them
// already. A run still going keeps the file it is writing, which is held
// open and cannot be deleted; one it has written and not yet put in place
// it loses, and fails. Either way no installed file is touched.
void TreeCopy::RemoveLeftovers(const TextString& targetDirectory) {
    if (keepsLeftovers_)
        return;
    TextString path(targetDirectory);
    path.Append(work_names::kTemporaryPattern);
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(path.GetText(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((entry.dwFileAttributes & kNotPlain) == 0 &&
            work_names::IsLeftoverTemporary(entry.cFileName, processId_))
            work_names::RemoveWorkFile(path.Assign(targetDirectory).Append(entry.cFileName));
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

// The package check's verdict, taken once the staged files are flushed.
struct Settling {
    PackageCheck* check;
    CopyResult* result;
};

bool Settle(void* context) {
    Settling& settling = *static_cast<Settling*>(context);
    const std::uint32_t damaged = settling.check->Settle(!settling.result->stopped);
    settling.result->failedFiles += damaged;
    settling.result->damagedFiles += damaged;
    return damaged == 0;
}

} // namespace

CopyResult CopyTree(const TextString& source, const TextString& target, const char* pattern,
                    const CopyReporter* reporter, CopyWatcher* progress, PackageCheck* check) {
    // The installation itself is held for the whole copy; it is the
    // administrator's choice, link or not.
    HeldFolder installation;
    installation.Hold(target.GetText(), true);
    UpdateTransaction transaction(target, reporter);
    // The window keeps answering during a large file, and a stop aborts it
    // there (ERROR_REQUEST_ABORTED).
    if (progress != nullptr)
        transaction.SetCopyProgress(WatchCopy, progress);
    // Waits while staging answer a cancel; those of the commit do not.
    transaction.Retries().SetProgress(progress);
    TextString sourceRoot(source);
    TreeCopy copy(pattern, reporter, transaction, progress, check,
                  sourceRoot.EnsureTrailingSeparator().GetLength());
    CopyResult& result = copy.Result();
    if (!transaction.Begin()) {
        // Staged all the same, so that every file tells whether it could
        // be; but never put in place.
        copy.KeepLeftovers();
        ++result.failedDirectories;
        TextString journal(target);
        journal.EnsureTrailingSeparator().Append(work_names::kJournal);
        copy.ReportDirectory(journal, CopyStep::kWriteJournal, GetLastError());
    }
    Level root{IdentifyDirectory(source.GetText()), IdentifyDirectory(target.GetText()), nullptr,
               ERROR_SUCCESS};
    if (root.source.SameAs(root.target)) {
        // The package is the installation: nothing to copy from or to.
        ++result.failedDirectories;
        copy.ReportDirectory(source, CopyStep::kEnterPackageDirectory, ERROR_SUCCESS);
    } else {
        copy.CopyLevel(source, target, root);
    }
    // A cancel heard up to here stops the run before its commit; one that
    // comes later is not heard, and the commit goes on.
    copy.KeepsGoing();
    transaction.Retries().SetProgress(nullptr);
    Settling settling{check, &result};
    if (check != nullptr)
        transaction.SetStagedCheck(Settle, &settling);
    result.state = transaction.Finish(result.Failures() == 0 && !result.stopped);
    result.failedFiles += transaction.FilesFailedInCommit();
    result.failedDirectories += transaction.JournalFailures();
    if (result.state != InstallState::kInstalled)
        result.copied = 0;
    return result;
}
