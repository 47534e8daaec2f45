// CopyTree on its own: what the end-to-end runs of Update.exe cannot easily
// show (failure counts, the target inside the package, the message pump).
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "copy_tree.h"
#include "directory_identity.h"
#include "entry_name.h"
#include "momentary_holder.h"
#include "package_check.h"
#include "package_manifest.h"
#include "platform/win32_api.h"
#include "sha256.h"
#include "sha256_hex.h"
#include "temp_tree.h"

namespace {

struct Copy {
    int count;
    std::uint32_t failures;
    CopyResult result;
};

Copy CopyPackage(const TempTree& tree, const std::string& target = "install",
                 const CopyReporter* reporter = nullptr) {
    const CopyResult result = CopyTree(TextString(tree.Path("package").c_str()),
                                       TextString(tree.Path(target).c_str()), "*.*", reporter);
    return {result.copied, result.Failures(), result};
}

// The names of temporary files of the copy in a directory of the tree.
std::string TemporaryFiles(const TempTree& tree, const std::string& directory) {
    std::string names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(tree.Path(directory + "\\.Update-*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names += std::string(entry.cFileName) + " ";
    while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

TEST(CopyTree, EntersExistingDirectoriesAndOverwrites) {
    TempTree tree;
    tree.WriteFile("install\\Data\\map.dat", "old map");
    tree.WriteFile("install\\Data\\keep.dat", "untouched");
    tree.WriteFile("package\\Data\\map.dat", "new map");
    for (const char* target : {"install", "install\\", "install/"}) {
        const Copy copy = CopyPackage(tree, target);
        EXPECT_EQ(copy.count, 1) << target;
        EXPECT_EQ(tree.ReadFile("install\\Data\\map.dat"), "new map");
        EXPECT_EQ(tree.ReadFile("install\\Data\\keep.dat"), "untouched");
    }
}

TEST(CopyTree, KeepsTheAttributesAndTheTimeOfTheSource) {
    TempTree tree;
    tree.WriteFile("package\\ro.txt", "new");
    tree.WriteFile("install\\ro.txt", "old");
    ASSERT_TRUE(SetFileAttributesA(tree.Path("package\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(CopyPackage(tree).count, 1);
    EXPECT_EQ(tree.ReadFile("install\\ro.txt"), "new");
    EXPECT_NE(GetFileAttributesA(tree.Path("install\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY,
              0u);
    WIN32_FIND_DATAA source, target;
    FindClose(FindFirstFileA(tree.Path("package\\ro.txt").c_str(), &source));
    FindClose(FindFirstFileA(tree.Path("install\\ro.txt").c_str(), &target));
    EXPECT_EQ(source.ftLastWriteTime.dwLowDateTime, target.ftLastWriteTime.dwLowDateTime);
    EXPECT_EQ(source.ftLastWriteTime.dwHighDateTime, target.ftLastWriteTime.dwHighDateTime);
    EXPECT_EQ(TemporaryFiles(tree, "install"), "");
}

// A run that was stopped leaves its temporary file, perhaps read-only from
// its source; the next run that writes into that directory removes it.
// Files that only look alike stay. A run that finds another run's journal
// in use (a run without the lock) removes none: they may be that run's.
TEST(CopyTree, RemovesTemporaryFilesOfAStoppedRun) {
    for (const bool journalInUse : {false, true}) {
        // No SCOPED_TRACE: under qemu, Wine does not survive gtest's trace
        // stack in this program.
        const char* const row = journalInUse ? "another run's journal in use" : "no other run";
        TempTree tree;
        tree.WriteFile("package\\Data\\map.dat", "new map");
        tree.WriteFile("install\\Data\\map.dat", "old map");
        tree.WriteFile("install\\Data\\.Update-0000BEEF.tmp", "half a map");
        ASSERT_TRUE(SetFileAttributesA(tree.Path("install\\Data\\.Update-0000BEEF.tmp").c_str(),
                                       FILE_ATTRIBUTE_READONLY));
        tree.WriteFile("install\\Data\\.Update-0000BEEF-00000001.tmp", "a staged map");
        // Only exactly those shapes go: not a backup (its journal decides),
        // nor a name with anything more or less around the digits.
        const char* const kept[] = {".Update-notes.tmp",     ".Update-0000BEEF-00000001.old",
                                    ".Update-0000BEEF.tmpx", ".Update-0000BEEF1.tmp",
                                    ".Update-0000BEE.tmp",   ".Update-0000BEEF-0000001.tmp"};
        for (const char* name : kept)
            tree.WriteFile(std::string("install\\Data\\") + name, "someone else's");
        HANDLE journal = INVALID_HANDLE_VALUE;
        if (journalInUse) {
            journal = CreateFileA(tree.Path("install\\.Update.journal").c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr);
            ASSERT_NE(journal, INVALID_HANDLE_VALUE);
        }
        const Copy copy = CopyPackage(tree);
        if (journal != INVALID_HANDLE_VALUE)
            CloseHandle(journal);
        EXPECT_EQ(copy.count, journalInUse ? 0 : 1) << row;
        EXPECT_EQ(copy.failures, journalInUse ? 1u : 0u) << row;
        EXPECT_EQ(tree.ReadFile("install\\Data\\map.dat"), journalInUse ? "old map" : "new map")
            << row;
        for (const char* name : kept)
            EXPECT_TRUE(tree.Exists(std::string("install\\Data\\") + name)) << row << ": " << name;
        EXPECT_EQ(tree.Exists("install\\Data\\.Update-0000BEEF.tmp"), journalInUse) << row;
        EXPECT_EQ(tree.Exists("install\\Data\\.Update-0000BEEF-00000001.tmp"), journalInUse) << row;
    }
}

TEST(CopyTree, DirectoryThatCannotBeMadeCounts) {
    TempTree tree;
    tree.MakeDirectory("package\\Empty");
    tree.WriteFile("package\\Data\\map.dat", "map");
    tree.WriteFile("install\\Empty", "a file in the way");
    tree.WriteFile("install\\Data", "a file in the way");
    const Copy copy = CopyPackage(tree);
    EXPECT_EQ(copy.count, 0);
    EXPECT_EQ(copy.result.failedDirectories, 2u);
    EXPECT_EQ(copy.result.failedFiles, 1u) << "the file in one of them";
    EXPECT_EQ(tree.ReadFile("install\\Empty"), "a file in the way");
}

// Runs once more under code page 932 (update_tests_cp932), where 0x95 and
// 0xE9 lead a pair: a lead byte at the end has no trail byte, and what lies
// after the terminator does not count.
TEST(EntryName, OnlyNamesThatWindowsReadsAsWritten) {
    const char* codePage = std::getenv("UPDATE_EXPECT_ACP");
    if (codePage != nullptr) {
        ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(codePage)));
    }
    const struct {
        const char* name;
        bool valid;
    } cases[] = {
        {"readme.txt", true},    {"Data", true},       {"a b", true},       {"caf\xE9.txt", true},
        {"CONSOLE.txt", true},   {"COM0", true},       {"LPT10", true},     {"nul_1.txt", true},
        {"x\\..\\..\\Y", false}, {"a/b", false},       {"a:b", false},      {"a*", false},
        {"a?", false},           {"a\"b", false},      {"a<b", false},      {"a>b", false},
        {"a|b", false},          {"tab\tname", false}, {"\x1F", false},     {"trailing.", false},
        {"trailing ", false},    {"CON", false},       {"con.txt", false},  {"Nul", false},
        {"aux.tar.gz", false},   {"PRN ", false},      {"prn .txt", false}, {"COM1", false},
        {"lpt9.log", false},     {"", false},          {"a\x95\0*", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsWindowsFileName(c.name), c.valid) << c.name;
}

TEST(DirectoryIdentity, ZeroOrUnestablishedFileIndexIsUnknownAndMatchesNothing) {
    const struct {
        DWORD volume, high, low;
        bool known;
    } cases[] = {
        {0x1234, 0, 7, true}, {0, 0, 7, true},       {0x1234, 1, 0, true},
        {0, 0, 0, false},     {0x1234, 0, 0, false}, {0x1234, 0xFFFFFFFF, 0xFFFFFFFF, false},
    };
    for (const auto& c : cases) {
        BY_HANDLE_FILE_INFORMATION information = {};
        information.dwVolumeSerialNumber = c.volume;
        information.nFileIndexHigh = c.high;
        information.nFileIndexLow = c.low;
        const DirectoryIdentity identity = IdentityFromInformation(information);
        EXPECT_EQ(identity.known, c.known) << c.volume << " " << c.high << " " << c.low;
        EXPECT_EQ(identity.SameAs(IdentityFromInformation(information)), c.known);
    }
}

TEST(CopyTree, MissingSourceCopiesNothingAndIsAFailure) {
    TempTree tree;
    tree.MakeDirectory("install");
    const Copy copy = CopyPackage(tree);
    EXPECT_EQ(copy.count, 0);
    EXPECT_EQ(copy.failures, 1u);
}

TEST(CopyTree, TargetInsideThePackageIsNotCopiedIntoItself) {
    TempTree tree;
    tree.WriteFile("package\\a.txt", "a");
    tree.WriteFile("package\\install\\old.txt", "old");
    const Copy copy = CopyPackage(tree, "package\\install");
    EXPECT_EQ(copy.count, 0);
    EXPECT_EQ(copy.failures, 1u) << "the package's own copy of the installation is not installed";
    EXPECT_FALSE(tree.Exists("package\\install\\a.txt"));
    EXPECT_FALSE(tree.Exists("package\\install\\install"));
}

TEST(CopyTree, DrainsTheMessageQueue) {
    TempTree tree;
    tree.WriteFile("package\\Update.exe", "me");
    tree.MakeDirectory("install");
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE); // makes sure the thread has a queue
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + i, 0, 0));
    EXPECT_EQ(CopyPackage(tree).count, 0);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE))
        << "the entry for Update.exe is followed by a pump";
}

} // namespace

namespace {

// What a reporter is told, one line per event, in sorted order (the order of
// the enumeration is the file system's).
struct ReportedEvents {
    std::string root;
    std::vector<std::string> lines;

    std::string Relative(const TextString& path) const {
        std::string text = path.GetText();
        return text.compare(0, root.size(), root) == 0 ? text.substr(root.size()) : text;
    }
};

void RecordFile(void* context, const TextString& target, DWORD error) {
    ReportedEvents* events = static_cast<ReportedEvents*>(context);
    events->lines.push_back("file " + events->Relative(target) + " " + std::to_string(error));
}

void RecordDirectory(void* context, const TextString& path, CopyStep step, DWORD error) {
    ReportedEvents* events = static_cast<ReportedEvents*>(context);
    events->lines.push_back((step == CopyStep::kReadPackageDirectory ? "not read " : "not made ") +
                            events->Relative(path) + " " + std::to_string(error));
}

TEST(CopyTree, TellsTheReporterOfEveryFileAndFailedDirectory) {
    TempTree tree;
    tree.WriteFile("package\\new.txt", "new");
    tree.WriteFile("package\\held.txt", "new held");
    tree.WriteFile("package\\Data\\map.dat", "map");
    tree.WriteFile("package\\Blocked\\x.txt", "x");
    tree.WriteFile("package\\.hidden", "never");
    tree.WriteFile("package\\Update.exe", "me");
    tree.WriteFile("install\\held.txt", "old held");
    tree.WriteFile("install\\Blocked", "a file where a directory belongs");
    tree.MakeDirectory("install\\Data"); // there already: no failure
    HANDLE held = CreateFileA(tree.Path("install\\held.txt").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    ReportedEvents events{tree.Path(""), {}};
    const CopyReporter reporter{&events, RecordFile, RecordDirectory, nullptr, nullptr, nullptr};
    const CopyResult result = CopyTree(TextString(tree.Path("package").c_str()),
                                       TextString(tree.Path("install").c_str()), "*.*", &reporter);
    CloseHandle(held);

    EXPECT_EQ(result.copied, 0);
    std::sort(events.lines.begin(), events.lines.end());
    const std::vector<std::string> expected = {
        "file install\\Blocked\\x.txt 3", // ERROR_PATH_NOT_FOUND
        "file install\\Data\\map.dat 0",
        "file install\\held.txt 32", // ERROR_SHARING_VIOLATION
        "file install\\new.txt 0",
        "not made install\\Blocked 183", // ERROR_ALREADY_EXISTS
    };
    EXPECT_EQ(events.lines, expected);
    EXPECT_EQ(result.failedDirectories, 1u); // the directory not made
    EXPECT_EQ(result.failedFiles, 2u);       // each of the two files

    // A package directory that cannot be listed.
    events.lines.clear();
    CopyTree(TextString(tree.Path("missing").c_str()), TextString(tree.Path("install").c_str()),
             "*.*", &reporter);
    EXPECT_EQ(events.lines, std::vector<std::string>{"not read missing 3"});

    // Any function may be missing.
    const CopyReporter silent{&events, nullptr, nullptr, nullptr, nullptr, nullptr};
    events.lines.clear();
    EXPECT_EQ(CopyTree(TextString(tree.Path("package").c_str()),
                       TextString(tree.Path("install").c_str()), "*.*", &silent)
                  .Failures(),
              2u);
    EXPECT_TRUE(events.lines.empty());
}

// Files that the reporter's skip names are left out: not copied, counted or
// reported; their directories still are.
TEST(CopyTree, FilesTheReporterSkipsAreLeftOut) {
    TempTree tree;
    tree.WriteFile("package\\update.log", "log");
    tree.WriteFile("package\\Data\\update.log", "log");
    tree.WriteFile("package\\Data\\kept.txt", "kept");
    tree.MakeDirectory("install");
    ReportedEvents events{tree.Path(""), {}};
    const CopyReporter reporter{
        &events,
        RecordFile,
        RecordDirectory,
        [](void* context, const char* name, const TextString& source) {
            ReportedEvents* seen = static_cast<ReportedEvents*>(context);
            seen->lines.push_back(std::string("asked ") + name + " " + seen->Relative(source));
            return std::string(source.GetText()).find("Data") == std::string::npos;
        },
        nullptr,
        nullptr};
    const int count = CopyTree(TextString(tree.Path("package").c_str()),
                               TextString(tree.Path("install").c_str()), "*.*", &reporter)
                          .copied;
    EXPECT_EQ(count, 2);
    std::sort(events.lines.begin(), events.lines.end());
    const std::vector<std::string> expected = {
        "asked kept.txt package\\Data\\kept.txt", "asked update.log package\\Data\\update.log",
        "asked update.log package\\update.log",   "file install\\Data\\kept.txt 0",
        "file install\\Data\\update.log 0",
    };
    EXPECT_EQ(events.lines, expected);
    EXPECT_FALSE(tree.Exists("install\\update.log"));
}

// A target that cannot be replaced is refused when it is probed, before
// anything is written, and the whole package stays out: files staged before
// it are removed, directories made are removed, nothing is replaced.
TEST(CopyTree, RefusedTargetLeavesTheInstallationAsItWas) {
    const struct {
        const char* what;
        DWORD error;
    } cases[] = {
        {"held open sharing reading", ERROR_SHARING_VIOLATION},
        {"a directory", ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        TempTree tree;
        tree.WriteFile("package\\a.txt", "new a");
        tree.WriteFile("package\\b.txt", "new b");
        tree.WriteFile("package\\New\\c.txt", "new c");
        tree.WriteFile("install\\a.txt", "old a");
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.error == ERROR_SHARING_VIOLATION) {
            tree.WriteFile("install\\b.txt", "old b");
            held = CreateFileA(tree.Path("install\\b.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        } else {
            tree.MakeDirectory("install\\b.txt");
        }
        ReportedEvents events{tree.Path(""), {}};
        const CopyReporter reporter{&events, RecordFile, nullptr, nullptr, nullptr, nullptr};
        const Copy copy = CopyPackage(tree, "install", &reporter);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        SetFileAttributesA(tree.Path("install\\b.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(copy.count, 0) << c.what;
        EXPECT_EQ(copy.result.failedFiles, 1u) << c.what;
        EXPECT_EQ(copy.result.state, InstallState::kUnchanged) << c.what;
        EXPECT_NE(std::find(events.lines.begin(), events.lines.end(),
                            "file install\\b.txt " + std::to_string(c.error)),
                  events.lines.end())
            << c.what;
        EXPECT_EQ(tree.ReadFile("install\\a.txt"), "old a") << c.what;
        EXPECT_FALSE(tree.Exists("install\\New")) << c.what;
        EXPECT_EQ(TemporaryFiles(tree, "install"), "") << c.what;
        EXPECT_FALSE(tree.Exists("install\\.Update.journal")) << c.what;
    }
}

// The manifest line of a file of the tree, as update-manifest writes it.
std::string ListedLine(const TempTree& tree, const std::string& relative) {
    Sha256 hasher;
    Sha256Digest digest = {};
    char buffer[4096];
    EXPECT_TRUE(
        hasher.HashFile(tree.Path("package\\" + relative).c_str(), buffer, sizeof buffer, digest));
    std::string path = relative;
    std::replace(path.begin(), path.end(), '\\', '/');
    return Hex(digest) + "  " + path + "\n";
}

// Only the top-level Update.exe is the program that runs, and the one the
// manifest lists: one further in is neither installed nor checked.
TEST(CopyTree, OnlyTheTopLevelUpdateExeIsChecked) {
    TempTree tree;
    tree.WriteFile("package\\Update.exe", "program");
    tree.WriteFile("package\\a.txt", "new a");
    tree.WriteFile("package\\Tools\\Update.exe", "another program");
    tree.WriteFile("package\\Tools\\b.txt", "new b");
    tree.MakeDirectory("install");
    const std::string text = ListedLine(tree, "Update.exe") + ListedLine(tree, "a.txt") +
                             ListedLine(tree, "Tools\\b.txt");
    PackageManifest manifest;
    ASSERT_TRUE(manifest.Parse(text.data(), static_cast<std::uint32_t>(text.size())));
    PackageCheck check(manifest, TextString(tree.Path("package").c_str()), nullptr, nullptr);
    const CopyResult result =
        CopyTree(TextString(tree.Path("package").c_str()), TextString(tree.Path("install").c_str()),
                 "*.*", nullptr, nullptr, &check);
    EXPECT_EQ(result.state, InstallState::kInstalled);
    EXPECT_EQ(result.damagedFiles, 0u);
    EXPECT_EQ(tree.ReadFile("install\\Tools\\b.txt"), "new b");
    EXPECT_FALSE(tree.Exists("install\\Tools\\Update.exe"));
}

// A package file that another program holds for a moment (a scanner) is
// waited for, not failed.
TEST(CopyTree, APackageFileHeldForAMomentIsWaitedFor) {
    TempTree tree;
    tree.WriteFile("package\\a.txt", "new a");
    tree.WriteFile("install\\a.txt", "old a");
    CopyResult result;
    {
        MomentaryHolder holder(tree.Path("package\\a.txt"), 300);
        result = CopyTree(TextString(tree.Path("package").c_str()),
                          TextString(tree.Path("install").c_str()), "*.*");
    }
    EXPECT_EQ(result.state, InstallState::kInstalled);
    EXPECT_EQ(tree.ReadFile("install\\a.txt"), "new a");
}

} // namespace
