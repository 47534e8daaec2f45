#include "text_string.h"
#include "text_table.h"

bool TextString::LoadTableText(std::uint32_t textId, const TextTable* table) {
    if (table == nullptr)
        return false;
    // Lookup leaves the length unwritten for an id without an entry, so it
    // is read only once the answer is known to be an entry's text.
    std::uint32_t length;
    const char* text = table->Lookup(textId, &length);
    if (text == TextTable::EmptyText())
        return false;
    Assign(length, text);
    return true;
}
