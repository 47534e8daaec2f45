// The names the update run gives its own files in the installation. Each
// starts with a dot, which the copy never takes from a package, and the
// staged and backup names carry the process id and the number of the file
// in its run, so that no two files of a run, nor of two runs, meet:
// - ".Update-<process id>-<number>.tmp": a file staged beside its target;
// - ".Update-<process id>-<number>.old": an installed file kept until the
//   whole package is in;
// - ".Update.journal": what a run is changing (update_journal.h);
// - ".Update-<process id>.tmp": what runs of earlier versions staged.
// Every id and number is 8 hexadecimal digits.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"
#include "text_string.h"

namespace work_names {

inline constexpr const char kJournal[] = ".Update.journal";
inline constexpr const char kTemporaryPattern[] = ".Update-*.tmp";

void AppendStaged(TextString& path, DWORD processId, std::uint32_t number);
void AppendBackup(TextString& path, DWORD processId, std::uint32_t number);

// Whether name is exactly a staged name (or one of an earlier version) of
// a run other than ownProcessId's: a leftover that may be removed. No name
// that only begins or ends like one matches.
bool IsLeftoverTemporary(const char* name, DWORD ownProcessId);

// Whether name is exactly a backup name of any run.
bool IsBackup(const char* name);

// Removes a file of these names (staged, backup or leftover), which may
// carry the read-only attribute of its source; true when it is gone (or was
// not there). The attribute is cleared only on the file itself, never
// through a link; a link of that name is removed itself.
bool RemoveWorkFile(const TextString& path);

} // namespace work_names
