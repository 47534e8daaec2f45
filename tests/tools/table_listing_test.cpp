#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "table_listing.h"
#include "text_table.h"

namespace {

using Texts = std::vector<std::string>;

TEST(TableListing, ParsesLinesAndEscapes) {
    struct Case {
        std::string listing;
        Texts texts;
    };
    const Case cases[] = {
        {"", {}},
        {"\n", {""}},
        {"eins\nzwei\n", {"eins", "zwei"}},
        {"ohne Zeilenende", {"ohne Zeilenende"}},
        {"a\n\nb\n", {"a", "", "b"}},
        {"\\n\\r\\0\\\\", {std::string("\n\r\0\\", 4)}},
        {"\\x41\\xfF\\x00\\x0a", {std::string("A\xff\0\n", 4)}},
        {"\\01",
         {std::string("\0"
                      "1",
                      2)}},
        {"Gr\xfc\xdf\te", {"Gr\xfc\xdf\te"}},
    };
    for (const Case& c : cases) {
        Texts texts{"stale"};
        std::string error;
        EXPECT_TRUE(ParseListing(c.listing, &texts, &error)) << c.listing << ": " << error;
        EXPECT_EQ(texts, c.texts) << c.listing;
    }
}

TEST(TableListing, RefusesMalformedListingsWithTheLine) {
    struct Case {
        std::string listing;
        const char* error;
    };
    const Case cases[] = {
        {"gut\n\\q\n", "line 2: bad escape \\q"},
        {"ende\\", "line 1: backslash at the end of the line (write \\\\)"},
        {"\\x4", "line 1: \\x needs two hex digits"},
        {"a\n\n\\x4g\n", "line 3: \\x needs two hex digits"},
        {"dos\r\n", "line 1: raw carriage return (write \\r)"},
    };
    for (const Case& c : cases) {
        Texts texts;
        std::string error;
        EXPECT_FALSE(ParseListing(c.listing, &texts, &error)) << c.listing;
        EXPECT_EQ(error, c.error);
    }
}

Texts AwkwardTexts() {
    std::string everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.push_back(static_cast<char>(b));
    return {"", "Hallo", everyByte, "\\n is not a line break", std::string(3, '\0'), "", "x\n"};
}

TEST(TableListing, ListingRoundTrip) {
    const Texts texts = AwkwardTexts();
    const std::string listing = WriteListing(texts);
    EXPECT_EQ(listing.find('\r'), std::string::npos);
    EXPECT_EQ(listing.find('\0'), std::string::npos);
    Texts back;
    std::string error;
    ASSERT_TRUE(ParseListing(listing, &back, &error)) << error;
    EXPECT_EQ(back, texts);
    EXPECT_EQ(WriteListing({"a\\b\x01\x7f\t\xe4"}), "a\\\\b\\x01\\x7F\t\xe4\n");
}

TEST(TableListing, TableRoundTrip) {
    for (const Texts& texts : {Texts{}, Texts{""}, AwkwardTexts()}) {
        std::string table, error;
        ASSERT_TRUE(EncodeTable(texts, &table, &error)) << error;
        Texts back{"stale"};
        ASSERT_TRUE(DecodeTable(table, &back, &error)) << error;
        EXPECT_EQ(back, texts);
    }
}

// What the tool writes is what the program's own reader reads, each text
// followed by a zero byte.
TEST(TableListing, TheProgramsReaderReadsTheToolsTables) {
    const Texts texts = AwkwardTexts();
    std::string table, error;
    ASSERT_TRUE(EncodeTable(texts, &table, &error)) << error;
    const char* name = "table_listing_reader.tbl";
    std::FILE* file = std::fopen(name, "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(table.data(), 1, table.size(), file), table.size());
    std::fclose(file);

    TextTable reader;
    ASSERT_TRUE(reader.Load(name));
    EXPECT_EQ(reader.GetEntryCount(), texts.size());
    for (std::uint32_t i = 0; i < texts.size(); ++i) {
        std::uint32_t length = 0;
        const char* text = reader.Lookup(TextTable::FirstTextId + i, &length);
        ASSERT_NE(text, TextTable::EmptyText()) << i;
        EXPECT_EQ(std::string(text, length), texts[i]) << i;
        EXPECT_EQ(text[length], '\0') << i;
    }
    EXPECT_EQ(reader.Lookup(TextTable::FirstTextId + 7, nullptr), TextTable::EmptyText());
    reader.Reset();
    std::remove(name);
}

std::string Field(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

TEST(TableListing, RefusesMalformedTables) {
    const std::string header = Field(0) + Field(16) + Field(0);
    struct Case {
        std::string table;
        const char* error;
    };
    const Case cases[] = {
        {"kurz", "shorter than the 16-byte header"},
        {header + Field(0xFFFFFFFF),
         "entry table (4294967295 entries at offset 16) passes the end of the file (16 bytes)"},
        {header + Field(1) + Field(0xFFFFFFFF) + Field(2) + Field(0),
         "text of id 1000 (offset 4294967295, length 2) passes the end of the file (28 bytes)"},
    };
    for (const Case& c : cases) {
        Texts texts;
        std::string error;
        EXPECT_FALSE(DecodeTable(c.table, &texts, &error));
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(texts.empty());
    }
}

} // namespace
