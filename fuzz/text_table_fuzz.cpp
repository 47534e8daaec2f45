// Load and Lookup over arbitrary bytes. Besides the sanitizers' watch on
// every byte touched, it checks each answer against the bytes themselves:
// Load succeeds exactly for well-formed files, and every entry's text is
// the file's bytes at its offset.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "text_string.h"
#include "text_table.h"

namespace {

const std::uint32_t kUnwritten = 0xC0FFEE;

std::uint32_t FieldAt(const std::uint8_t* data, std::uint64_t offset) {
    return std::uint32_t{data[offset]} | std::uint32_t{data[offset + 1]} << 8 |
           std::uint32_t{data[offset + 2]} << 16 | std::uint32_t{data[offset + 3]} << 24;
}

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "text_table_fuzz: %s\n", what);
        std::abort();
    }
}

bool IsWellFormed(const std::uint8_t* data, std::uint64_t size) {
    if (size < 16)
        return false;
    const std::uint64_t tableOffset = FieldAt(data, 4);
    const std::uint64_t count = FieldAt(data, 12);
    if (tableOffset + 12 * count > size)
        return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = tableOffset + 12 * i;
        if (std::uint64_t{FieldAt(data, entry)} + FieldAt(data, entry + 4) > size)
            return false;
    }
    return true;
}

const std::string& FileName() {
    static const std::string name = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr ? dir : "/tmp") + "/text_table_fuzz_" +
               std::to_string(getpid()) + ".tbl";
    }();
    return name;
}

bool WriteFile(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(FileName().c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

// Ids around every edge of the table, and a few taken from the bytes.
std::vector<std::uint32_t> IdsToTry(const std::uint8_t* data, std::size_t size,
                                    std::uint32_t count) {
    std::vector<std::uint32_t> ids = {0,           1,
                                      999,         1000,
                                      1001,        1000 + count,
                                      999 + count, 1000 + count / 2,
                                      0x7FFFFFFFu, 0x80000000u,
                                      0xFFFFFFFEu, 0xFFFFFFFFu};
    for (std::uint32_t i = 0; i < count && i < 256; ++i)
        ids.push_back(1000 + i);
    for (std::size_t at = 16; at + 4 <= size && at < 64; at += 4)
        ids.push_back(FieldAt(data, at));
    return ids;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!WriteFile(data, size))
        return 0;
    TextTable table;
    const bool loaded = table.Load(FileName().c_str());
    Require(loaded == IsWellFormed(data, size), "Load disagrees with the file's form");

    const std::uint32_t count = loaded ? FieldAt(data, 12) : 0;
    Require(table.GetEntryCount() == count, "EntryCount is not the header's");
    const std::uint32_t tableOffset = loaded ? FieldAt(data, 4) : 0;

    for (std::uint32_t id : IdsToTry(data, size, size >= 16 ? FieldAt(data, 12) : 0)) {
        std::uint32_t length = kUnwritten;
        const char* text = table.Lookup(id, &length);
        Require(text == table.Lookup(id, nullptr), "Lookup differs without a length");
        const bool hasEntry = id >= 1000 && id - 1000 < count;
        if (!hasEntry) {
            Require(text == TextTable::EmptyText(), "an id without an entry got a text");
            Require(length == kUnwritten, "an id without an entry got a length");
            continue;
        }
        const std::uint64_t entry = tableOffset + 12ull * (id - 1000);
        const std::uint32_t textOffset = FieldAt(data, entry);
        Require(length == FieldAt(data, entry + 4), "wrong length");
        // Every byte of the text is read, so an overread cannot hide.
        Require(std::memcmp(text, data + textOffset, length) == 0, "wrong text");

        TextString copy("unchanged");
        Require(copy.LoadTableText(id, &table), "LoadTableText missed an entry");
        Require(copy.GetLength() == length && std::memcmp(copy.GetText(), text, length) == 0,
                "LoadTableText copied the wrong bytes");
    }

    table.FreeContents();
    Require(table.Lookup(1000, nullptr) == TextTable::EmptyText(), "freed contents still answer");
    return 0;
}
