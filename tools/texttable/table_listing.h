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

#include <string>
#include <vector>

// On failure `error` says what and where, in one line ("line 3: ...").
bool ParseListing(const std::string& listing, std::vector<std::string>* texts, std::string* error);

// Escapes backslashes, line breaks, zero bytes and the other control bytes
// but the tab; bytes from 0x80 up stay as they are.
std::string WriteListing(const std::vector<std::string>& texts);

// Fails only when the table would not fit in 32-bit offsets.
bool EncodeTable(const std::vector<std::string>& texts, std::string* table, std::string* error);

bool DecodeTable(const std::string& table, std::vector<std::string>* texts, std::string* error);
