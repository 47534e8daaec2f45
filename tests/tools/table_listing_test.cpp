#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "table_listing.h"
#include "test_bytes.h"
#include "text_table.h"

namespace {

using Texts = std::vector<std::string>;

TEST(TableListing, ParsesLinesAndEscapes) {
    const struct {
        std::string listing;
        Texts texts;
    } cases[] = {{"", {}},
                 {"\n", {""}},
                 {"eins\nzwei\n", {"eins", "zwei"}},
                 {"ohne Zeilenende", {"ohne Zeilenende"}},
                 {"a\n\nb\n", {"a", "", "b"}},
                 {"\\n\\r\\0\\\\", {std::string("\n\r\0\\", 4)}},
                 {"\\x41\\xfF\\x00\\x0a", {std::string("A\xff\0\n", 4)}},
                 {"\\01", {std::string("\0001", 2)}},
                 {"Gr\xfc\xdf\te", {"Gr\xfc\xdf\te"}}};
    for (const auto& c : cases) {
        Texts texts{"stale"};
        std::string error;
        EXPECT_TRUE(ParseListing(c.listing, &texts, &error)) << c.listing << ": " << error;
        EXPECT_EQ(texts, c.texts) << c.listing;
    }
}

TEST(TableListing, RefusesMalformedListingsAndTables) {
    const struct {
        std::string listing;
        const char* error;
    } listings[] = {
        {"gut\n\\q\n", "line 2: bad escape \\q"},
        {"ende\\", "line 1: backslash at the end of the line (write \\\\)"},
        {"\\x4", "line 1: \\x needs two hex digits"},
        {"a\n\n\\x4g\n", "line 3: \\x needs two hex digits"},
        {"dos\r\n", "line 1: raw carriage return (write \\r)"},
    };
    for (const auto& c : listings) {
        Texts texts;
        std::string error;
        EXPECT_FALSE(ParseListing(c.listing, &texts, &error)) << c.listing;
        EXPECT_EQ(error, c.error);
    }

    const std::string header = Field(0) + Field(16) + Field(0);
    const struct {
        std::string table;
        const char* error;
    } tables[] = {
        {"kurz", "shorter than the 16-byte header"},
        {header + Field(0xFFFFFFFF),
         "entry table (4294967295 entries at offset 16) passes the end of the file (16 bytes)"},
        {header + Field(1) + Field(0xFFFFFFFF) + Field(2) + Field(0),
         "text of id 1000 (offset 4294967295, length 2) passes the end of the file (28 bytes)"},
    };
    for (const auto& c : tables) {
        Texts texts;
        std::string error;
        EXPECT_FALSE(DecodeTable(c.table, &texts, &error));
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(texts.empty());
    }
}

// Listing to texts and back, table to texts and back, and what the tool
// writes is what the program's own reader reads, each text followed by a
// zero byte.
TEST(TableListing, RoundTrips) {
    std::string everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.push_back(static_cast<char>(b));
    const Texts awkward = {"", "Hallo", everyByte, "\\n is not a line break", std::string(3, '\0'),
                           "", "x\n"};
    EXPECT_EQ(WriteListing({"a\\b\x01\x7f\t\xe4"}), "a\\\\b\\x01\\x7F\t\xe4\n");

    for (const Texts& texts : {Texts{}, Texts{""}, awkward}) {
        const std::string listing = WriteListing(texts);
        EXPECT_EQ(listing.find_first_of(std::string("\r\0", 2)), std::string::npos);
        Texts back{"stale"};
        std::string table, error;
        ASSERT_TRUE(ParseListing(listing, &back, &error)) << error;
        EXPECT_EQ(back, texts);
        ASSERT_TRUE(EncodeTable(texts, &table, &error)) << error;
        ASSERT_TRUE(DecodeTable(table, &back, &error)) << error;
        EXPECT_EQ(back, texts);

        ScratchFile file("table_listing_reader.tbl", table);
        TextTable reader;
        ASSERT_TRUE(reader.Load(file.Name()));
        EXPECT_EQ(reader.GetEntryCount(), texts.size());
        for (std::uint32_t i = 0; i <= texts.size(); ++i) {
            std::uint32_t length = 0;
            const char* text = reader.Lookup(TextTable::FirstTextId + i, &length);
            EXPECT_EQ(text == TextTable::EmptyText(), i == texts.size()) << i;
            if (i < texts.size()) {
                EXPECT_EQ(std::string(text, length + 1), texts[i] + '\0') << i;
            }
        }
    }
}

} // namespace
