#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "heap_watch.h"
#include "test_bytes.h"
#include "text_string.h"
#include "text_table.h"

namespace {

// The fields that the table does not read hold noise, to show that they are
// not read.
std::string Header(std::uint32_t entryTableOffset, std::uint32_t entryCount) {
    return Field(0xA5A5A5A5) + Field(entryTableOffset) + Field(0x5A5A5A5A) + Field(entryCount);
}

std::string Entry(std::uint32_t textOffset, std::uint32_t textLength) {
    return Field(textOffset) + Field(textLength) + Field(0xC3C3C3C3);
}

// Three entries after the header, texts after the table.
std::string ThreeEntries() {
    const std::uint32_t texts = 16 + 3 * 12;
    return Header(16, 3) + Entry(texts, 5) + Entry(texts + 5, 4) + Entry(texts + 9, 5) +
           "alphabetagamma";
}

// The text of an entry; with no entry, the length must be left alone. A null
// length gives the same text.
std::string TextOf(const TextTable& table, std::uint32_t id) {
    std::uint32_t length = 7;
    const char* text = table.Lookup(id, &length);
    EXPECT_EQ(table.Lookup(id, nullptr), text) << id;
    if (text == TextTable::EmptyText())
        return length == 7 ? "<none>" : "<none, but a length>";
    return std::string(text, length);
}

void ExpectNoEntries(const TextTable& table, const char* what, std::uint32_t entryCount = 0) {
    EXPECT_EQ(table.GetEntryCount(), entryCount) << what;
    for (std::uint32_t id : {0u, 999u, 1000u, 1002u, 1003u, 4294967295u})
        EXPECT_EQ(TextOf(table, id), "<none>") << what << ": " << id;
}

TEST(TextTable, Lookup) {
    ScratchFile zero("text_table_zero.tbl", Header(16, 0) + "tail");
    TextTable never, counted0;
    ExpectNoEntries(never, "never loaded");
    EXPECT_TRUE(counted0.Load(zero.Name()));
    ExpectNoEntries(counted0, "EntryCount 0");
    // The table's own empty text, not the strings'.
    EXPECT_EQ(TextTable::EmptyText()[0], '\0');
    EXPECT_NE(TextTable::EmptyText(), TextString::EmptyText());

    ScratchFile file("text_table_three.tbl", ThreeEntries());
    TextTable table;
    ASSERT_TRUE(table.Load(file.Name()));
    EXPECT_EQ(table.GetEntryCount(), 3u);
    const struct {
        std::uint32_t id;
        const char* text;
    } cases[] = {
        {1000, "alpha"},  {1001, "beta"}, {1002, "gamma"},         {999, "<none>"},
        {1003, "<none>"}, {0, "<none>"},  {4294967295u, "<none>"}, {1000 + 0x80000000u, "<none>"}};
    for (const auto& c : cases)
        EXPECT_EQ(TextOf(table, c.id), c.text) << c.id;
    // In place: the texts follow each other as in the file.
    EXPECT_EQ(table.Lookup(1001, nullptr), table.Lookup(1000, nullptr) + 5);
}

TEST(TextTable, SharedOverlappingAndEmptyTextsPointIntoTheFile) {
    // Texts before the entry table, which need not follow the header.
    const std::uint32_t table = 16 + 6;
    const std::string bytes = Header(table, 5) + "abcdef" + Entry(16, 6) + Entry(16, 6) +
                              Entry(18, 3) + Entry(22, 0) + Entry(table + 5 * 12, 0);
    ScratchFile file("text_table_shared.tbl", bytes);
    TextTable t;
    ASSERT_TRUE(t.Load(file.Name()));
    const char* whole = t.Lookup(1000, nullptr);
    EXPECT_EQ(TextOf(t, 1000), "abcdef");
    EXPECT_EQ(t.Lookup(1001, nullptr), whole);
    EXPECT_EQ(t.Lookup(1002, nullptr), whole + 2);
    EXPECT_EQ(TextOf(t, 1002), "cde");
    // A zero-length text is an entry: a pointer into the file, length 0; the
    // last one starts at the file's very end.
    EXPECT_EQ(t.Lookup(1003, nullptr), whole + 6);
    EXPECT_EQ(t.Lookup(1004, nullptr), whole - 16 + bytes.size());
    EXPECT_EQ(TextOf(t, 1004), "");
}

// The heap reuses addresses, so a release is matched against the blocks
// still out.
struct HeapLog {
    std::vector<std::size_t> sizes;
    std::vector<void*> outstanding;
    int strayReleases = 0;

    static void Allocated(void* block, std::size_t size, void* context) {
        HeapLog* log = static_cast<HeapLog*>(context);
        log->sizes.push_back(size);
        log->outstanding.push_back(block);
    }
    static void Released(void* block, void* context) {
        HeapLog* log = static_cast<HeapLog*>(context);
        auto found = std::find(log->outstanding.begin(), log->outstanding.end(), block);
        if (found == log->outstanding.end())
            ++log->strayReleases;
        else
            log->outstanding.erase(found);
    }
};

TEST(TextTable, LoadMakesOneBlockOfTheFileSizeAndEveryBlockIsFreedOnce) {
    const std::string bytes = ThreeEntries();
    ScratchFile file("text_table_heap.tbl", bytes);
    HeapLog log;
    {
        ScopedHeapWatch watch({HeapLog::Allocated, HeapLog::Released, &log, nullptr});
        TextTable table;
        ASSERT_TRUE(table.Load(file.Name()));
        EXPECT_EQ(log.sizes, std::vector<std::size_t>{bytes.size()});
        table.FreeContents();
        ExpectNoEntries(table, "after FreeContents", 3);
        table.FreeContents();
        ASSERT_TRUE(table.Load(file.Name()));
        table.Reset();
        table.Reset();
        ExpectNoEntries(table, "reset");
        ASSERT_TRUE(table.Load(file.Name()));
        table.FreeContents();
        ASSERT_TRUE(table.Load(file.Name()));
        EXPECT_EQ(TextOf(table, 1001), "beta");
        table.FreeContents();
    } // destruction after FreeContents
    EXPECT_EQ(log.sizes.size(), 4u);
    EXPECT_EQ(log.strayReleases, 0);
    EXPECT_TRUE(log.outstanding.empty());
}

// Load's one block is made while Load holds the file open, so a heap watch
// sees the file as Load holds it: other readers get in, a writer is refused.
struct OpensWhileLoading {
    const char* fileName;
    bool tried = false, readerOpened = false;
    HANDLE writer = nullptr;
    DWORD writerError = 0;

    static void TryOpens(void*, std::size_t, void* context) {
        OpensWhileLoading* opens = static_cast<OpensWhileLoading*>(context);
        if (opens->tried)
            return;
        opens->tried = true;
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
};

TEST(TextTableSharing, WhileLoadHoldsTheFileReadersMayOpenItAndAWriterIsRefused) {
    ScratchFile file("text_table_share.tbl", ThreeEntries());
    OpensWhileLoading opens;
    opens.fileName = file.Name();
    TextTable table;
    {
        ScopedHeapWatch watch({OpensWhileLoading::TryOpens, nullptr, &opens, nullptr});
        EXPECT_TRUE(table.Load(file.Name()));
    }
    EXPECT_TRUE(opens.readerOpened);
    EXPECT_EQ(opens.writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(opens.writerError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (opens.writer != INVALID_HANDLE_VALUE)
        CloseHandle(opens.writer);

    // Load asks for reading alone, so a reader that lets no writer in does
    // not keep it out. Once Load is done, the file is free again.
    HANDLE reader =
        CreateFileA(file.Name(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(TextTable().Load(file.Name()));
    CloseHandle(reader);
    HANDLE writer = CreateFileA(file.Name(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
}

TEST(TextTable, MalformedFilesFailLoadAndLeaveNoEntries) {
    const std::uint32_t end = 16 + 12; // one entry, no texts after it
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
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
    // Each failure follows a good Load, and the table loads again after it.
    ScratchFile good("text_table_control.tbl", ThreeEntries());
    TextTable table;
    ASSERT_TRUE(table.Load(good.Name()));
    EXPECT_FALSE(table.Load("text_table_missing.tbl"));
    ExpectNoEntries(table, "missing file");
    for (const auto& c : cases) {
        ScratchFile file("text_table_malformed.tbl", c.bytes);
        ASSERT_TRUE(table.Load(good.Name()));
        EXPECT_FALSE(table.Load(file.Name())) << c.what;
        ExpectNoEntries(table, c.what);
    }
    // The bounds are inclusive: a text may end exactly at the file's end.
    ScratchFile edge("text_table_edge.tbl", Header(16, 1) + Entry(end - 4, 4));
    ASSERT_TRUE(table.Load(edge.Name()));
    EXPECT_EQ(TextOf(table, 1000), Field(0xC3C3C3C3));
}

// Load's block has the file's size, which comes from outside the program.
// A heap that refuses it fails Load; it never ends the program.
struct Refusal {
    std::vector<std::size_t> asked;

    static bool RefuseAll(std::size_t size, void* context) {
        static_cast<Refusal*>(context)->asked.push_back(size);
        return true;
    }
};

TEST(TextTableLoadFailures, BlockTheHeapCannotGiveFailsLoad) {
    const std::string bytes = ThreeEntries();
    ScratchFile file("text_table_refused.tbl", bytes);
    TextTable table;
    ASSERT_TRUE(table.Load(file.Name()));
    Refusal refusal;
    {
        ScopedHeapWatch watch({nullptr, nullptr, &refusal, Refusal::RefuseAll});
        EXPECT_FALSE(table.Load(file.Name()));
    }
    EXPECT_EQ(refusal.asked, std::vector<std::size_t>{bytes.size()});
    ExpectNoEntries(table, "refused block");
    // The file was closed again: a writer gets in.
    HANDLE writer = CreateFileA(file.Name(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
}

// Sparse files whose first 16 bytes read as an empty table: a size beyond 32
// bits, or the one size that a failed size query also gives, fails Load
// before any block is asked for.
TEST(TextTableLoadFailures, SizesThatDoNotFitIn32Bits) {
    const struct {
        const char* what;
        std::uintmax_t size;
    } cases[] = {{"4 GiB + 16 bytes", 0x100000010ull}, {"4 GiB - 1 bytes", 0xFFFFFFFFull}};
    for (const auto& c : cases) {
        ScratchFile file("text_table_sparse.tbl", Header(16, 0));
        std::error_code error;
        std::filesystem::resize_file(file.Name(), c.size, error);
        if (error)
            GTEST_SKIP() << "no file of " << c.what << " here: " << error.message();
        Refusal refusal;
        TextTable table;
        {
            ScopedHeapWatch watch({nullptr, nullptr, &refusal, Refusal::RefuseAll});
            EXPECT_FALSE(table.Load(file.Name())) << c.what;
        }
        EXPECT_TRUE(refusal.asked.empty()) << c.what;
        ExpectNoEntries(table, c.what);
    }
}

#ifndef _WIN32
// The file shrinks between the size query and the read, which then brings
// fewer bytes than the block holds: Load fails rather than keep bytes that
// the file never had. Only on the stand-in, whose share modes do not keep
// out a POSIX truncate: Windows lets no one shrink a file that Load holds.
struct ShrinkWhileLoading {
    const char* fileName;
    std::uintmax_t size;
    bool shrunk = false;

    static void Shrink(void*, std::size_t, void* context) {
        ShrinkWhileLoading* shrink = static_cast<ShrinkWhileLoading*>(context);
        std::error_code error;
        std::filesystem::resize_file(shrink->fileName, shrink->size, error);
        shrink->shrunk = !error;
    }
};

TEST(TextTableLoadFailures, ReadShorterThanTheSizeFailsLoad) {
    const std::string bytes = ThreeEntries();
    ScratchFile file("text_table_shrinks.tbl", bytes + std::string(64, 'x'));
    ShrinkWhileLoading shrink{file.Name(), bytes.size()};
    TextTable table;
    bool loaded = false;
    {
        ScopedHeapWatch watch({ShrinkWhileLoading::Shrink, nullptr, &shrink, nullptr});
        loaded = table.Load(file.Name());
    }
    ASSERT_TRUE(shrink.shrunk);
    EXPECT_FALSE(loaded);
    ExpectNoEntries(table, "short read");
}
#endif

TEST(TextStringLoadTableText, NullTableMissingIdAndInnerZeroByte) {
    const std::uint32_t texts = 16 + 3 * 12;
    ScratchFile file("text_table_string.tbl", Header(16, 3) + Entry(texts, 5) +
                                                  Entry(texts + 5, 0) + Entry(texts, 3) +
                                                  std::string("ab\0cd", 5));
    TextTable table, never;
    ASSERT_TRUE(table.Load(file.Name()));

    TextString s("keep");
    EXPECT_FALSE(s.LoadTableText(1000, nullptr));
    EXPECT_FALSE(s.LoadTableText(1000, &never));
    EXPECT_FALSE(s.LoadTableText(999, &table));
    EXPECT_FALSE(s.LoadTableText(1003, &table));
    EXPECT_EQ(Bytes(s), "keep");

    EXPECT_TRUE(s.LoadTableText(1000, &table));
    EXPECT_EQ(std::string(s.GetText(), s.GetLength() + 1), std::string("ab\0cd\0", 6));
    EXPECT_NE(s.GetText(), table.Lookup(1000, nullptr)); // a copy
    EXPECT_TRUE(s.LoadTableText(1002, &table));
    EXPECT_EQ(Bytes(s), std::string("ab\0", 3));
    EXPECT_TRUE(s.LoadTableText(1001, &table));
    EXPECT_EQ(s.GetLength(), 0u);
}

} // namespace
