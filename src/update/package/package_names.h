// The names that say what of a folder is the package, in code page 1252.
#pragma once

namespace package_names {

// The package's files: every name, as Windows matches it.
inline constexpr const char kSearchPattern[] = "*.*";
// The program itself, which lies in the package and is never installed.
inline constexpr const char kOwnFileName[] = "Update.exe";

} // namespace package_names
