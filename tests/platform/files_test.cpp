// Win32 file operations, pinned as Windows behaves: result and last error.
#include <string>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"
#include "win32_check.h"

namespace {

TEST(CreateFileA, DispositionsOnAnExistingAndAMissingFile) {
    struct Case {
        DWORD disposition;
        bool exists;
        bool opens;
        DWORD error;          // last error after the call, success too
        const char* contents; // afterwards
        DWORD access = GENERIC_READ | GENERIC_WRITE;
    } cases[] = {
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
        {CREATE_NEW, false, true, ERROR_SUCCESS, ""},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, "<missing>"},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
        {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
        {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, "<missing>"},
        // Emptying the file needs no write access.
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "", GENERIC_READ},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "", 0},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, "", GENERIC_READ},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "disposition " << c.disposition << " exists " << c.exists
                                        << " access " << std::hex << c.access);
        TempTree tree;
        if (c.exists)
            tree.WriteFile("f.txt", "old");
        SetLastError(kMarker);
        HANDLE file = Open(tree.Path("f.txt"), c.access, 0, c.disposition);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens);
        if (file != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(file));
        }
        EXPECT_EQ(tree.ReadFile("f.txt"), c.contents);
    }
}

TEST(CreateFileA, FailuresOfPathDirectoryAndReadOnlyFile) {
    TempTree tree;
    tree.MakeDirectory("dir");
    tree.WriteFile("ro.txt", "keep");
    ASSERT_TRUE(SetFileAttributesA(tree.Path("ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    struct Case {
        const char* name;
        DWORD access;
        DWORD disposition;
        DWORD error;
    } cases[] = {
        {"missing\\f.txt", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"missing\\f.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"dir", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"ro.txt", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"ro.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
        {"ro.txt", GENERIC_READ | GENERIC_WRITE, TRUNCATE_EXISTING, ERROR_ACCESS_DENIED},
        // A name that ends in a separator names no file.
        {"ro.txt\\", GENERIC_READ, OPEN_EXISTING, ERROR_INVALID_NAME},
        {"new.txt\\", GENERIC_WRITE, CREATE_NEW, ERROR_INVALID_NAME},
        {"missing.txt\\", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_WIN32_FAILURE(Open(tree.Path(c.name), c.access, 0, c.disposition),
                             INVALID_HANDLE_VALUE, c.error);
    }
    EXPECT_EQ(tree.ReadFile("ro.txt"), "keep");
}

TEST(CreateFileA, ShareModesBetweenTwoHandles) {
    const DWORD kHold = DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
    struct Case {
        DWORD firstAccess, firstShare, secondAccess, secondShare;
        bool secondOpens;
        DWORD secondDisposition = OPEN_EXISTING;
    } cases[] = {
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, kShareAll, false},
        {GENERIC_READ, kShareAll, GENERIC_WRITE, FILE_SHARE_READ, true},
        {GENERIC_READ, kShareAll, GENERIC_WRITE, FILE_SHARE_WRITE, false},
        {GENERIC_WRITE, 0, GENERIC_READ, kShareAll, false},
        {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, kShareAll, true},
        {GENERIC_WRITE, kShareAll, GENERIC_WRITE, FILE_SHARE_READ, false},
        {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, false},
        // An open without data access neither meets nor denies anything.
        {0, 0, GENERIC_WRITE, 0, true},
        {GENERIC_WRITE, 0, 0, 0, true},
        {GENERIC_WRITE, 0, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_READ_EA, 0, true},
        // Execute access is reading; appending is writing.
        {GENERIC_READ, FILE_SHARE_WRITE, GENERIC_EXECUTE, kShareAll, false},
        {FILE_EXECUTE, 0, GENERIC_READ, kShareAll, false},
        {FILE_EXECUTE, FILE_SHARE_READ, FILE_READ_DATA, FILE_SHARE_READ, true},
        {FILE_APPEND_DATA, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, false},
        {FILE_WRITE_DATA, kShareAll, FILE_READ_DATA, FILE_SHARE_READ, false},
        // A handle with delete access alone that shares all three (an update
        // run's hold) stands against every open of data or deletion that
        // does not share deleting, and against nothing else; it cannot be
        // had while such an open is there.
        {kHold, kShareAll, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {kHold, kShareAll, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {kHold, kShareAll, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {kHold, kShareAll, GENERIC_WRITE, 0, false},
        {kHold, kShareAll, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, true},
        {kHold, kShareAll, GENERIC_WRITE, FILE_SHARE_DELETE, true},
        {kHold, kShareAll, FILE_READ_ATTRIBUTES, 0, true},
        {kHold, kShareAll, kHold, kShareAll, true},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, kHold, kShareAll, false},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, kHold, kShareAll, true},
        // A refused truncation leaves the contents.
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, kShareAll, false, CREATE_ALWAYS},
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, kShareAll, false, TRUNCATE_EXISTING},
    };
    TempTree tree;
    std::string path = tree.Path("f.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << c.firstAccess << "/" << c.firstShare << " then "
                     << c.secondAccess << "/" << c.secondShare << " " << c.secondDisposition);
        tree.WriteFile("f.txt", "data");
        HANDLE first = Open(path, c.firstAccess, c.firstShare);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        SetLastError(kMarker);
        HANDLE second = Open(path, c.secondAccess, c.secondShare, c.secondDisposition);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
        if (second == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
        } else {
            CloseHandle(second);
        }
        EXPECT_TRUE(CloseHandle(first));
        if (!c.secondOpens) {
            EXPECT_EQ(tree.ReadFile("f.txt"), "data");
        }
        // Once the first is closed, nothing stands in the way.
        second = Open(path, c.secondAccess, c.secondShare);
        EXPECT_NE(second, INVALID_HANDLE_VALUE);
        CloseHandle(second);
    }
}

TEST(FileHandles, ReadInPartsToTheEndAndCloseOnce) {
    TempTree tree;
    tree.WriteFile("f.bin", "hello world");
    HANDLE reader = Open(tree.Path("f.bin"), GENERIC_READ, FILE_SHARE_READ);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    DWORD done = 77, high = 5;
    EXPECT_EQ(GetFileSize(reader, &high), 11u);
    EXPECT_EQ(high, 0u);
    char buffer[32];
    EXPECT_TRUE(ReadFile(reader, buffer, 5, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), "hello");
    EXPECT_TRUE(ReadFile(reader, buffer, sizeof(buffer), &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), " world");
    // At the end of the file a read succeeds with nothing.
    EXPECT_TRUE(ReadFile(reader, buffer, sizeof(buffer), &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_WIN32_FAILURE(CloseHandle(reader), FALSE, ERROR_INVALID_HANDLE);
}

TEST(FileHandles, NullBuffersAndAccessThatReadsOrAppends) {
    TempTree tree;
    tree.WriteFile("f.bin", "data");
    HANDLE file = Open(tree.Path("f.bin"), GENERIC_READ | GENERIC_WRITE, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD done = 77;
    EXPECT_WIN32_FAILURE(ReadFile(file, nullptr, 4, &done, nullptr), FALSE, ERROR_NOACCESS);
    EXPECT_WIN32_FAILURE(WriteFile(file, nullptr, 4, &done, nullptr), FALSE,
                         ERROR_INVALID_USER_BUFFER);
    EXPECT_WIN32_FAILURE(WriteFile(file, nullptr, 0, &done, nullptr), TRUE, kMarker);
    CloseHandle(file);
    // Execute access reads no data; append access writes at the end.
    file = Open(tree.Path("f.bin"), FILE_EXECUTE, 0);
    char buffer[8];
    EXPECT_WIN32_FAILURE(ReadFile(file, buffer, 4, &done, nullptr), FALSE, ERROR_ACCESS_DENIED);
    CloseHandle(file);
    file = Open(tree.Path("f.bin"), FILE_APPEND_DATA, 0);
    EXPECT_TRUE(WriteFile(file, "+", 1, &done, nullptr));
    CloseHandle(file);
    EXPECT_EQ(tree.ReadFile("f.bin"), "data+");
}

TEST(FileHandles, IdentityOfDirectories) {
    TempTree tree;
    tree.MakeDirectory("dir");
    tree.MakeDirectory("other");
    auto information = [&](const std::string& name) {
        BY_HANDLE_FILE_INFORMATION info = {};
        HANDLE dir = Open(tree.Path(name), 0, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
        EXPECT_NE(dir, INVALID_HANDLE_VALUE) << name << " error " << GetLastError();
        EXPECT_TRUE(GetFileInformationByHandle(dir, &info));
        CloseHandle(dir);
        return info;
    };
    BY_HANDLE_FILE_INFORMATION a1 = information("dir\\"), a2 = information("other\\..\\dir"),
                               b = information("other");
    EXPECT_EQ(a1.dwVolumeSerialNumber, a2.dwVolumeSerialNumber);
    EXPECT_EQ(a1.nFileIndexLow, a2.nFileIndexLow);
    EXPECT_EQ(a1.nFileIndexHigh, a2.nFileIndexHigh);
    EXPECT_TRUE(a1.nFileIndexLow != b.nFileIndexLow || a1.nFileIndexHigh != b.nFileIndexHigh);
}

TEST(Directories, CreateRemoveAndDelete) {
    TempTree tree;
    std::string dir = tree.Path("dir"), file = tree.Path("dir\\f.txt");
    EXPECT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    EXPECT_WIN32_FAILURE(CreateDirectoryA(dir.c_str(), nullptr), FALSE, ERROR_ALREADY_EXISTS);
    EXPECT_WIN32_FAILURE(CreateDirectoryA(tree.Path("no\\dir").c_str(), nullptr), FALSE,
                         ERROR_PATH_NOT_FOUND);
    tree.WriteFile("dir\\f.txt", "x");
    EXPECT_WIN32_FAILURE(RemoveDirectoryA(dir.c_str()), FALSE, ERROR_DIR_NOT_EMPTY);
    EXPECT_WIN32_FAILURE(DeleteFileA(dir.c_str()), FALSE, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_WIN32_FAILURE(DeleteFileA(file.c_str()), FALSE, ERROR_ACCESS_DENIED);
}

// A folder held open for listing without delete sharing (as a run holds
// the folders it works in) is neither renamed nor removed, and is no
// reparse point; what is in it is made, renamed and removed as before.
TEST(Directories, AHeldFolderStaysWhileItsContentsChange) {
    TempTree tree;
    tree.WriteFile("held\\file.txt", "x");
    const std::string held = tree.Path("held"), moved = tree.Path("moved");
    auto hold = [&](DWORD share) {
        return Open(held, FILE_LIST_DIRECTORY, share, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    };
    HANDLE holder = hold(FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info = {};
    EXPECT_TRUE(GetFileInformationByHandle(holder, &info));
    EXPECT_EQ(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              DWORD(FILE_ATTRIBUTE_DIRECTORY));

    const std::string file = tree.Path("held\\file.txt"), fresh = tree.Path("held\\new.txt");
    HANDLE made = Open(fresh, GENERIC_WRITE, 0, CREATE_NEW);
    EXPECT_NE(made, INVALID_HANDLE_VALUE);
    CloseHandle(made);
    EXPECT_TRUE(MoveFileExA(fresh.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(DeleteFileA(file.c_str()));
    EXPECT_TRUE(CreateDirectoryA(tree.Path("held\\sub").c_str(), nullptr));
    EXPECT_TRUE(RemoveDirectoryA(tree.Path("held\\sub").c_str()));

    EXPECT_WIN32_FAILURE(MoveFileExA(held.c_str(), moved.c_str(), 0), FALSE,
                         ERROR_SHARING_VIOLATION);
    EXPECT_WIN32_FAILURE(RemoveDirectoryA(held.c_str()), FALSE, ERROR_SHARING_VIOLATION);
    CloseHandle(holder);
    holder = hold(kShareAll);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(MoveFileExA(held.c_str(), moved.c_str(), 0));
    CloseHandle(holder);
    EXPECT_TRUE(tree.Exists("moved"));
}

// Names Windows cannot hold are refused; trailing dots and spaces are
// dropped as Win32 normalises paths (one dot of a folder on the way).
TEST(Directories, NamesWindowsCannotHoldAndTrailingDotsAndSpaces) {
    TempTree tree;
    tree.WriteFile("f.txt", "x");
    auto at = [&](const char* name) { return tree.Path(name); };
    for (const char* bad : {"a?b", "a*b", "a<b", "a>b", "a|b", "a\"b"}) {
        SCOPED_TRACE(bad);
        EXPECT_WIN32_FAILURE(CreateDirectoryA(at(bad).c_str(), nullptr), FALSE, ERROR_INVALID_NAME);
        EXPECT_WIN32_FAILURE(RemoveDirectoryA(at(bad).c_str()), FALSE, ERROR_INVALID_NAME);
        EXPECT_WIN32_FAILURE(Open(at(bad), GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE,
                             ERROR_INVALID_NAME);
        EXPECT_WIN32_FAILURE(MoveFileExA(at("f.txt").c_str(), at(bad).c_str(), 0), FALSE,
                             ERROR_INVALID_NAME);
    }
    EXPECT_TRUE(CreateDirectoryA(at("x.").c_str(), nullptr));
    EXPECT_WIN32_FAILURE(CreateDirectoryA(at("x ").c_str(), nullptr), FALSE, ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CreateDirectoryA(at("x.\\y").c_str(), nullptr));
    EXPECT_WIN32_FAILURE(CreateDirectoryA(at("x..\\z").c_str(), nullptr), FALSE,
                         ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(MoveFileExA(at("f.txt").c_str(), at("x\\g.txt. ").c_str(), 0));
    EXPECT_TRUE(DeleteFileA(at("x\\g.txt.").c_str()));
    EXPECT_TRUE(RemoveDirectoryA(at("x\\y..").c_str()));
    EXPECT_TRUE(RemoveDirectoryA(at("x. .").c_str()));
    EXPECT_FALSE(tree.Exists("x"));
}

} // namespace

namespace {

// The lock of an update run: a file opened without sharing and deleted on
// close.
const DWORD kDeleteOnClose = FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE;

TEST(CreateFileA, DeleteOnCloseWithoutSharingIsHeldByOneHandleAndGoesWithIt) {
    struct Case {
        const char* before; // contents, or null for no file
        DWORD error;        // after the first open
    } cases[] = {{nullptr, ERROR_SUCCESS}, {"left", ERROR_ALREADY_EXISTS}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before != nullptr ? c.before : "<none>");
        TempTree tree;
        if (c.before != nullptr)
            tree.WriteFile("lock", c.before);
        const std::string path = tree.Path("lock");
        SetLastError(kMarker);
        HANDLE held = Open(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS, kDeleteOnClose);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_TRUE(tree.Exists("lock"));
        // Every other open for data, and deleting it, meet the holder.
        EXPECT_WIN32_FAILURE(
            Open(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS, kDeleteOnClose),
            INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION);
        EXPECT_WIN32_FAILURE(Open(path, GENERIC_READ, kShareAll), INVALID_HANDLE_VALUE,
                             ERROR_SHARING_VIOLATION);
        EXPECT_WIN32_FAILURE(DeleteFileA(path.c_str()), FALSE, ERROR_SHARING_VIOLATION);
        EXPECT_TRUE(CloseHandle(held));
        EXPECT_FALSE(tree.Exists("lock"));
        // Free again: the next holder makes it anew.
        held = Open(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS, kDeleteOnClose);
        EXPECT_NE(held, INVALID_HANDLE_VALUE);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_FALSE(tree.Exists("lock"));
    }
}

TEST(CreateFileA, DeleteOnCloseIsRefusedOnAReadOnlyFileAndADirectory) {
    TempTree tree;
    tree.WriteFile("ro", "keep");
    ASSERT_TRUE(SetFileAttributesA(tree.Path("ro").c_str(), FILE_ATTRIBUTE_READONLY));
    tree.MakeDirectory("dir");
    const struct {
        const char* name;
        DWORD access, disposition;
    } cases[] = {{"ro", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS},
                 {"ro", GENERIC_READ, OPEN_EXISTING}, // no write access asked, still no delete
                 {"dir", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_WIN32_FAILURE(Open(tree.Path(c.name), c.access, 0, c.disposition, kDeleteOnClose),
                             INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(tree.ReadFile("ro"), "keep");
    EXPECT_TRUE(tree.Exists("dir"));
    SetFileAttributesA(tree.Path("ro").c_str(), FILE_ATTRIBUTE_NORMAL);
}

} // namespace
