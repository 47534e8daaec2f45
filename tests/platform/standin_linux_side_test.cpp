// What only the Linux side of the stand-in does: backslash paths, links,
// the message box on standard error, WinExec on PATH, pattern matching,
// links of other users (also swapped in for a folder), files of /proc,
// reads of a directory, the space free to the caller.
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/standin/kernel32/name_pattern.h"
#include "platform/win32_api.h"
#include "temp_tree.h"
#include "watchdog.h"
#include "win32_check.h"

namespace {

TEST(NamePattern, WildcardsCaseAndTrailingDots) {
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    } cases[] = {
        {".", "*.*", true},
        {"..", "*", true},
        {"a.b.c", "*.b", false},
        {"xy", "?", false},
        {"", "?", false},
        {"abc", "abc.", true},
        {"ab", "abc", false},
        {"aXbXc", "a*b*c", true},
        {"abcbc", "*bc", true},
        {"mississippi", "m*iss*ppi", true},
        {"file.txt.bak", "*.txt", false},
        {"\xFC.txt", "\xDC.txt", false}, // only ASCII letters fold
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesNamePattern(c.name, c.pattern), c.matches)
            << '"' << c.name << "\" against \"" << c.pattern << '"';
}

TEST(PosixPaths, NamesAreFoundWithoutRegardToCase) {
    TempTree tree;
    tree.MakeDirectory("Data");
    tree.WriteFile("Data\\Readme.TXT", "old");
    tree.WriteFile("new.txt", "new");
    EXPECT_NE(GetFileAttributesA(tree.Path("DATA\\readme.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    // Overwriting goes to the file that is there, not to a second one.
    EXPECT_TRUE(
        CopyFileA(tree.Path("NEW.TXT").c_str(), tree.Path("data\\README.txt").c_str(), FALSE));
    EXPECT_EQ(tree.ReadFile("Data\\Readme.TXT"), "new");
    struct stat info;
    EXPECT_NE(stat((tree.Root() + "/data").c_str(), &info), 0);
    // A new name is made as written, backslashes being separators.
    tree.WriteFile("DATA\\Extra.txt", "x");
    EXPECT_EQ(stat((tree.Root() + "/Data/Extra.txt").c_str(), &info), 0);
    tree.WriteFile("DATA\\READ", "the start of another name is no match");
    EXPECT_EQ(stat((tree.Root() + "/Data/READ").c_str(), &info), 0);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(tree.Path("data\\readme.*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "Readme.TXT");
    FindClose(find);

    // What others change in a folder is seen at once, and so is what the
    // stand-in changes itself, also with two cases of one name there.
    const std::string posixData = tree.Root() + "/Data/";
    ASSERT_EQ(rename((posixData + "Readme.TXT").c_str(), (posixData + "Other.Txt").c_str()), 0);
    EXPECT_EQ(GetFileAttributesA(tree.Path("DATA\\readme.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA(tree.Path("data\\other.TXT").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(
        MoveFileExA(tree.Path("Data\\Other.Txt").c_str(), tree.Path("Data\\Moved.txt").c_str(), 0));
    EXPECT_WIN32_FAILURE(Open(tree.Path("DATA\\MOVED.TXT"), GENERIC_WRITE, 0, CREATE_NEW),
                         INVALID_HANDLE_VALUE, ERROR_FILE_EXISTS);
    EXPECT_EQ(GetFileAttributesA(tree.Path("data\\other.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(rename((posixData + "Extra.txt").c_str(), (posixData + "moved.TXT").c_str()), 0);
    EXPECT_NE(GetFileAttributesA(tree.Path("Data\\MOVED.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(DeleteFileA(tree.Path("Data\\Moved.txt").c_str()));
    EXPECT_EQ(tree.ReadFile("data\\MOVED.txt"), "x");
    // Moved into another folder, the name is there and no longer here.
    EXPECT_TRUE(
        MoveFileExA(tree.Path("data\\moved.txt").c_str(), tree.Path("Away.txt").c_str(), 0));
    EXPECT_EQ(tree.ReadFile("away.TXT"), "x");
    tree.WriteFile("DATA\\AWAY.TXT", "y");
    EXPECT_EQ(stat((posixData + "AWAY.TXT").c_str(), &info), 0);
}

TEST(PosixPaths, ALinkToADirectoryShowsAsADirectoryAndIsRemovedAlone) {
    TempTree tree;
    tree.MakeDirectory("real");
    ASSERT_EQ(symlink("real", (tree.Root() + "/link").c_str()), 0);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(tree.Path("link").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes,
              DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(GetFileAttributesA(tree.Path("real").c_str()), DWORD(FILE_ATTRIBUTE_DIRECTORY));
    FindClose(find);
    EXPECT_EQ(GetFileAttributesA(tree.Path("link").c_str()),
              DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    // A handle opens the link itself only where asked to.
    auto attributes = [&](DWORD flags) {
        HANDLE held = Open(tree.Path("link"), FILE_LIST_DIRECTORY, FILE_SHARE_READ, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | flags);
        BY_HANDLE_FILE_INFORMATION info = {};
        EXPECT_TRUE(GetFileInformationByHandle(held, &info));
        CloseHandle(held);
        return info.dwFileAttributes;
    };
    EXPECT_EQ(attributes(FILE_FLAG_OPEN_REPARSE_POINT),
              DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(attributes(0), DWORD(FILE_ATTRIBUTE_DIRECTORY));
    // Removing a link to a directory removes the link, as for a directory
    // symlink on Windows, and leaves what it leads to.
    tree.WriteFile("real\\kept.txt", "kept");
    EXPECT_TRUE(RemoveDirectoryA(tree.Path("link").c_str()));
    EXPECT_FALSE(tree.Exists("link"));
    EXPECT_EQ(tree.ReadFile("real\\kept.txt"), "kept");
}

// A folder removed while its parent is being listed still shows as a
// folder, as the listing saw it.
TEST(FindNextFileA, EntryRemovedSinceTheListingKeepsItsKind) {
    TempTree tree;
    tree.WriteFile("a.txt", "a");
    tree.WriteFile("b\\inner.txt", "inner");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(tree.Path("*.*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    ASSERT_EQ(std::filesystem::remove_all(tree.Root() + "/b"), 2u);
    while (std::strcmp(data.cFileName, "b") != 0)
        ASSERT_TRUE(FindNextFileA(find, &data));
    EXPECT_EQ(data.dwFileAttributes, DWORD(FILE_ATTRIBUTE_DIRECTORY));
    FindClose(find);
}

// Attributes, deleting and replacing act on a link itself, never on what it
// leads to, as for a symbolic link on Windows.
TEST(PosixPaths, ALinkIsAReparsePointAndWhatItLeadsToIsNotChangedThroughIt) {
    TempTree tree;
    tree.WriteFile("victim.txt", "precious");
    const std::string victim = tree.Root() + "/victim.txt";
    ASSERT_EQ(chmod(victim.c_str(), 0444), 0);
    for (const char* name : {"link.txt", "other.txt"})
        ASSERT_EQ(symlink(victim.c_str(), (tree.Root() + "/" + name).c_str()), 0);
    const DWORD linkAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_EQ(GetFileAttributesA(tree.Path("link.txt").c_str()), linkAttributes);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(tree.Path("link.txt").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, linkAttributes);
    EXPECT_EQ(data.dwReserved0, DWORD(IO_REPARSE_TAG_SYMLINK));
    FindClose(find);

    EXPECT_TRUE(SetFileAttributesA(tree.Path("link.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA(tree.Path("link.txt").c_str()));
    tree.WriteFile("new.txt", "new");
    EXPECT_TRUE(MoveFileExA(tree.Path("new.txt").c_str(), tree.Path("other.txt").c_str(),
                            MOVEFILE_REPLACE_EXISTING));
    struct stat info;
    ASSERT_EQ(stat(victim.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u);
    EXPECT_FALSE(tree.Exists("link.txt"));
    EXPECT_EQ(tree.ReadFile("other.txt"), "new");
    EXPECT_EQ(tree.ReadFile("victim.txt"), "precious");
}

// A link that another user owns is not followed to write, create or
// truncate (it may have been planted where the caller, root, writes a log);
// the caller's own links are, and reading follows any link.
TEST(CreateFileA, WritesDoNotFollowAnotherUsersLink) {
    TempTree tree;
    tree.WriteFile("victim.txt", "precious");
    const std::string link = tree.Root() + "/update.log";
    ASSERT_EQ(symlink((tree.Root() + "/victim.txt").c_str(), link.c_str()), 0);
    if (geteuid() != 0 || lchown(link.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "giving the link to another user needs root";
    for (DWORD disposition : {CREATE_ALWAYS, OPEN_ALWAYS, TRUNCATE_EXISTING, OPEN_EXISTING}) {
        SCOPED_TRACE(disposition);
        EXPECT_WIN32_FAILURE(Open(link, GENERIC_WRITE, FILE_SHARE_READ, disposition),
                             INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
    }
    EXPECT_WIN32_FAILURE(Open(link, GENERIC_READ, kShareAll, CREATE_ALWAYS), INVALID_HANDLE_VALUE,
                         ERROR_ACCESS_DENIED);
    EXPECT_EQ(tree.ReadFile("victim.txt"), "precious");
    HANDLE reader = Open(link, GENERIC_READ, kShareAll);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    // Nor part way along the path: a log's folder that is another's link.
    tree.WriteFile("victims\\update.log", "precious");
    const std::string logs = tree.Root() + "/logs";
    ASSERT_EQ(symlink("victims", logs.c_str()), 0);
    ASSERT_EQ(lchown(logs.c_str(), 65534, 65534), 0);
    EXPECT_WIN32_FAILURE(Open(tree.Path("logs\\update.log"), GENERIC_WRITE, 0, CREATE_ALWAYS),
                         INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
    EXPECT_WIN32_FAILURE(CreateDirectoryA(tree.Path("logs\\new").c_str(), nullptr), FALSE,
                         ERROR_ACCESS_DENIED);
    EXPECT_EQ(tree.ReadFile("victims\\update.log"), "precious");
    EXPECT_FALSE(tree.Exists("victims\\new"));

    ASSERT_EQ(lchown(logs.c_str(), 0, 0), 0);
    tree.WriteFile("logs\\update.log", "log");
    EXPECT_EQ(tree.ReadFile("victims\\update.log"), "log");
    ASSERT_EQ(lchown(link.c_str(), 0, 0), 0);
    HANDLE writer = Open(link, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    CloseHandle(writer);
    EXPECT_EQ(tree.ReadFile("victim.txt"), "");
    // A trusted link that leads nowhere yet: what it leads to is made, as
    // on Win32; another user's is not.
    ASSERT_EQ(symlink("made.log", (tree.Root() + "/dangling.log").c_str()), 0);
    for (DWORD disposition : {CREATE_ALWAYS, OPEN_ALWAYS}) {
        SCOPED_TRACE(disposition);
        writer = Open(tree.Path("dangling.log"), GENERIC_WRITE, FILE_SHARE_READ, disposition);
        EXPECT_NE(writer, INVALID_HANDLE_VALUE);
        CloseHandle(writer);
        EXPECT_TRUE(tree.Exists("made.log"));
        DeleteFileA(tree.Path("made.log").c_str());
    }
    ASSERT_EQ(lchown((tree.Root() + "/dangling.log").c_str(), 65534, 65534), 0);
    EXPECT_WIN32_FAILURE(Open(tree.Path("dangling.log"), GENERIC_WRITE, 0, CREATE_ALWAYS),
                         INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(tree.Exists("made.log"));
}

// Links of the caller's own that lead round in a circle end the walk of a
// write path, as Windows ends one after its most reparse points.
TEST(CreateFileA, ALoopOfTrustedLinksFailsAndDoesNotHang) {
    TempTree tree;
    ASSERT_EQ(symlink("two", (tree.Root() + "/one").c_str()), 0);
    ASSERT_EQ(symlink("one", (tree.Root() + "/two").c_str()), 0);
    const Watchdog watchdog("a write through a loop of links", 10);
    for (const char* path : {"one\\log.txt", "one\\sub\\log.txt"}) {
        SCOPED_TRACE(path);
        EXPECT_WIN32_FAILURE(Open(tree.Path(path), GENERIC_WRITE, 0, CREATE_ALWAYS),
                             INVALID_HANDLE_VALUE, ERROR_CANT_RESOLVE_FILENAME);
    }
    EXPECT_WIN32_FAILURE(CreateDirectoryA(tree.Path("one\\new").c_str(), nullptr), FALSE,
                         ERROR_CANT_RESOLVE_FILENAME);
}

// A folder lists in the order NTFS keeps: by the up-cased names ("_" after
// the letters), as code page 1252 reads them; "\xC4" (Ä) and "\xE4" (ä) are
// one letter, in a listing as in a look-up.
TEST(FindFirstFileA, ListsInTheOrderOfTheUpCasedNames) {
    TempTree tree;
    for (const char* name : {"b.txt", "_c.txt", "\xE4.txt", "Z.txt", "A.txt", "C.txt"})
        tree.WriteFile(name, name);
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(tree.Path("*.txt").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    EXPECT_EQ(names,
              std::vector<std::string>({"A.txt", "b.txt", "C.txt", "Z.txt", "_c.txt", "\xE4.txt"}));
    EXPECT_EQ(tree.ReadFile("\xC4.TXT"), "\xE4.txt");
    tree.WriteFile("\xC4.txt", "one name");
    EXPECT_EQ(tree.ReadFile("\xE4.txt"), "one name");
}

// Calls that change a name act in the folder their walk opened: "Data"
// swapped for another user's link to a folder of root's ("outside") makes
// them fail there. (A swap that races the calls is the update run's race
// test.)
class SwappedFolder : public testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "links of another user need root";
        ASSERT_EQ(mkdir(At("outside").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(At("Data").c_str(), 0777), 0);
        ASSERT_EQ(symlink(At("outside").c_str(), At("link").c_str()), 0);
        ASSERT_EQ(lchown(At("link").c_str(), 65534, 65534), 0);
        Fill(open(At("outside").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        Fill(open(At("Data").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        before_ = Outside();
    }
    std::string At(const char* name) const { return tree_.Root() + "/" + name; }
    // What the calls act on, as far as it is missing, in the folder at fd
    // (closed), and the file that a move takes in beside it.
    void Fill(int folder) const {
        for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
            close(openat(folder, name, O_WRONLY | O_CREAT, 0644));
            fchmodat(folder, name, 0644, 0);
        }
        mkdirat(folder, "sub", 0755);
        unlinkat(folder, "new", AT_REMOVEDIR);
        close(folder);
        tree_.WriteFile("here.txt", "here");
        unlink(At("moved.txt").c_str());
    }
    // The names outside with their kind, permissions and size.
    std::string Outside() const {
        std::string listing;
        for (const auto& name : std::set<std::filesystem::path>(
                 std::filesystem::directory_iterator(At("outside")), {})) {
            struct stat info = {};
            lstat(name.c_str(), &info);
            listing += name.filename().string() + " " + std::to_string(info.st_mode) + " " +
                       std::to_string(info.st_size) + "\n";
        }
        return listing;
    }
    bool Swap() const {
        return renameat2(AT_FDCWD, At("Data").c_str(), AT_FDCWD, At("link").c_str(),
                         RENAME_EXCHANGE) == 0;
    }
    // The error of each call on a name in "Data" (0 where it succeeded).
    std::vector<DWORD> Calls() const {
        auto at = [this](const char* name) { return tree_.Path(name); };
        auto error = [](BOOL done) { return done ? DWORD(0) : GetLastError(); };
        return {error(DeleteFileA(at("Data\\a.txt").c_str())),
                error(MoveFileExA(at("Data\\b.txt").c_str(), at("moved.txt").c_str(), 0)),
                error(MoveFileExA(at("here.txt").c_str(), at("Data\\c.txt").c_str(),
                                  MOVEFILE_REPLACE_EXISTING)),
                error(RemoveDirectoryA(at("Data\\sub").c_str())),
                error(CreateDirectoryA(at("Data\\new").c_str(), nullptr)),
                error(SetFileAttributesA(at("Data\\d.txt").c_str(), FILE_ATTRIBUTE_READONLY))};
    }

    TempTree tree_;
    std::string before_;
};

TEST_F(SwappedFolder, AnotherUsersLinkIsRefusedAndRootsOwnIsFollowed) {
    ASSERT_TRUE(Swap());
    EXPECT_EQ(Calls(), std::vector<DWORD>(6, ERROR_ACCESS_DENIED));
    EXPECT_EQ(Outside(), before_);
    EXPECT_EQ(tree_.ReadFile("here.txt"), "here");
    ASSERT_EQ(lchown(At("Data").c_str(), 0, 0), 0);
    EXPECT_EQ(Calls(), std::vector<DWORD>(6, 0));
    EXPECT_NE(Outside(), before_);
}

// Files of /proc report size 0 and still have contents.
TEST(CopyFileA, AFileThatReportsNoSizeIsCopiedToItsEnd) {
    TempTree tree;
    ASSERT_TRUE(CopyFileA("/proc/version", tree.Path("version").c_str(), FALSE));
    std::ifstream in("/proc/version");
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(tree.ReadFile("version"), text + "\n");
}

// A directory has no data, so not even a read of nothing succeeds.
TEST(ReadFile, ADirectoryHandleReadsNothing) {
    TempTree tree;
    tree.MakeDirectory("dir");
    HANDLE dir =
        Open(tree.Path("dir"), GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(dir, INVALID_HANDLE_VALUE);
    char buffer[1];
    DWORD read = 7;
    EXPECT_WIN32_FAILURE(ReadFile(dir, buffer, 0, &read, nullptr), FALSE, ERROR_ACCESS_DENIED);
    EXPECT_EQ(read, 0u);
    CloseHandle(dir);
}

TEST(MessageBoxA, WritesCaptionAndTextAsUtf8ToStandardError) {
    struct Case {
        const char* caption;
        const char* text;
        const char* shown;
    } cases[] = {
        {"Error",
         "Sie m\xFCssen erst Brenvolt schlie\xDF"
         "en,\r\nbevor Sie.",
         "Error: Sie m\xC3\xBCssen erst Brenvolt schlie\xC3\x9F"
         "en,\nbevor Sie.\n"},
        {"Info", "Es wurden 2 Dateien kopiert.\r\n\r\nEnde",
         "Info: Es wurden 2 Dateien kopiert.\n\nEnde\n"},
        {"\x80", "\x81\x9F\xA0\xFF", "\xE2\x82\xAC: \xC2\x81\xC5\xB8\xC2\xA0\xC3\xBF\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        int result = MessageBoxA(GetDesktopWindow(), c.text, c.caption, MB_OK | MB_ICONWARNING);
        std::string shown = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, IDOK);
        EXPECT_EQ(shown, c.shown);
    }
}

TEST(WinExec, StartsTheProgramFromPathWithoutWaiting) {
    TempTree tree;
    std::string record = tree.Root() + "/record.txt";
    // Written whole at once, so that a half-written record is never read.
    tree.WriteFile("notepad.exe", "#!/bin/sh\nsleep 0.2\necho \"$PWD|$*\" > " + record +
                                      ".tmp && mv " + record + ".tmp " + record + "\n");
    ASSERT_EQ(chmod((tree.Root() + "/notepad.exe").c_str(), 0755), 0);
    std::string savedPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    setenv("PATH", (tree.Root() + ":" + savedPath).c_str(), 1);
    auto started = std::chrono::steady_clock::now();
    EXPECT_GT(WinExec("notepad.exe  faq.txt", SW_SHOWMAXIMIZED), 31u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
    setenv("PATH", savedPath.c_str(), 1);

    std::string recorded = "<missing>";
    for (int i = 0; i < 500 && recorded == "<missing>"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        recorded = tree.ReadFile("record.txt");
    }
    char directory[PATH_MAX];
    ASSERT_NE(getcwd(directory, sizeof(directory)), nullptr);
    EXPECT_EQ(recorded, std::string(directory) + "|faq.txt\n");
}

// Free to the caller is what an unprivileged user may fill: the blocks the
// file system keeps for root are not counted, even for root.
TEST(DiskFreeSpace, FreeToTheCallerLeavesOutTheBlocksKeptForRoot) {
    TempTree tree;
    struct statvfs volume = {};
    ASSERT_EQ(statvfs(tree.Root().c_str(), &volume), 0);
    const std::uint64_t kept = (volume.f_bfree - volume.f_bavail) * std::uint64_t(volume.f_frsize);
    if (kept < (64u << 20))
        GTEST_SKIP() << "the volume of " << tree.Root() << " keeps no blocks for root";
    ULARGE_INTEGER available, free;
    ASSERT_TRUE(GetDiskFreeSpaceExA(tree.Root().c_str(), &available, nullptr, &free));
    const std::uint64_t unprivileged = volume.f_bavail * std::uint64_t(volume.f_frsize);
    // Other programs write meanwhile: within a quarter of what is kept.
    EXPECT_LT(available.QuadPart, unprivileged + kept / 4);
    EXPECT_GT(free.QuadPart, available.QuadPart + kept / 2);
}

} // namespace
