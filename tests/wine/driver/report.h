// The driver's output: one "key=value" line per observation, values in
// UTF-8 with backslash, CR and LF written as \\, \r and \n.
#pragma once

#include <string>

#include <windows.h>

std::string Utf8FromWide(const wchar_t* text);
std::string EscapeValue(const std::string& value);
void Report(const char* key, const std::string& value);
