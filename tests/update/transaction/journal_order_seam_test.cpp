// The journal reaches the disk before what it names can: the linker routes
// the core's calls that make folders, stage files and rename through this
// file (--wrap), which looks at the journal on the disk at each of them, and
// can make a staged copy come out otherwise than its package file.
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "copy_tree.h"
#include "package_check.h"
#include "package_manifest.h"
#include "temp_tree.h"
#include "update_transaction.h"

namespace {

std::string journalPath;       // empty: nothing is looked at
bool spoilStaged = false;      // the first byte of each staged copy made another
bool failJournalLines = false; // each write to a journal but its first line fails
bool failJournalReads = false; // a journal cannot be read
bool journalLooksHuge = false; // a journal's size is told as larger than any run writes
std::vector<std::string> foldersMade;
bool journalUnflushed = false;
int journalFlushes = 0;          // flushes of a journal, counted...
int journalFlushesAtCommit = -1; // ...up to the commit's first rename
bool volumeDenied = false;       // the volume cannot be opened: not an administrator
std::mutex stagedFlushesLock;    // staged files are flushed on threads of their own
int stagedFlushes = 0;           // flushes of a staged file, counted...
int stagedFlushesAtCommit = -1;  // ...up to the commit's first rename
std::vector<std::string> problems;

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsJournal(HANDLE file) {
    char path[4096];
    const DWORD length = GetFinalPathNameByHandleA(file, path, sizeof path, 0);
    return length > 0 && length < sizeof path && EndsWith(path, ".Update.journal");
}

// Whether the journal on the disk holds `line`, and everything written to
// it was flushed: otherwise a problem is noted for `step`.
void ExpectDurableLine(const std::string& line, const std::string& step) {
    if (journalPath.empty())
        return;
    std::ifstream in(journalPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (text.str().find("\r\n" + line + "\r\n") == std::string::npos)
        problems.push_back(step + ": the journal does not name it yet");
    if (journalUnflushed)
        problems.push_back(step + ": the journal is not flushed");
}

std::string installRoot, packageRoot; // each ending in a separator

// The path below root, as the journal names it.
std::string Below(const std::string& root, const char* path) {
    const std::string whole(path);
    return whole.compare(0, root.size(), root) == 0 ? whole.substr(root.size()) : whole;
}

} // namespace

extern "C" {
BOOL __real__Z9WriteFilePvPKvjPjP11_OVERLAPPED(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL __wrap__Z9WriteFilePvPKvjPjP11_OVERLAPPED(HANDLE file, LPCVOID data, DWORD size,
                                               LPDWORD written, LPOVERLAPPED overlapped) {
    if (IsJournal(file)) {
        if (failJournalLines &&
            std::string(static_cast<const char*>(data), size).find("Brenvolt-Update-Journal") ==
                std::string::npos) {
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        journalUnflushed = true;
    }
    return __real__Z9WriteFilePvPKvjPjP11_OVERLAPPED(file, data, size, written, overlapped);
}

BOOL __real__Z8ReadFilePvS_jPjP11_OVERLAPPED(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL __wrap__Z8ReadFilePvS_jPjP11_OVERLAPPED(HANDLE file, LPVOID data, DWORD size, LPDWORD read,
                                             LPOVERLAPPED overlapped) {
    if (failJournalReads && IsJournal(file)) {
        SetLastError(ERROR_CRC);
        return FALSE;
    }
    return __real__Z8ReadFilePvS_jPjP11_OVERLAPPED(file, data, size, read, overlapped);
}

BOOL __real__Z26GetFileInformationByHandlePvP27_BY_HANDLE_FILE_INFORMATION(
    HANDLE, LPBY_HANDLE_FILE_INFORMATION);
BOOL __wrap__Z26GetFileInformationByHandlePvP27_BY_HANDLE_FILE_INFORMATION(
    HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    const BOOL told =
        __real__Z26GetFileInformationByHandlePvP27_BY_HANDLE_FILE_INFORMATION(file, information);
    if (told && journalLooksHuge && IsJournal(file))
        information->nFileSizeHigh = 1;
    return told;
}

BOOL __real__Z16FlushFileBuffersPv(HANDLE);
BOOL __wrap__Z16FlushFileBuffersPv(HANDLE file) {
    const BOOL flushed = __real__Z16FlushFileBuffersPv(file);
    if (flushed && IsJournal(file)) {
        journalUnflushed = false;
        ++journalFlushes;
    }
    char path[4096];
    const DWORD length = GetFinalPathNameByHandleA(file, path, sizeof path, 0);
    if (flushed && length > 0 && length < sizeof path && EndsWith(path, ".tmp")) {
        const std::lock_guard<std::mutex> hold(stagedFlushesLock);
        ++stagedFlushes;
    }
    return flushed;
}

HANDLE __real__Z11CreateFileAPKcjjP20_SECURITY_ATTRIBUTESjjPv(LPCSTR, DWORD, DWORD,
                                                              LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                                              HANDLE);
HANDLE __wrap__Z11CreateFileAPKcjjP20_SECURITY_ATTRIBUTESjjPv(LPCSTR name, DWORD access,
                                                              DWORD share,
                                                              LPSECURITY_ATTRIBUTES security,
                                                              DWORD creation, DWORD flags,
                                                              HANDLE copyFrom) {
    if (volumeDenied && std::string(name).rfind("\\\\?\\Volume", 0) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return __real__Z11CreateFileAPKcjjP20_SECURITY_ATTRIBUTESjjPv(name, access, share, security,
                                                                  creation, flags, copyFrom);
}

BOOL __real__Z16CreateDirectoryAPKcP20_SECURITY_ATTRIBUTES(LPCSTR, LPSECURITY_ATTRIBUTES);
BOOL __wrap__Z16CreateDirectoryAPKcP20_SECURITY_ATTRIBUTES(LPCSTR path,
                                                           LPSECURITY_ATTRIBUTES security) {
    ExpectDurableLine("D " + Below(installRoot, path), std::string("folder ") + path);
    foldersMade.push_back(path);
    return __real__Z16CreateDirectoryAPKcP20_SECURITY_ATTRIBUTES(path, security);
}

BOOL __real__Z11CopyFileExAPKcS0_PFj14_LARGE_INTEGERS1_S1_S1_jjPvS2_S2_ES2_Pij(LPCSTR, LPCSTR,
                                                                               LPPROGRESS_ROUTINE,
                                                                               LPVOID, LPBOOL,
                                                                               DWORD);
BOOL __wrap__Z11CopyFileExAPKcS0_PFj14_LARGE_INTEGERS1_S1_S1_jjPvS2_S2_ES2_Pij(
    LPCSTR from, LPCSTR to, LPPROGRESS_ROUTINE routine, LPVOID data, LPBOOL cancel, DWORD flags) {
    ExpectDurableLine("N " + Below(packageRoot, from), std::string("staged ") + to);
    const BOOL copied = __real__Z11CopyFileExAPKcS0_PFj14_LARGE_INTEGERS1_S1_S1_jjPvS2_S2_ES2_Pij(
        from, to, routine, data, cancel, flags);
    if (copied && spoilStaged) {
        HANDLE staged = CreateFileA(to, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD written = 0;
        WriteFile(staged, "x", 1, &written, nullptr);
        CloseHandle(staged);
    }
    return copied;
}

BOOL __real__Z11MoveFileExAPKcS0_j(LPCSTR, LPCSTR, DWORD);
BOOL __wrap__Z11MoveFileExAPKcS0_j(LPCSTR from, LPCSTR to, DWORD flags) {
    ExpectDurableLine("C", std::string("renamed ") + from);
    if (journalFlushesAtCommit < 0) {
        journalFlushesAtCommit = journalFlushes;
        const std::lock_guard<std::mutex> hold(stagedFlushesLock);
        stagedFlushesAtCommit = stagedFlushes;
    }
    return __real__Z11MoveFileExAPKcS0_j(from, to, flags);
}
}

namespace {

// Each line is on the disk before what it names, and a new folder costs one
// flush of the journal at most: its line goes with its files' lines. Where
// the volume cannot be flushed whole, every staged file is flushed before
// the commit begins.
TEST(JournalOrder, EachLineIsOnTheDiskBeforeWhatItNames) {
    const auto flushesBeforeCommit = [](const std::vector<const char*>& names) {
        TempTree tree;
        for (const char* name : names)
            tree.WriteFile(std::string("package\\") + name, "new");
        tree.MakeDirectory("install");
        journalPath = tree.Root() + "/install/.Update.journal";
        installRoot = tree.Path("install") + "\\";
        packageRoot = tree.Path("package") + "\\";
        problems.clear();
        journalFlushes = 0;
        journalFlushesAtCommit = -1;
        stagedFlushes = 0;
        stagedFlushesAtCommit = -1;
        const CopyResult result = CopyTree(TextString(tree.Path("package").c_str()),
                                           TextString(tree.Path("install").c_str()), "*.*");
        journalPath.clear();
        EXPECT_EQ(result.state, InstallState::kInstalled);
        EXPECT_EQ(tree.ReadFile(std::string("install\\") + names.back()), "new");
        EXPECT_EQ(problems, std::vector<std::string>());
        return journalFlushesAtCommit;
    };
    const int flat = flushesBeforeCommit({"a.txt"});
    const int deep = flushesBeforeCommit({"a.txt", "New\\b.txt", "New\\Deeper\\c.txt"});
    EXPECT_GT(flat, 0);
    EXPECT_LE(deep - flat, 2) << "two new folders";
    volumeDenied = true;
    flushesBeforeCommit({"a.txt", "New\\b.txt", "New\\Deeper\\c.txt", "d.txt", "e.txt"});
    volumeDenied = false;
    EXPECT_EQ(stagedFlushesAtCommit, 5);
}

// What is checked is the staged copy, not the package file a second time: a
// copy that came out otherwise (the package file changed while it was read)
// is not installed.
TEST(StagedCheck, TheStagedCopyIsWhatIsHashed) {
    TempTree tree;
    tree.WriteFile("package\\a.txt", "abc");
    tree.WriteFile("install\\a.txt", "old");
    // The SHA-256 of "abc".
    const std::string text =
        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad  a.txt\n";
    PackageManifest manifest;
    ASSERT_TRUE(manifest.Parse(text.data(), static_cast<std::uint32_t>(text.size())));
    PackageCheck check(manifest, TextString(tree.Path("package").c_str()), nullptr, nullptr);
    spoilStaged = true;
    const CopyResult result =
        CopyTree(TextString(tree.Path("package").c_str()), TextString(tree.Path("install").c_str()),
                 "*.*", nullptr, nullptr, &check);
    spoilStaged = false;
    EXPECT_EQ(result.state, InstallState::kUnchanged);
    EXPECT_EQ(result.damagedFiles, 1u);
    EXPECT_EQ(tree.ReadFile("install\\a.txt"), "old");
}

// A folder is made only once its line is on the disk: when the line cannot
// be written, the folder is not made, and the run is undone.
TEST(JournalOrder, NoFolderIsMadeWhoseLineCouldNotBeWritten) {
    TempTree tree;
    tree.WriteFile("package\\a.txt", "new");
    tree.WriteFile("package\\New\\b.txt", "new");
    tree.MakeDirectory("install");
    foldersMade.clear();
    failJournalLines = true;
    const CopyResult result = CopyTree(TextString(tree.Path("package").c_str()),
                                       TextString(tree.Path("install").c_str()), "*.*");
    failJournalLines = false;
    EXPECT_EQ(result.state, InstallState::kUnchanged);
    EXPECT_EQ(foldersMade, std::vector<std::string>());
    EXPECT_FALSE(tree.Exists("install\\a.txt"));
}

// A journal that is there but cannot be read may stand for a half-done
// installation: the recovery fails, and the journal stays.
TEST(Recovery, AJournalThatCannotBeReadFails) {
    TempTree tree;
    tree.WriteFile("install\\.Update.journal",
                   "Brenvolt-Update-Journal 0000ABCD\r\nR a.txt\r\nC\r\n");
    tree.WriteFile("install\\.Update-0000ABCD-00000000.old", "old a");
    failJournalReads = true;
    const Recovery recovery =
        RecoverInstallation(TextString(tree.Path("install").c_str()), nullptr);
    failJournalReads = false;
    EXPECT_EQ(recovery, Recovery::kFailed);
    EXPECT_TRUE(tree.Exists("install\\.Update.journal"));
    EXPECT_TRUE(tree.Exists("install\\.Update-0000ABCD-00000000.old"));
}

// A journal that no run wrote whole puts a backup back only through folders
// it can hold: never through a link, which may lead anywhere.
TEST(Recovery, AnUnusableJournalPutsNothingBackThroughALink) {
    TempTree tree;
    tree.WriteFile("outside\\.Update-0000ABCD-00000000.old", "someone's");
    tree.MakeDirectory("install");
    std::filesystem::create_symlink(tree.Root() + "/outside", tree.Root() + "/install/Sub");
    tree.WriteFile("install\\.Update.journal",
                   "Brenvolt-Update-Journal 0000ABCD\r\nR Sub\\a.txt\r\nR b.txt\r\n");
    tree.WriteFile("install\\.Update-0000ABCD-00000001.old", "old b");
    journalLooksHuge = true;
    const Recovery recovery =
        RecoverInstallation(TextString(tree.Path("install").c_str()), nullptr);
    journalLooksHuge = false;
    EXPECT_EQ(recovery, Recovery::kUnusable);
    EXPECT_TRUE(tree.Exists("outside\\.Update-0000ABCD-00000000.old"));
    EXPECT_FALSE(tree.Exists("outside\\a.txt"));
    EXPECT_EQ(tree.ReadFile("install\\b.txt"), "old b");
}

} // namespace
