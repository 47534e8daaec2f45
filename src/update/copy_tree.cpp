#include "copy_tree.h"

#include "directory_identity.h"
#include "platform/win32_api.h"
#include "pump_messages.h"
#include "update_texts.h"

namespace {

// The directories from the target root down to the one being copied, each
// level on the stack of the call that copies it.
struct VisitedDirectory {
    DirectoryIdentity identity;
    const VisitedDirectory* parent;

    bool Holds(const DirectoryIdentity& other) const {
        for (const VisitedDirectory* d = this; d != nullptr; d = d->parent)
            if (d->identity.SameAs(other))
                return true;
        return false;
    }
};

bool IsNoMatchError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND;
}

void ReportFile(const CopyReporter* reporter, const TextString& target, DWORD error) {
    if (reporter != nullptr && reporter->file != nullptr)
        reporter->file(reporter->context, target, error);
}

void ReportDirectory(const CopyReporter* reporter, const TextString& path, CopyStep step,
                     DWORD error) {
    if (reporter != nullptr && reporter->directory != nullptr)
        reporter->directory(reporter->context, path, step, error);
}

bool Skips(const CopyReporter* reporter, const char* name, const TextString& source) {
    return reporter != nullptr && reporter->skip != nullptr &&
           reporter->skip(reporter->context, name, source);
}

// A target directory that could not be made is reported unless it is there
// already: a file in its way fails with the same error as a directory.
void ReportUnlessDirectory(const CopyReporter* reporter, const TextString& target, DWORD error) {
    if (reporter == nullptr)
        return;
    const DWORD attributes = GetFileAttributesA(target.GetText());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        ReportDirectory(reporter, target, CopyStep::kMakeTargetDirectory, error);
}

int CopyLevel(const TextString& source, const TextString& target, const char* pattern,
              const VisitedDirectory& visited, std::uint32_t& failures,
              const CopyReporter* reporter) {
    // Both directories end in a separator once per level; the two paths are
    // reused for every entry and grow only for a longer name.
    TextString sourceDirectory(source), targetDirectory(target);
    sourceDirectory.EnsureTrailingSeparator();
    targetDirectory.EnsureTrailingSeparator();
    TextString sourcePath(sourceDirectory), targetPath;
    sourcePath.Append(pattern);

    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(sourcePath.GetText(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (!IsNoMatchError(error)) {
            ++failures;
            ReportDirectory(reporter, source, CopyStep::kReadPackageDirectory, error);
        }
        return 0;
    }

    int count = 0;
    do {
        if (entry.cFileName[0] == '.')
            continue;
        if (lstrcmpiA(entry.cFileName, update_texts::kOwnFileName) != 0) {
            sourcePath.Assign(sourceDirectory).Append(entry.cFileName);
            targetPath.Assign(targetDirectory).Append(entry.cFileName);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                const VisitedDirectory level{IdentifyDirectory(sourcePath.GetText()), &visited};
                if (!visited.Holds(level.identity)) {
                    if (!CreateDirectoryA(targetPath.GetText(), nullptr))
                        ReportUnlessDirectory(reporter, targetPath, GetLastError());
                    count += CopyLevel(sourcePath, targetPath, pattern, level, failures, reporter);
                }
            } else if (Skips(reporter, entry.cFileName, sourcePath)) {
                // left out on the reporter's word
            } else if (CopyFileA(sourcePath.GetText(), targetPath.GetText(), FALSE)) {
                ++count;
                ReportFile(reporter, targetPath, ERROR_SUCCESS);
            } else {
                ++failures;
                ReportFile(reporter, targetPath, GetLastError());
            }
        }
        PumpMessages();
    } while (FindNextFileA(search, &entry));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        ++failures;
        ReportDirectory(reporter, source, CopyStep::kReadPackageDirectory, error);
    }
    FindClose(search);
    return count;
}

} // namespace

int CopyTree(const TextString& source, const TextString& target, const char* pattern,
             std::uint32_t* failures, const CopyReporter* reporter) {
    const VisitedDirectory targetRoot{IdentifyDirectory(target.GetText()), nullptr};
    const VisitedDirectory sourceRoot{IdentifyDirectory(source.GetText()), &targetRoot};
    std::uint32_t failed = 0;
    const int count = CopyLevel(source, target, pattern, sourceRoot, failed, reporter);
    if (failures != nullptr)
        *failures = failed;
    return count;
}
