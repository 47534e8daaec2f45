// Names without regard to case as NTFS (and Wine) compare them: each taken
// to UTF-16 through the ANSI code page, each unit up-cased, then compared
// unit by unit. "Ä.dat" and "ä.dat" are one name; the order is that of the
// up-cased units, in which "_" comes after the letters.
#pragma once

#include <cstddef>
#include <string>

// The UTF-16 of `length` bytes of text in the ANSI code page. Under 1252
// every byte has its character; under 932 a byte that leads no character
// there becomes U+F000 plus its value, so that different bytes stay
// different. False (with what was converted) when a byte had to be so
// taken.
bool AnsiToUtf16(const char* text, std::size_t length, std::u16string& wide);

// A unit in upper case: the letters of Latin-1 and Latin Extended-A,
// Greek, Cyrillic and the full-width Latin letters; every other unit is
// its own upper case.
char16_t UpcaseUnit(char16_t unit);

// The same key for every case of a name.
std::u16string CaseKey(const char* name, std::size_t length);

// Negative, zero or positive, as first comes before, with or after second.
int CompareNamesIgnoringCase(const char* first, const char* second);
