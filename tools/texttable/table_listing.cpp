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

std::string WriteListing(const std::vector<std::string>& texts) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string listing;
    for (const std::string& text : texts) {
        for (char c : text) {
            const unsigned char byte = static_cast<unsigned char>(c);
            if (c == '\\')
                listing += "\\\\";
            else if (c == '\n')
                listing += "\\n";
            else if (c == '\r')
                listing += "\\r";
            else if (c == '\0')
                listing += "\\0";
            else if ((byte < 0x20 && c != '\t') || byte == 0x7F)
                listing += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
            else
                listing.push_back(c);
        }
        listing.push_back('\n');
    }
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

bool DecodeTable(const std::string& table, std::vector<std::string>* texts, std::string* error) {
    texts->clear();
    const std::uint64_t size = table.size();
    const std::string ofSize = " passes the end of the file (" + std::to_string(size) + " bytes)";
    if (size < kHeaderSize) {
        *error = "shorter than the 16-byte header";
        return false;
    }
    if (size > kLargestFile) {
        *error = "larger than 4 GiB";
        return false;
    }
    const std::uint64_t tableOffset = FieldAt(table, 4);
    const std::uint64_t count = FieldAt(table, 12);
    if (tableOffset + kEntrySize * count > size) {
        *error = "entry table (" + std::to_string(count) + " entries at offset " +
                 std::to_string(tableOffset) + ")" + ofSize;
        return false;
    }
    for (std::uint64_t index = 0; index < count; ++index) {
        const std::uint64_t entry = tableOffset + kEntrySize * index;
        const std::uint64_t textOffset = FieldAt(table, entry);
        const std::uint64_t textLength = FieldAt(table, entry + 4);
        if (textOffset + textLength > size) {
            *error = "text of id " + std::to_string(kFirstTextId + index) + " (offset " +
                     std::to_string(textOffset) + ", length " + std::to_string(textLength) + ")" +
                     ofSize;
            texts->clear();
            return false;
        }
        texts->push_back(table.substr(textOffset, textLength));
    }
    return true;
}
