#pragma once

#include "text_string.h"

// Why the log the user named may not be written, or null when it may. The
// log is made or emptied when it is opened, so it may not be:
// - the product's executable (`executable`, when the installation was
//   found), by file identity: the same file under any name;
// - a file in the installation directory or below it, existing or new: the
//   copy may have to replace it while the log holds it open;
// - an existing file in the package folder or below it: a file of the
//   update. A new log there is left out of the copy (UpdateLog::IsLogFile).
// Folders are compared by identity, each folder from the log's up to the
// root of its volume, so other spellings and cases of a path count too.
// Installation and package may be null when they are not known.
const char* LogRefusal(const TextString& logPath, const TextString* package,
                       const TextString* installation, const TextString* executable);
