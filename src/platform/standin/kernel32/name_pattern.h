#pragma once

// Whether a file name matches a Win32 search pattern: '*' stands for any
// run of characters, '?' for one character, ASCII letters match without
// regard to case, and dots and stars left over at the end of the pattern
// match nothing, so that "*.*" takes a name without a dot as well.
bool MatchesNamePattern(const char* name, const char* pattern);
