// The Windows registry export format (.reg files, "Windows Registry Editor
// Version 5.00" or "REGEDIT4"), read for the values of one key.
#pragma once

#include <cstddef>

#include "../windows.h"

struct RegistryValue {
    char* name; // "" for the unnamed default value
    DWORD type;
    BYTE* data;
    DWORD size;
    RegistryValue* next;
};

struct RegistryKeyContents {
    bool exists; // named by a section, or a parent of one
    RegistryValue* values;
};

struct RegFileError {
    unsigned line;      // 1-based
    const char* reason; // a static text
};

// Reads the values of keyPath (root name and subkeys, separated by
// backslashes, e.g. "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor") out of text,
// which holds code page 1252 bytes. Key paths and value names match without
// regard to case. The whole text is checked: on a malformed line the
// contents are left empty and false is returned with the line and reason.
bool ParseRegFile(const char* text, std::size_t length, const char* keyPath,
                  RegistryKeyContents* contents, RegFileError* error);

void FreeRegistryValues(RegistryKeyContents* contents);

// Turns the bytes of a .reg file as stored into code page 1252: a UTF-16LE
// file (as regedit writes version 5.00 files; a stray last byte of an odd
// length is dropped) and a UTF-8 one (as a Linux editor writes it) are
// converted; anything else is taken as code page 1252. A file that begins
// with the UTF-8 byte order mark must be UTF-8 throughout: a byte that is
// not is a malformed file, reported with its line.
// Returns a block to be freed with free(), or null with the error (line 0
// when out of memory).
char* DecodeRegFileText(const unsigned char* bytes, std::size_t length, std::size_t* textLength,
                        RegFileError* error);
