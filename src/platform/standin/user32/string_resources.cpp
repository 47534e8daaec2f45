// LoadStringA over the string tables that modules register.
#include "string_resources.h"

#include <cstring>

namespace {

// Constant-initialised, so registering from static constructors of other
// translation units needs no ordering.
StringTable* registeredTables = nullptr;

// Win32 keeps strings in blocks of sixteen ids; an id without a string in a
// block that exists is no error of the lookup, a missing block is.
const StringResource* FindStringResource(HMODULE module, WORD id, bool* blockFound) {
    *blockFound = false;
    for (const StringTable* table = registeredTables; table != nullptr; table = table->next) {
        if (table->module != module)
            continue;
        for (std::size_t i = 0; i < table->count; ++i) {
            if (table->resources[i].id >> 4 == id >> 4)
                *blockFound = true;
            if (table->resources[i].id == id)
                return &table->resources[i];
        }
    }
    return nullptr;
}

} // namespace

void RegisterStringTable(StringTable* table) {
    table->next = registeredTables;
    registeredTables = table;
}

// Win32 looks the id up by its low word only, and a null instance means the
// program's own module. A size of 0 is LoadStringW's request for a read-only
// pointer to the resource; LoadStringA has no such form and, as under Wine,
// returns -1 and leaves the buffer alone. Negative sizes are taken the same
// way here, where Win32 would write past the buffer.
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
    if (bufferMax <= 0)
        return -1;
    if (instance == nullptr)
        instance = GetModuleHandleA(nullptr);
    bool blockFound = false;
    const StringResource* const resource =
        FindStringResource(instance, static_cast<WORD>(id & 0xFFFF), &blockFound);
    if (!blockFound)
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    std::size_t copied = 0;
    if (resource != nullptr) {
        copied = resource->length;
        if (copied > static_cast<std::size_t>(bufferMax - 1))
            copied = static_cast<std::size_t>(bufferMax - 1);
        std::memcpy(buffer, resource->text, copied);
    }
    buffer[copied] = 0;
    return static_cast<int>(copied);
}
