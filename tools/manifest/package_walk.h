// The files of a package that an update installs, found by the rules that
// Update.exe walks by (package_entries.h), and the top-level Update.exe.
#pragma once

#include "platform/win32_api.h"
#include "text_string.h"

class PackageVisitor {
  public:
    // A file: its path, and its path below the package top with names
    // joined by '\'.
    virtual void File(const TextString& path, const char* relative) = 0;
    // An entry the update refuses (a name Windows cannot hold, two names
    // that are one there) or a folder that cannot be read, with the error.
    virtual void Refused(const TextString& path, DWORD error) = 0;

  protected:
    ~PackageVisitor() = default;
};

// Visits the package below root, folder by folder in the order listed. A
// link back to a folder being walked is not entered, as the copy does not.
void WalkPackage(const TextString& root, PackageVisitor& visitor);
