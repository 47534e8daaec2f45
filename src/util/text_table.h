// TextTable: one text table file in memory, its texts handed out by id.
//
// The file, all fields 32-bit little-endian, offsets counted from the file's
// first byte:
//   header, 16 bytes: bytes 4..7 EntryTableOffset, bytes 12..15 EntryCount
//     (bytes 0..3 and 8..11 are not read);
//   entry table: EntryCount entries of 12 bytes at EntryTableOffset, each a
//     TextOffset, a TextLength and 4 bytes that are not read;
//   texts: anywhere, in any order, shared or overlapping; no terminator is
//     read after a text.
// Entry i has the id FirstTextId + i.
//
// Malformed files: Load accepts a well-formed file only and fails on any
// other, leaving the table empty. Well formed means: a size that fits in 32
// bits (a file of 4 GiB or more fails, and so does one of exactly 4 GiB - 1,
// which the size query cannot tell from its failure); at least 16 bytes; the
// whole entry table lies inside the file (with no entries, its offset is at
// most the file's size); every entry's text lies inside the file (a text of
// length 0 may start at the very end). The bounds are summed
// in 64 bits, so no offset, length or EntryCount can wrap around. Load reads
// the entries once for this, never the texts. Lookup then needs no checks of
// its own: it can only ever touch bytes inside Contents.
//
// A read that reports success but brings fewer bytes than the file's size
// also fails Load, and so does a block that the heap cannot give: a file
// that the program is merely asked to read never ends it.
//
// While Load holds the file, others may open it for reading but not for
// writing.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"

class TextTable {
  public:
    static constexpr std::uint32_t FirstTextId = 1000;

    // The answer for every id without an entry: one zero byte, shared by all
    // tables, never an entry's text, and a different object from
    // TextString::EmptyText(). Compare pointers with it to tell "no entry".
    static const char* EmptyText();

    TextTable();
    ~TextTable();
    TextTable(const TextTable&) = delete;
    TextTable& operator=(const TextTable&) = delete;

    // Frees the contents, closes an open handle, and empties the table.
    void Reset();

    // The file name goes to the platform unchanged. Whatever the result,
    // the previous contents are gone; on failure the table is empty.
    bool Load(const char* fileName);

    // Never null. For an id with an entry: the text in place inside the
    // contents, valid until the next Reset, Load, FreeContents or the
    // table's end, and its length through `length` when that is not null.
    // For any other id: EmptyText(), and `length` is not written.
    const char* Lookup(std::uint32_t textId, std::uint32_t* length) const;

    // Frees the contents only: EntryCount stays, every id then has no entry.
    void FreeContents();

    std::uint32_t GetEntryCount() const { return entryCount_; }

  private:
    void Release();

    HANDLE fileHandle_;
    std::uint32_t entryCount_;
    char* contents_;
};
