// Folders of the installation held open while the run works in them.
//
// A handle to a folder that does not share deleting keeps that folder from
// being renamed, removed or replaced (by a link, say) for as long as it is
// open: a rename or a removal needs delete access to the folder itself,
// which Windows refuses while such a handle is open. So every path below a
// held folder leads through the very folder that was checked, and a check
// made on the handle (a plain folder, no link, junction or other reparse
// point) stays true until it is closed. Files in the folder, and other
// folders in it, are made, renamed and removed as usual: the handle shares
// reading and writing, and asks for nothing but the listing of the folder.
#pragma once

#include <cstdint>

#include "directory_identity.h"
#include "platform/win32_api.h"
#include "text_string.h"

class HeldFolder {
  public:
    HeldFolder() = default;
    ~HeldFolder() { Release(); }
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    // Holds the folder at path. followLink: it may be reached through a
    // link (the installation folder is the administrator's choice);
    // otherwise a link, junction or other reparse point is not held and
    // fails with ERROR_CANT_ACCESS_FILE, as does a file. False with the
    // last error when it is not held.
    bool Hold(const char* path, bool followLink = false);
    void Release();
    bool IsHeld() const { return handle_ != INVALID_HANDLE_VALUE; }
    // Which folder is held, as the check on its handle found it.
    const DirectoryIdentity& Identity() const { return identity_; }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DirectoryIdentity identity_;
};

// The folders from a root down to the folder of a path below it, held, so
// that a step on that path acts where the check was made. Consecutive paths
// of one folder, or of folders that share a start, open only what differs.
// The root itself is held by whoever passes it in.
class FolderChain {
  public:
    // root ends in a separator.
    explicit FolderChain(const TextString& root) : root_(root) {}
    FolderChain(const FolderChain&) = delete;
    FolderChain& operator=(const FolderChain&) = delete;

    // Holds every folder on the way to the last part of `relative` (parts
    // joined by '\', relative to the root), not that part itself. False
    // with the last error when one of them cannot be held; what was held
    // on the way stays held.
    bool HoldFolderOf(const char* relative);
    // Lets go of every folder held.
    void Release();

  private:
    // No path of at most MAX_PATH characters has more folders.
    static const std::uint32_t kMaxDepth = MAX_PATH / 2 + 1;

    TextString root_;
    TextString held_;         // the folders held, relative, each ending in '\'
    std::uint32_t depth_ = 0; // how many
    HeldFolder folders_[kMaxDepth];
    TextString path_;
};

// The length of the folder part of a relative path, its last separator
// included (0 for a name in the root); a trail byte is never taken for one.
std::uint32_t FolderPartLength(const char* relative);
