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

int CopyLevel(const TextString& source, const TextString& target, const char* pattern,
              const VisitedDirectory& visited, std::uint32_t& failures) {
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
        if (!IsNoMatchError(GetLastError()))
            ++failures;
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
                    CreateDirectoryA(targetPath.GetText(), nullptr);
                    count += CopyLevel(sourcePath, targetPath, pattern, level, failures);
                }
            } else if (CopyFileA(sourcePath.GetText(), targetPath.GetText(), FALSE)) {
                ++count;
            } else {
                ++failures;
            }
        }
        PumpMessages();
    } while (FindNextFileA(search, &entry));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        ++failures;
    FindClose(search);
    return count;
}

} // namespace

int CopyTree(const TextString& source, const TextString& target, const char* pattern,
             std::uint32_t* failures) {
    const VisitedDirectory targetRoot{IdentifyDirectory(target.GetText()), nullptr};
    const VisitedDirectory sourceRoot{IdentifyDirectory(source.GetText()), &targetRoot};
    std::uint32_t failed = 0;
    const int count = CopyLevel(source, target, pattern, sourceRoot, failed);
    if (failures != nullptr)
        *failures = failed;
    return count;
}
