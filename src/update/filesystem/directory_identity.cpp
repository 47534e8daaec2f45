#include "directory_identity.h"

DirectoryIdentity IdentityFromInformation(const BY_HANDLE_FILE_INFORMATION& information) {
    DirectoryIdentity identity;
    identity.volume = information.dwVolumeSerialNumber;
    identity.indexHigh = information.nFileIndexHigh;
    identity.indexLow = information.nFileIndexLow;
    const bool none = identity.indexHigh == 0 && identity.indexLow == 0;
    const bool unestablished = identity.indexHigh == 0xFFFFFFFF && identity.indexLow == 0xFFFFFFFF;
    identity.known = !none && !unestablished;
    return identity;
}
