#include "directory_identity.h"

DirectoryIdentity IdentifyDirectory(const char* path) {
    // Directories open only with backup semantics; access 0 and full
    // sharing disturb nobody.
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return DirectoryIdentity();
    BY_HANDLE_FILE_INFORMATION information;
    DirectoryIdentity identity;
    if (GetFileInformationByHandle(handle, &information))
        identity = IdentityFromInformation(information);
    CloseHandle(handle);
    return identity;
}
