// What the stand-in's windows and boxes show on the terminal: code page 1252
// text as UTF-8 on standard error.
#pragma once

#include <cstddef>

// Writes text into out as UTF-8, CR LF (or a lone CR) as one line break;
// returns the bytes written. Out needs room for three bytes per byte of text.
std::size_t AppendTerminalText(char* out, const char* text);

// Writes all of bytes to standard error, in one write where it can.
void WriteToStandardError(const char* bytes, std::size_t length);
