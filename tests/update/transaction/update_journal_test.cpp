// The journal as a later run reads it: what it takes as a journal, which
// lines it acts on, and which paths it trusts to lie inside the
// installation.
#include <string>

#include <gtest/gtest.h>

#include "momentary_holder.h"
#include "temp_tree.h"
#include "update_journal.h"
#include "update_transaction.h"

namespace {

const char kHeader[] = "Brenvolt-Update-Journal 0000ABCD\r\n";

// The changes read, as "<kind> <path>" joined by '|'.
std::string Changes(const JournalContents& contents) {
    std::string text;
    std::uint32_t position = 0;
    ChangeList::Change change = {};
    while (contents.changes.Next(position, change))
        text += std::string(text.empty() ? "" : "|") + change.kind + " " + change.path;
    return text;
}

TEST(JournalReader, TakesOnlyWhatARunWrites) {
    const struct {
        std::string text;
        JournalRead read;
        JournalState state;
        const char* changes;
        std::uint32_t skipped;
    } cases[] = {
        {std::string(kHeader) + "D New\r\nN New\\a.txt\r\nR b.txt\r\n", JournalRead::kRead,
         JournalState::kStaging, "D New|N New\\a.txt|R b.txt", 0},
        {std::string(kHeader) + "R b.txt\r\nC\r\n", JournalRead::kRead, JournalState::kCommitting,
         "R b.txt", 0},
        {std::string(kHeader) + "R b.txt\r\nC\r\nK\r\n", JournalRead::kRead,
         JournalState::kCommitted, "R b.txt", 0},
        // A last line cut off by a stopped run is left out, not skipped.
        {std::string(kHeader) + "R b.txt\r\nC", JournalRead::kRead, JournalState::kStaging,
         "R b.txt", 0},
        {std::string(kHeader) + "R b.txt\r\nR c.t", JournalRead::kRead, JournalState::kStaging,
         "R b.txt", 0},
        // No journal of a run: the header missing, cut, or of another id form.
        {"R b.txt\r\nC\r\n", JournalRead::kForeign, JournalState::kStaging, "", 1},
        {"", JournalRead::kForeign, JournalState::kStaging, "", 0},
        {"Brenvolt-Update-Journal 0000abcd\r\nR b.txt\r\n", JournalRead::kForeign,
         JournalState::kStaging, "", 1},
        {"Brenvolt-Update-Journal 0000ABC\r\nR b.txt\r\n", JournalRead::kForeign,
         JournalState::kStaging, "", 1},
        // Lines that would lead outside the installation, or to a name of
        // its own, or that are no record: passed over and counted.
        {std::string(kHeader) + "R ..\\x\r\nR a\\..\\..\\x\r\nN C:\\x\r\nN \\x\r\nR a\\\\b\r\n" +
             "R .Update.lock\r\nR Data\\.hidden\\x\r\nD .\r\nR a/../../x\r\nR nul\r\n" +
             "R a.txt \r\nR \r\nX a.txt\r\nRa.txt\r\nR ok.txt\r\n",
         JournalRead::kRead, JournalState::kStaging, "R ok.txt", 14},
        {std::string(kHeader) + "R " + std::string(300, 'x') + "\r\nR ok.txt\r\n",
         JournalRead::kRead, JournalState::kStaging, "R ok.txt", 1},
        {std::string(kHeader) + std::string("R a\0b\r\nR ok.txt\r\n", 17), JournalRead::kRead,
         JournalState::kStaging, "R ok.txt", 1},
        // A line longer than a read: its tail, where the next read begins, is
        // part of it and no record of its own.
        {std::string(kHeader) + "R " + std::string(65536 - sizeof kHeader + 1 - 2, 'x') +
             "R tail.txt\r\nR ok.txt\r\n",
         JournalRead::kRead, JournalState::kStaging, "R ok.txt", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TempTree tree;
        tree.WriteFile(".Update.journal", c.text);
        JournalContents contents;
        EXPECT_EQ(ReadJournal(TextString(tree.Path(".Update.journal").c_str()), contents), c.read);
        EXPECT_EQ(contents.state, c.state);
        EXPECT_EQ(Changes(contents), c.changes);
        EXPECT_EQ(contents.skipped, c.skipped);
    }
}

TEST(JournalReader, NoJournalOrOneOfAnotherKind) {
    TempTree tree;
    JournalContents contents;
    const TextString path(tree.Path(".Update.journal").c_str());
    EXPECT_EQ(ReadJournal(path, contents), JournalRead::kNone);
    tree.MakeDirectory(".Update.journal");
    EXPECT_EQ(ReadJournal(path, contents), JournalRead::kForeign);
    EXPECT_EQ(Changes(contents), "");
}

// Once every file of a stopped run was in, only its old files are left to
// remove: one that another program holds for a moment is waited for and
// removed; the recovery is complete.
TEST(Recovery, AnOldFileHeldForAMomentIsRemovedOnceLetGo) {
    TempTree tree;
    tree.WriteFile("install\\.Update.journal", std::string(kHeader) + "R a.txt\r\nC\r\nK\r\n");
    tree.WriteFile("install\\a.txt", "new a");
    tree.WriteFile("install\\.Update-0000ABCD-00000000.old", "old a");
    Recovery recovery;
    {
        MomentaryHolder holder(tree.Path("install\\.Update-0000ABCD-00000000.old"), 300);
        recovery = RecoverInstallation(TextString(tree.Path("install").c_str()), nullptr);
    }
    EXPECT_EQ(recovery, Recovery::kCompleted);
    EXPECT_FALSE(tree.Exists("install\\.Update-0000ABCD-00000000.old"));
    EXPECT_FALSE(tree.Exists("install\\.Update.journal"));
    EXPECT_EQ(tree.ReadFile("install\\a.txt"), "new a");
}

// A recovery acts on each line: the lines, not only the bytes, are bounded.
// A run writes no more than a reader takes; one of more is no run's.
TEST(JournalLines, NoMoreThanTheMostARunWrites) {
    TempTree tree;
    const TextString path(tree.Path(".Update.journal").c_str());
    JournalFile journal;
    ASSERT_TRUE(journal.Create(path, 0xABCD));
    for (std::uint32_t i = 0; i < kMaxJournalLines; ++i)
        journal.Add('N', "a.txt");
    EXPECT_TRUE(journal.WriteOut());
    EXPECT_TRUE(journal.Mark(JournalState::kCommitting));
    journal.Close();
    JournalContents contents;
    EXPECT_EQ(ReadJournal(path, contents), JournalRead::kRead);
    EXPECT_EQ(contents.state, JournalState::kCommitting);

    ASSERT_TRUE(DeleteFileA(path.GetText()));
    ASSERT_TRUE(journal.Create(path, 0xABCD));
    for (std::uint32_t i = 0; i <= kMaxJournalLines; ++i)
        journal.Add('N', "a.txt");
    EXPECT_FALSE(journal.WriteOut());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_TOO_LARGE));
    journal.Close();

    std::string text = kHeader;
    for (std::uint32_t i = 0; i < kMaxJournalLines + 3; ++i)
        text += "N a.txt\r\n";
    tree.WriteFile(".Update.journal", text);
    JournalContents more;
    EXPECT_EQ(ReadJournal(path, more), JournalRead::kForeign);
}

} // namespace
