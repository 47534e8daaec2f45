#include "copy_tree.h"

#include "directory_identity.h"
#include "entry_name.h"
#include "name_clashes.h"
#include "platform/win32_api.h"
#include "pump_messages.h"
#include "update_texts.h"

namespace {

// A file is written under a temporary name in its target directory and then
// takes the old file's place in one rename, so that the installed file is
// at every moment either the old one or the new one, whole. The name starts
// with a dot, which no package file copied can have, and carries the
// process id, so that two runs at once never write or rename each other's
// files: ".Update-<8 hex digits>.tmp".
const char kTemporaryPrefix[] = ".Update-";
const char kTemporarySuffix[] = ".tmp";
const char kTemporaryPattern[] = ".Update-*.tmp";
const unsigned kTemporaryDigits = 8;

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Exactly the names that kTemporaryPrefix, the digits and kTemporarySuffix
// make, and no other file that happens to match the search pattern.
bool IsTemporaryName(const char* name) {
    for (const char* p = kTemporaryPrefix; *p != '\0'; ++p, ++name)
        if (*name != *p)
            return false;
    for (unsigned i = 0; i < kTemporaryDigits; ++i, ++name)
        if (!IsHexDigit(*name))
            return false;
    return lstrcmpiA(name, kTemporarySuffix) == 0;
}

// A link, a junction or another reparse point: what it leads to may lie
// anywhere, and another user may have made it.
const DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

// A temporary file may carry the read-only attribute of its source. Only a
// plain file is touched: an attribute change on a link would change what it
// leads to.
void RemoveTemporaryFile(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kNotPlain) != 0)
        return;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
}

// One directory level on the way from the roots down to the directory being
// copied, on the stack of the call that copies it.
struct Level {
    DirectoryIdentity source;
    DirectoryIdentity target;
    const Level* parent;

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

// A directory is there after the call: made now, or one already. When not,
// the last error tells why.
bool MakeDirectory(const TextString& path) {
    if (CreateDirectoryA(path.GetText(), nullptr))
        return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    // Windows says "already exists" for a file of that name, too.
    const DWORD attributes = GetFileAttributesA(path.GetText());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
}

class TreeCopy {
  public:
    TreeCopy(const char* pattern, const CopyReporter* reporter, CopyProgress* progress)
        : pattern_(pattern), reporter_(reporter), progress_(progress), failures_(0) {
        temporaryName_.Format("%s%08lX%s", kTemporaryPrefix,
                              static_cast<unsigned long>(GetCurrentProcessId()), kTemporarySuffix);
    }

    std::uint32_t Failures() const { return failures_; }
    void CountFailure() { ++failures_; }

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
    bool Stopped() const { return progress_ != nullptr && progress_->CancelAsked(); }
    bool Skips(const char* name, const TextString& source) const {
        return reporter_ != nullptr && reporter_->skip != nullptr &&
               reporter_->skip(reporter_->context, name, source);
    }

    // Copies the directory source into target, which exists; level holds
    // both identities.
    int CopyLevel(const TextString& source, const TextString& target, const Level& level);

  private:
    int CopySubdirectory(const TextString& source, const TextString& target, const Level& parent);
    bool ReplaceFile(const TextString& source, const TextString& target,
                     const TextString& temporary);
    void RemoveLeftovers(const TextString& targetDirectory);

    const char* pattern_;
    const CopyReporter* reporter_;
    CopyProgress* progress_;
    TextString temporaryName_;
    std::uint32_t failures_;
};

int TreeCopy::CopyLevel(const TextString& source, const TextString& target, const Level& level) {
    // Both directories end in a separator once per level; the paths are
    // reused for every entry and grow only for a longer name.
    TextString sourceDirectory(source), targetDirectory(target);
    sourceDirectory.EnsureTrailingSeparator();
    targetDirectory.EnsureTrailingSeparator();
    TextString temporaryPath(targetDirectory);
    temporaryPath.Append(temporaryName_);
    TextString sourcePath(sourceDirectory), targetPath;
    sourcePath.Append(pattern_);
    NameClashes clashes;
    clashes.Collect(sourcePath.GetText());

    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(sourcePath.GetText(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (!IsNoMatchError(error)) {
            ++failures_;
            ReportDirectory(source, CopyStep::kReadPackageDirectory, error);
        }
        return 0;
    }
    RemoveLeftovers(targetDirectory);

    int count = 0;
    do {
        const char* const name = entry.cFileName;
        if (name[0] == '.')
            continue;
        if (lstrcmpiA(name, update_texts::kOwnFileName) != 0) {
            const bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            sourcePath.Assign(sourceDirectory).Append(name);
            targetPath.Assign(targetDirectory).Append(name);
            // Neither read nor written: no name on Windows, or one name there
            // with another entry of this directory.
            const DWORD refusal = !IsWindowsFileName(name) ? ERROR_INVALID_NAME
                                  : clashes.Holds(name)    ? ERROR_ALREADY_EXISTS
                                                           : ERROR_SUCCESS;
            if (refusal != ERROR_SUCCESS) {
                ++failures_;
                if (isDirectory)
                    ReportDirectory(targetPath, CopyStep::kMakeTargetDirectory, refusal);
                else
                    ReportFile(targetPath, refusal);
            } else if (isDirectory) {
                count += CopySubdirectory(sourcePath, targetPath, level);
            } else if (Skips(name, sourcePath)) {
                // left out on the reporter's word
            } else {
                if (progress_ != nullptr)
                    progress_->BeginFile(targetPath,
                                         (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) |
                                             entry.nFileSizeLow);
                if (ReplaceFile(sourcePath, targetPath, temporaryPath)) {
                    ++count;
                    ReportFile(targetPath, ERROR_SUCCESS);
                } else {
                    ++failures_;
                    ReportFile(targetPath, GetLastError());
                }
                if (progress_ != nullptr)
                    progress_->EndFile();
            }
        }
        PumpMessages();
        // Asked to stop: no further file is begun.
        if (Stopped())
            break;
    } while (FindNextFileA(search, &entry));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES && !Stopped()) {
        ++failures_;
        ReportDirectory(source, CopyStep::kReadPackageDirectory, error);
    }
    FindClose(search);
    return count;
}

// What is skipped here and why:
// - a link back to a package directory being copied: its files are
//   installed where that directory is; no failure;
// - a directory being written (the installation, or one of its directories
//   on the way down): read as package content, it would feed itself; a
//   failure, as the package content behind it is not installed;
// - a target that is the source itself, or a package directory being read:
//   writing there would change the package; a failure.
int TreeCopy::CopySubdirectory(const TextString& source, const TextString& target,
                               const Level& parent) {
    Level level{IdentifyDirectory(source.GetText()), DirectoryIdentity(), &parent};
    if (parent.HoldsSource(level.source))
        return 0;
    if (parent.HoldsTarget(level.source)) {
        ++failures_;
        ReportDirectory(source, CopyStep::kEnterPackageDirectory, ERROR_SUCCESS);
        return 0;
    }
    // A directory of the installation that is a link, a junction or another
    // reparse point is never entered: nothing below it is written.
    const DWORD existing = GetFileAttributesA(target.GetText());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ++failures_;
        ReportDirectory(target, CopyStep::kMakeTargetDirectory, ERROR_CANT_ACCESS_FILE);
        return 0;
    }
    if (MakeDirectory(target)) {
        level.target = IdentifyDirectory(target.GetText());
        if (level.target.SameAs(level.source) || parent.HoldsSource(level.target)) {
            ++failures_;
            ReportDirectory(source, CopyStep::kEnterPackageDirectory, ERROR_SUCCESS);
            return 0;
        }
    } else {
        // Not made: counted, and still entered, so that each of its files
        // is tried and counted too.
        ++failures_;
        ReportDirectory(target, CopyStep::kMakeTargetDirectory, GetLastError());
    }
    return CopyLevel(source, target, level);
}

// Replaces target by a copy of source, or leaves it as it was; on failure
// the last error tells why.
bool TreeCopy::ReplaceFile(const TextString& source, const TextString& target,
                           const TextString& temporary) {
    // The refusals of an overwriting copy come first, before anything is
    // written: a read-only target, a directory, a file that another program
    // holds open (ERROR_SHARING_VIOLATION). Nothing is written by the probe.
    HANDLE probe =
        CreateFileA(target.GetText(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE)
        CloseHandle(probe);
    else if (GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;

    // A new file only: no other file is ever written into. It takes the
    // source's attributes and last-write time, which the rename keeps. A
    // file of that name is ours (it carries our process id): one whose
    // removal failed earlier, or one of a stopped run that had our id.
    // With a progress routine the window keeps answering during a large
    // file, and a cancel ends the copy there (ERROR_REQUEST_ABORTED).
    const LPPROGRESS_ROUTINE routine = progress_ != nullptr ? CopyProgress::Routine : nullptr;
    BOOL copied = CopyFileExA(source.GetText(), temporary.GetText(), routine, progress_, nullptr,
                              COPY_FILE_FAIL_IF_EXISTS);
    if (!copied && GetLastError() == ERROR_FILE_EXISTS) {
        RemoveTemporaryFile(temporary.GetText());
        copied = CopyFileExA(source.GetText(), temporary.GetText(), routine, progress_, nullptr,
                             COPY_FILE_FAIL_IF_EXISTS);
    }
    if (!copied) {
        const DWORD error = GetLastError();
        RemoveTemporaryFile(temporary.GetText());
        SetLastError(error);
        return false;
    }
    if (!MoveFileExA(temporary.GetText(), target.GetText(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        RemoveTemporaryFile(temporary.GetText());
        SetLastError(error);
        return false;
    }
    return true;
}

// Removes the temporary files of runs that were stopped before they could
// rename or remove them (they may be read-only); plain files only, never a
// link of that name. A run still going keeps the file it is writing, which
// is held open and cannot be deleted; one it has written and not yet renamed
// it loses, and counts that file as not copied. Either way no installed file
// is touched.
void TreeCopy::RemoveLeftovers(const TextString& targetDirectory) {
    TextString path(targetDirectory);
    path.Append(kTemporaryPattern);
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(path.GetText(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((entry.dwFileAttributes & kNotPlain) == 0 && IsTemporaryName(entry.cFileName))
            RemoveTemporaryFile(path.Assign(targetDirectory).Append(entry.cFileName).GetText());
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

} // namespace

int CopyTree(const TextString& source, const TextString& target, const char* pattern,
             std::uint32_t* failures, const CopyReporter* reporter, CopyProgress* progress) {
    TreeCopy copy(pattern, reporter, progress);
    const Level root{IdentifyDirectory(source.GetText()), IdentifyDirectory(target.GetText()),
                     nullptr};
    int count = 0;
    if (root.source.SameAs(root.target)) {
        // The package is the installation: nothing to copy from or to.
        copy.CountFailure();
        copy.ReportDirectory(source, CopyStep::kEnterPackageDirectory, ERROR_SUCCESS);
    } else {
        count = copy.CopyLevel(source, target, root);
    }
    if (failures != nullptr)
        *failures = copy.Failures();
    return count;
}
