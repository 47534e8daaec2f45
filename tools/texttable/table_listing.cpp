#include "table_listing.h"

#include <cstdint>

namespace {

const std::uint32_t kFirstTextId = 1000;
const std::uint64_t kHeaderSize = 16;
const std::uint64_t kEntrySize = 12;
const std::uint64_t kLargestFile = 0xFFFFFFFFu;

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Unescapes one line (without its line break) onto `text`.
bool ParseLine(const std::string& line, std::string* text, std::string* problem) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\r') {
            *problem = "raw carriage return (write \\r)";
            return false;
        }
        if (c != '\\') {
            text->push_back(c);
            continue;
        }
        if (i + 1 == line.size()) {
            *problem = "backslash at the end of the line (write \\\\)";
            return false;
        }
        const char kind = line[++i];
        switch (kind) {
        case 'n':
            text->push_back('\n');
            break;
        case 'r':
            text->push_back('\r');
            break;
        case '0':
            text->push_back('\0');
            break;
        case '\\':
            text->push_back('\\');
            break;
        case 'x': {
            const int high = i + 1 < line.size() ? HexValue(line[i + 1]) : -1;
            const int low = i + 2 < line.size() ? HexValue(line[i + 2]) : -1;
            if (high < 0 || low < 0) {
                *problem = "\\x needs two hex digits";
                return false;
            }
            text->push_back(static_cast<char>(high * 16 + low));
            i += 2;
            break;
        }
        default:
            *problem = std::string("bad escape \\") + kind;
            return false;
        }
    }
    return true;
}

void AppendField(std::string* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes->push_back(static_cast<char>(value >> (8 * i)));
}

std::uint32_t FieldAt(const std::string& bytes, std::uint64_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

} // namespace

bool ParseListing(const std::string& listing, std::vector<std::string>* texts, std::string* error) {
    texts->clear();
    std::size_t start = 0;
    for (std::size_t lineNumber = 1; start < listing.size(); ++lineNumber) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos)
            end = listing.size();
        std::string text, problem;
        if (!ParseLine(listing.substr(start, end - start), &text, &problem)) {
            *error = "line " + std::to_string(lineNumber) + ": " + problem;
            return false;
        }
        texts->push_back(text);
        start = end + 1;
    }
    return true;
}

void AppendListingLine(const std::string& text, std::string* listing) {
    static const char kHex[] = "0123456789ABCDEF";
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\\')
            *listing += "\\\\";
        else if (c == '\n')
            *listing += "\\n";
        else if (c == '\r')
            *listing += "\\r";
        else if (c == '\0')
            *listing += "\\0";
        else if ((byte < 0x20 && c != '\t') || byte == 0x7F)
            *listing += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
        else
            listing->push_back(c);
    }
    listing->push_back('\n');
}

std::string WriteListing(const std::vector<std::string>& texts) {
    std::string listing;
    for (const std::string& text : texts)
        AppendListingLine(text, &listing);
    return listing;
}

bool EncodeTable(const std::vector<std::string>& texts, std::string* table, std::string* error) {
    std::uint64_t size = kHeaderSize + kEntrySize * texts.size();
    for (const std::string& text : texts)
        size += text.size() + 1;
    if (size > kLargestFile) {
        *error = "the table would pass 4 GiB";
        return false;
    }
    table->clear();
    AppendField(table, 0);
    AppendField(table, static_cast<std::uint32_t>(kHeaderSize));
    AppendField(table, 0);
    AppendField(table, static_cast<std::uint32_t>(texts.size()));
    std::uint64_t offset = kHeaderSize + kEntrySize * texts.size();
    for (const std::string& text : texts) {
        AppendField(table, static_cast<std::uint32_t>(offset));
        AppendField(table, static_cast<std::uint32_t>(text.size()));
        AppendField(table, 0);
        offset += text.size() + 1;
    }
    for (const std::string& text : texts) {
        table->append(text);
        table->push_back('\0');
    }
    return true;
}

bool ReadTable(std::uint64_t size, const ReadAt& read, const TextSink& sink, std::string* error) {
    const std::string ofSize = " passes the end of the file (" + std::to_string(size) + " bytes)";
    if (size < kHeaderSize) {
        *error = "shorter than the 16-byte header";
        return false;
    }
    if (size > kLargestFile) {
        *error = "larger than 4 GiB";
        return false;
    }
    std::string header(kHeaderSize, '\0');
    if (!read(0, header.size(), &header[0])) {
        *error = "cannot read the header";
        return false;
    }
    const std::uint64_t tableOffset = FieldAt(header, 4);
    const std::uint64_t count = FieldAt(header, 12);
    if (tableOffset + kEntrySize * count > size) {
        *error = "entry table (" + std::to_string(count) + " entries at offset " +
                 std::to_string(tableOffset) + ")" + ofSize;
        return false;
    }
    // The entries are read in chunks, twice: every text is checked before
    // the first one goes out, so that a malformed table gives nothing but
    // the error. Then only one chunk and one text are held at a time.
    const std::uint64_t kChunk = 4096;
    std::string entries, text;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::uint64_t first = 0; first < count; first += kChunk) {
            const std::uint64_t inChunk = count - first < kChunk ? count - first : kChunk;
            entries.resize(static_cast<std::size_t>(kEntrySize * inChunk));
            if (!read(tableOffset + kEntrySize * first, entries.size(), &entries[0])) {
                *error = "cannot read the entry table";
                return false;
            }
            for (std::uint64_t i = 0; i < inChunk; ++i) {
                const std::uint64_t textOffset = FieldAt(entries, kEntrySize * i);
                const std::uint64_t textLength = FieldAt(entries, kEntrySize * i + 4);
                if (pass == 0 && textOffset + textLength > size) {
                    *error = "text of id " + std::to_string(kFirstTextId + first + i) +
                             " (offset " + std::to_string(textOffset) + ", length " +
                             std::to_string(textLength) + ")" + ofSize;
                    return false;
                }
                if (pass == 0)
                    continue;
                text.resize(static_cast<std::size_t>(textLength));
                if (textLength > 0 && !read(textOffset, text.size(), &text[0])) {
                    *error =
                        "cannot read the text of id " + std::to_string(kFirstTextId + first + i);
                    return false;
                }
                if (!sink(text)) {
                    *error = "cannot write";
                    return false;
                }
            }
        }
    }
    return true;
}

bool DecodeTable(const std::string& table, std::vector<std::string>* texts, std::string* error) {
    texts->clear();
    const ReadAt read = [&table](std::uint64_t offset, std::size_t count, char* out) {
        table.copy(out, count, static_cast<std::size_t>(offset));
        return true;
    };
    const TextSink keep = [texts](const std::string& text) {
        texts->push_back(text);
        return true;
    };
    return ReadTable(table.size(), read, keep, error);
}
