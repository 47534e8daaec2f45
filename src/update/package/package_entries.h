// Which entries of a package folder an update installs: the rules that the
// copy (copy_tree.h) and the manifest tool walk by, so that the tool lists
// exactly what a run would install.
// - Names beginning with a dot are never listed (FolderListing leaves them
//   out): the run's own files, the manifest, a vendor's hidden files.
// - An entry named Update.exe, in any case and at any depth, is the
//   program and is never installed.
// - A name that Windows cannot hold, or that is one name on Windows with
//   another entry of its folder, is refused: the run fails with it.
#pragma once

#include "name_clashes.h"
#include "platform/win32_api.h"

namespace package_entries {

// Whether the entry is the update program itself.
bool IsProgram(const char* name);

// Why an entry is neither read nor written (ERROR_INVALID_NAME: no name on
// Windows; ERROR_ALREADY_EXISTS: one name there with another entry of its
// folder); ERROR_SUCCESS when it is neither.
DWORD RefusalOf(const char* name, const NameClashes& clashes);

} // namespace package_entries
