// Text table files and the plain listings that the texttable tool turns
// them into and back.
//
// A listing holds one text per line, the first for id 1000. A line break
// ends every line, the last one too; an empty listing has no texts. Inside
// a line, a backslash starts an escape: \n, \r, \0, \\ and \xHH (two hex
// digits) stand for the byte; any other byte stands for itself, except a
// raw carriage return, which is refused so that a listing saved with CR LF
// line ends cannot slip CRs into the texts unseen.
//
// Tables are written with the header first, then the entries, then the
// texts in id order, each followed by a zero byte that its length does not
// count. Reading accepts any well-formed table: at least 16 bytes, its
// entry table and every text inside the file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// On failure `error` says what and where, in one line ("line 3: ...").
bool ParseListing(const std::string& listing, std::vector<std::string>* texts, std::string* error);

// Escapes backslashes, line breaks, zero bytes and the other control bytes
// but the tab; bytes from 0x80 up stay as they are.
std::string WriteListing(const std::vector<std::string>& texts);

// One text as a line of a listing, line break included, appended to listing.
void AppendListingLine(const std::string& text, std::string* listing);

// Fails only when the table would not fit in 32-bit offsets.
bool EncodeTable(const std::vector<std::string>& texts, std::string* table, std::string* error);

// Where ReadTable gets the table's bytes: count bytes from offset into out,
// false when they cannot be read. ReadTable asks only for bytes inside the
// size it was given.
using ReadAt = std::function<bool(std::uint64_t offset, std::size_t count, char* out)>;
// Takes each text in id order; false stops the reading as a write failure.
using TextSink = std::function<bool(const std::string& text)>;

// Checks the whole table of `size` bytes first, then hands its texts to
// sink one by one. It holds one text and a few thousand entries at a time,
// never the table, so a large table needs memory for its largest text only.
bool ReadTable(std::uint64_t size, const ReadAt& read, const TextSink& sink, std::string* error);

// ReadTable over a table in memory; on failure texts is empty.
bool DecodeTable(const std::string& table, std::vector<std::string>* texts, std::string* error);
