#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "heap.h"
#include "text_string.h"
#include "text_table.h"

namespace {

std::string Field(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

// The fields that the table does not read hold noise, to show that they are
// not read.
std::string Header(std::uint32_t entryTableOffset, std::uint32_t entryCount) {
    return Field(0xA5A5A5A5) + Field(entryTableOffset) + Field(0x5A5A5A5A) + Field(entryCount);
}

std::string Entry(std::uint32_t textOffset, std::uint32_t textLength) {
    return Field(textOffset) + Field(textLength) + Field(0xC3C3C3C3);
}

// A file in the current directory, removed again at the end of the test.
class TableFile {
  public:
    TableFile(const char* name, const std::string& bytes) : name_(name) {
        std::FILE* file = std::fopen(name, "wb");
        EXPECT_NE(file, nullptr) << name;
        if (file == nullptr)
            return;
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
        std::fclose(file);
    }
    ~TableFile() { std::remove(name_); }
    TableFile(const TableFile&) = delete;
    TableFile& operator=(const TableFile&) = delete;

    const char* Name() const { return name_; }

  private:
    const char* name_;
};

// Three entries after the header, texts after the table.
std::string ThreeEntries() {
    const std::uint32_t texts = 16 + 3 * 12;
    return Header(16, 3) + Entry(texts, 5) + Entry(texts + 5, 4) + Entry(texts + 9, 5) +
           "alphabetagamma";
}

std::string TextOf(const TextTable& table, std::uint32_t id) {
    std::uint32_t length = 0;
    const char* text = table.Lookup(id, &length);
    return std::string(text, length);
}

void ExpectNoEntries(const TextTable& table) {
    for (std::uint32_t id : {0u, 999u, 1000u, 1001u, 1002u, 1003u, 4294967295u}) {
        std::uint32_t length = 7;
        EXPECT_EQ(table.Lookup(id, &length), TextTable::EmptyText()) << id;
        EXPECT_EQ(length, 7u) << id;
    }
}

// Records the heap traffic of a stretch of a test. The heap reuses
// addresses, so a release is matched against the blocks still out.
struct HeapLog {
    std::vector<std::size_t> allocatedSizes;
    std::vector<void*> outstanding;
    int releases = 0;
    int strayReleases = 0;

    void Allocated(void* block, std::size_t size) {
        allocatedSizes.push_back(size);
        outstanding.push_back(block);
    }
    void Released(void* block) {
        ++releases;
        for (std::size_t i = 0; i < outstanding.size(); ++i) {
            if (outstanding[i] == block) {
                outstanding.erase(outstanding.begin() + static_cast<std::ptrdiff_t>(i));
                return;
            }
        }
        ++strayReleases;
    }
};

class WatchedHeap {
  public:
    explicit WatchedHeap(HeapLog* log) {
        watch_.allocated = [](void* block, std::size_t size, void* context) {
            static_cast<HeapLog*>(context)->Allocated(block, size);
        };
        watch_.released = [](void* block, void* context) {
            static_cast<HeapLog*>(context)->Released(block);
        };
        watch_.context = log;
        previous_ = WatchHeap(&watch_);
    }
    ~WatchedHeap() { WatchHeap(previous_); }
    WatchedHeap(const WatchedHeap&) = delete;
    WatchedHeap& operator=(const WatchedHeap&) = delete;

  private:
    HeapWatch watch_;
    const HeapWatch* previous_;
};

TEST(TextTable, NeverLoadedHasNoEntriesAndItsOwnEmptyText) {
    TextTable table;
    ExpectNoEntries(table);
    EXPECT_EQ(table.Lookup(1000, nullptr), TextTable::EmptyText());
    EXPECT_EQ(TextTable::EmptyText()[0], '\0');
    EXPECT_NE(TextTable::EmptyText(), TextString::EmptyText());
    EXPECT_EQ(table.GetEntryCount(), 0u);
}

TEST(TextTable, LookupOfThreeEntries) {
    TableFile file("text_table_three.tbl", ThreeEntries());
    TextTable table;
    ASSERT_TRUE(table.Load(file.Name()));
    EXPECT_EQ(table.GetEntryCount(), 3u);

    struct Case {
        std::uint32_t id;
        bool found;
        const char* text;
    };
    const Case cases[] = {
        {1000, true, "alpha"},  {1001, true, "beta"},
        {1002, true, "gamma"},  {999, false, nullptr},
        {1003, false, nullptr}, {4294967295u, false, nullptr},
        {0, false, nullptr},    {1000 + 0x80000000u, false, nullptr},
    };
    for (const Case& c : cases) {
        std::uint32_t length = 7;
        const char* text = table.Lookup(c.id, &length);
        EXPECT_EQ(table.Lookup(c.id, nullptr), text) << c.id;
        if (c.found) {
            EXPECT_NE(text, TextTable::EmptyText()) << c.id;
            EXPECT_EQ(std::string(text, length), c.text) << c.id;
        } else {
            EXPECT_EQ(text, TextTable::EmptyText()) << c.id;
            EXPECT_EQ(length, 7u) << c.id;
        }
    }
    // In place: the texts follow each other as in the file.
    EXPECT_EQ(table.Lookup(1001, nullptr), table.Lookup(1000, nullptr) + 5);
}

TEST(TextTable, SharedOverlappingAndEmptyTextsPointIntoTheFile) {
    // Texts before the entry table, which need not follow the header.
    const std::string texts = "abcdef";
    const std::uint32_t table = 16 + 6;
    const std::string bytes = Header(table, 5) + texts + Entry(16, 6) + Entry(16, 6) +
                              Entry(18, 3) + Entry(22, 0) + Entry(table + 5 * 12, 0);
    TableFile file("text_table_shared.tbl", bytes);
    TextTable t;
    ASSERT_TRUE(t.Load(file.Name()));

    const char* whole = t.Lookup(1000, nullptr);
    EXPECT_EQ(t.Lookup(1001, nullptr), whole);
    EXPECT_EQ(t.Lookup(1002, nullptr), whole + 2);
    EXPECT_EQ(TextOf(t, 1000), "abcdef");
    EXPECT_EQ(TextOf(t, 1001), "abcdef");
    EXPECT_EQ(TextOf(t, 1002), "cde");

    // A zero-length text is an entry: a pointer into the file, length 0.
    for (std::uint32_t id : {1003u, 1004u}) {
        std::uint32_t length = 7;
        const char* text = t.Lookup(id, &length);
        EXPECT_NE(text, TextTable::EmptyText()) << id;
        EXPECT_EQ(length, 0u) << id;
    }
    EXPECT_EQ(t.Lookup(1003, nullptr), whole + 6);
    // The last one starts at the file's very end.
    EXPECT_EQ(t.Lookup(1004, nullptr), whole - 16 + bytes.size());
}

TEST(TextTable, EntryCountZeroLoadsWithNoEntries) {
    TableFile file("text_table_zero.tbl", Header(16, 0) + "tail");
    TextTable table;
    EXPECT_TRUE(table.Load(file.Name()));
    ExpectNoEntries(table);
}

TEST(TextTable, FailedLoadAfterAGoodOneEmptiesTheTable) {
    TableFile file("text_table_good.tbl", ThreeEntries());
    TextTable table;
    ASSERT_TRUE(table.Load(file.Name()));
    EXPECT_FALSE(table.Load("text_table_missing.tbl"));
    EXPECT_EQ(table.GetEntryCount(), 0u);
    ExpectNoEntries(table);
    // And the table loads again afterwards.
    EXPECT_TRUE(table.Load(file.Name()));
    EXPECT_EQ(TextOf(table, 1002), "gamma");
}

TEST(TextTable, ResetEmptiesTheTable) {
    TableFile file("text_table_reset.tbl", ThreeEntries());
    TextTable table;
    ASSERT_TRUE(table.Load(file.Name()));
    table.Reset();
    EXPECT_EQ(table.GetEntryCount(), 0u);
    ExpectNoEntries(table);
    table.Reset();
    ExpectNoEntries(table);
}

TEST(TextTable, LoadMakesOneBlockOfTheFileSizeAndEveryBlockIsFreedOnce) {
    const std::string bytes = ThreeEntries();
    TableFile file("text_table_heap.tbl", bytes);
    HeapLog log;
    {
        WatchedHeap watched(&log);
        TextTable table;
        ASSERT_TRUE(table.Load(file.Name()));
        ASSERT_EQ(log.allocatedSizes.size(), 1u);
        EXPECT_EQ(log.allocatedSizes[0], bytes.size());

        table.FreeContents();
        ExpectNoEntries(table);
        EXPECT_EQ(table.GetEntryCount(), 3u);
        table.FreeContents();
        table.Reset();

        ASSERT_TRUE(table.Load(file.Name()));
        table.FreeContents();
        ASSERT_TRUE(table.Load(file.Name()));
        EXPECT_EQ(TextOf(table, 1001), "beta");
        table.FreeContents();
    } // destruction after FreeContents
    EXPECT_EQ(log.allocatedSizes.size(), 3u);
    EXPECT_EQ(log.releases, 3);
    EXPECT_EQ(log.strayReleases, 0);
    EXPECT_TRUE(log.outstanding.empty());
}

// Load's block is made while Load holds the file open, so a heap watch sees
// the file as Load holds it: other readers get in, a writer is refused.
struct OpensWhileLoading {
    const char* fileName;
    int blocks = 0;
    bool readerOpened = false;
    HANDLE writer = nullptr;
    DWORD writerError = 0;
};

void TryOpens(void*, std::size_t, void* context) {
    OpensWhileLoading* opens = static_cast<OpensWhileLoading*>(context);
    if (opens->blocks++ > 0)
        return;
    HANDLE reader = CreateFileA(opens->fileName, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    opens->readerOpened = reader != INVALID_HANDLE_VALUE;
    if (opens->readerOpened)
        CloseHandle(reader);
    SetLastError(0xdeadbeef);
    opens->writer = CreateFileA(opens->fileName, GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    opens->writerError = GetLastError();
}

TEST(TextTableSharing, WhileLoadHoldsTheFileReadersMayOpenItAndAWriterIsRefused) {
    TableFile file("text_table_share.tbl", ThreeEntries());
    OpensWhileLoading opens;
    opens.fileName = file.Name();
    HeapWatch watch = {TryOpens, nullptr, &opens};
    TextTable table;
    const HeapWatch* previous = WatchHeap(&watch);
    const bool loaded = table.Load(file.Name());
    WatchHeap(previous);

    EXPECT_TRUE(loaded);
    EXPECT_EQ(opens.blocks, 1);
    EXPECT_TRUE(opens.readerOpened);
    EXPECT_EQ(opens.writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(opens.writerError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (opens.writer != INVALID_HANDLE_VALUE)
        CloseHandle(opens.writer);

    // Once Load is done, the file is free again.
    HANDLE writer = CreateFileA(file.Name(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
}

// The same share rule from the other side: Load asks for reading only and
// does not share with a writer; a holder that forbids reading keeps it out.
TEST(TextTableSharing, LoadAgainstAHandleAlreadyOpen) {
    TableFile file("text_table_held.tbl", ThreeEntries());
    struct Case {
        DWORD access;
        DWORD share;
        bool loads;
    };
    const Case cases[] = {
        {GENERIC_READ, FILE_SHARE_READ, true},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {GENERIC_READ, 0, false},
        {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
    };
    for (const Case& c : cases) {
        HANDLE held =
            CreateFileA(file.Name(), c.access, c.share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        TextTable table;
        EXPECT_EQ(table.Load(file.Name()), c.loads) << c.access << " " << c.share;
        EXPECT_EQ(TextOf(table, 1000), c.loads ? "alpha" : "");
        CloseHandle(held);
    }
}

TEST(TextTable, MalformedFilesFailLoadAndLeaveNoEntries) {
    const std::uint32_t end = 16 + 12; // one entry, no texts after it
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty file", ""},
        {"shorter than the header", Header(16, 0).substr(0, 15)},
        {"entry table past the end", Header(20, 1) + Entry(0, 0)},
        {"entry table cut short", Header(16, 2) + Entry(0, 4)},
        {"entry table offset past the end, no entries", Header(17, 0)},
        {"entry table offset wraps", Header(0xFFFFFFF8, 1) + Entry(0, 0)},
        {"huge EntryCount", Header(16, 0xFFFFFFFF) + Entry(0, 4)},
        {"EntryCount x 12 wraps to 8", Header(16, 0x15555556) + Entry(0, 4)},
        {"text past the end", Header(16, 1) + Entry(end - 4, 5)},
        {"text offset past the end", Header(16, 1) + Entry(end + 1, 0)},
        {"text offset and length wrap", Header(16, 1) + Entry(0xFFFFFFFF, 2)},
        {"huge text length", Header(16, 1) + Entry(4, 0xFFFFFFFF)},
        {"good entry, then a bad one", Header(16, 2) + Entry(0, 4) + Entry(0, 41)},
    };
    TableFile good("text_table_control.tbl", ThreeEntries());
    for (const Case& c : cases) {
        TableFile file("text_table_malformed.tbl", c.bytes);
        TextTable table;
        ASSERT_TRUE(table.Load(good.Name()));
        EXPECT_FALSE(table.Load(file.Name())) << c.what;
        EXPECT_EQ(table.GetEntryCount(), 0u) << c.what;
        ExpectNoEntries(table);
    }
}

TEST(TextTable, TextEndingExactlyAtTheFileEndIsWellFormed) {
    TableFile file("text_table_edge.tbl", Header(16, 1) + Entry(24, 4));
    TextTable table;
    ASSERT_TRUE(table.Load(file.Name()));
    EXPECT_EQ(TextOf(table, 1000), Field(0xC3C3C3C3));
}

TEST(TextStringLoadTableText, NullTableMissingIdAndInnerZeroByte) {
    const std::uint32_t texts = 16 + 3 * 12;
    const std::string bytes = Header(16, 3) + Entry(texts, 5) + Entry(texts + 5, 0) +
                              Entry(texts, 3) + std::string("ab\0cd", 5);
    TableFile file("text_table_string.tbl", bytes);
    TextTable table;
    ASSERT_TRUE(table.Load(file.Name()));

    TextString s("keep");
    EXPECT_FALSE(s.LoadTableText(1000, nullptr));
    EXPECT_FALSE(s.LoadTableText(999, &table));
    EXPECT_FALSE(s.LoadTableText(1003, &table));
    EXPECT_EQ(std::string(s.GetText(), s.GetLength()), "keep");

    EXPECT_TRUE(s.LoadTableText(1000, &table));
    EXPECT_EQ(s.GetLength(), 5u);
    EXPECT_EQ(std::string(s.GetText(), s.GetLength() + 1), std::string("ab\0cd\0", 6));
    EXPECT_NE(s.GetText(), table.Lookup(1000, nullptr)); // a copy

    EXPECT_TRUE(s.LoadTableText(1002, &table));
    EXPECT_EQ(std::string(s.GetText(), s.GetLength()), std::string("ab\0", 3));

    EXPECT_TRUE(s.LoadTableText(1001, &table));
    EXPECT_EQ(s.GetLength(), 0u);

    TextTable never;
    TextString t("keep");
    EXPECT_FALSE(t.LoadTableText(1000, &never));
    EXPECT_EQ(std::string(t.GetText(), t.GetLength()), "keep");
}

} // namespace
