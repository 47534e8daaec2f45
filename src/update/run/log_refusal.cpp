#include "log_refusal.h"

#include "directory_identity.h"
#include "update_texts.h"

namespace {

// More folders than any path of at most MAX_PATH characters can hold.
const int kMaxDepth = MAX_PATH / 2;

// The number of names an existing file has (0 where it cannot be told):
// a file of the installation may have another name anywhere on its volume.
DWORD NamesOf(const char* path) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION information;
    const BOOL known = GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    return known ? information.nNumberOfLinks : 0;
}

bool SameFile(const char* first, const char* second) {
    BY_HANDLE_FILE_INFORMATION information[2];
    const char* paths[2] = {first, second};
    for (int i = 0; i < 2; ++i) {
        // Access 0 and full sharing: the open changes nothing and no share
        // mode refuses it.
        HANDLE handle =
            CreateFileA(paths[i], 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return false;
        const BOOL known = GetFileInformationByHandle(handle, &information[i]);
        CloseHandle(handle);
        if (!known)
            return false;
    }
    return IdentityFromInformation(information[0]).SameAs(IdentityFromInformation(information[1]));
}

// Whether `folder` is `ancestor` or lies below it: its own identity, then
// that of "..", "..\..", and so on until the root, which is its own parent.
bool LiesIn(const TextString& folder, const DirectoryIdentity& ancestor) {
    if (!ancestor.known)
        return false;
    TextString path(folder);
    DirectoryIdentity previous;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        const DirectoryIdentity identity = IdentifyDirectory(path.GetText());
        if (!identity.known || identity.SameAs(previous))
            return false;
        if (identity.SameAs(ancestor))
            return true;
        previous = identity;
        path.EnsureTrailingSeparator().Append("..");
    }
    return false;
}

} // namespace

const char* LogRefusal(const TextString& logPath, const TextString* package,
                       const TextString* installation, const TextString* executable) {
    using namespace update_texts;
    if (executable != nullptr && SameFile(logPath.GetText(), executable->GetText()))
        return kLogRefusedProduct;
    // Emptied, a file of several names would be emptied under each of them.
    if (NamesOf(logPath.GetText()) > 1)
        return kLogRefusedHardLink;
    TextString path(logPath), drive, folder;
    path.SplitPath(&drive, &folder, nullptr, nullptr);
    drive.Append(folder);
    if (drive.GetLength() == 0)
        drive.Assign(".");
    if (installation != nullptr && LiesIn(drive, IdentifyDirectory(installation->GetText())))
        return kLogRefusedInstallation;
    const bool exists = GetFileAttributesA(logPath.GetText()) != INVALID_FILE_ATTRIBUTES;
    if (exists && package != nullptr && LiesIn(drive, IdentifyDirectory(package->GetText())))
        return kLogRefusedPackage;
    return nullptr;
}
