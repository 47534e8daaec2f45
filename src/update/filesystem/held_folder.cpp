#include "held_folder.h"
#include "lead_bytes.h"

bool HeldFolder::Hold(const char* path, bool followLink) {
    Release();
    // Listing access gives the handle its share mode; without delete
    // sharing nobody may rename or remove the folder while it is open.
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle = CreateFileA(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information)) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        SetLastError(error);
        return false;
    }
    const DWORD attributes = information.dwFileAttributes;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(handle);
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return false;
    }
    handle_ = handle;
    identity_ = IdentityFromInformation(information);
    return true;
}

void HeldFolder::Release() {
    if (handle_ != INVALID_HANDLE_VALUE)
        CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    identity_ = DirectoryIdentity();
}

std::uint32_t FolderPartLength(const char* relative) {
    std::uint32_t length = 0;
    for (const char* p = relative; *p != '\0'; ++p) {
        if (*p == '\\')
            length = static_cast<std::uint32_t>(p - relative) + 1;
        else if (IsLeadByte(*p) && p[1] != '\0')
            ++p;
    }
    return length;
}

bool FolderChain::HoldFolderOf(const char* relative) {
    const std::uint32_t wanted = FolderPartLength(relative);
    // Keep the folders that the new path shares, part by part.
    std::uint32_t kept = 0, keptLength = 0;
    const char* held = held_.GetText();
    for (std::uint32_t at = 0; at < held_.GetLength() && at < wanted; ++at) {
        if (held[at] != relative[at])
            break;
        if (held[at] == '\\') {
            ++kept;
            keptLength = at + 1;
        } else if (IsLeadByte(held[at]) && at + 1 < wanted && held[at + 1] == relative[at + 1]) {
            ++at; // a trail byte is no separator
        }
    }
    for (std::uint32_t i = kept; i < depth_; ++i)
        folders_[i].Release();
    depth_ = kept;
    held_.Assign(keptLength, relative);
    for (std::uint32_t at = keptLength; at < wanted; ++at) {
        if (IsLeadByte(relative[at]) && at + 1 < wanted) {
            ++at;
            continue;
        }
        if (relative[at] != '\\')
            continue;
        if (depth_ == kMaxDepth) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        path_.Assign(root_).Append(at, relative);
        if (!folders_[depth_].Hold(path_.GetText()))
            return false;
        ++depth_;
        held_.Assign(at + 1, relative);
    }
    return true;
}

void FolderChain::Release() {
    for (std::uint32_t i = 0; i < depth_; ++i)
        folders_[i].Release();
    depth_ = 0;
    held_.Assign("");
}
