// String tables of the stand-in's modules. On Windows a module carries its
// STRINGTABLE in its image; here code generated from the same .rc file
// registers the table for the module at start-up, and LoadStringA reads it.
#pragma once

#include <cstddef>

#include "../windows.h"

struct StringResource {
    WORD id;
    const char* text; // the resource's bytes, `length` of them
    std::size_t length;
};

// One module's table. The registering code owns it and keeps it alive for
// the whole run; registration only links it in, so it is safe during static
// initialisation.
struct StringTable {
    HMODULE module;
    const StringResource* resources;
    std::size_t count;
    StringTable* next;
};

void RegisterStringTable(StringTable* table);
