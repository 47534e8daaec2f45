// Win32 file operations, pinned as Windows behaves: result and last error.
#include <string>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "temp_tree.h"

namespace {

const DWORD kMarker = 0xdeadbeef;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
            DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

TEST(CreateFileA, DispositionsOnAnExistingAndAMissingFile) {
    struct Case {
        DWORD disposition;
        bool exists;
        bool opens;
        DWORD error;          // last error after the call
        const char* contents; // afterwards
    } cases[] = {
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
        {CREATE_NEW, false, true, kMarker, ""},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {OPEN_EXISTING, true, true, kMarker, "old"},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, "<missing>"},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
        {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {TRUNCATE_EXISTING, true, true, kMarker, ""},
        {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, "<missing>"},
    };
    for (const Case& c : cases) {
        TempTree tree;
        if (c.exists)
            tree.WriteFile("f.txt", "old");
        SetLastError(kMarker);
        HANDLE file = Open(tree.Path("f.txt"), GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
        DWORD error = GetLastError();
        SCOPED_TRACE(testing::Message()
                     << "disposition " << c.disposition << " exists " << c.exists);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens);
        if (c.opens && c.error == kMarker) {
            // Windows leaves the last error alone or clears it on success.
            EXPECT_TRUE(error == kMarker || error == ERROR_SUCCESS) << error;
        } else {
            EXPECT_EQ(error, c.error);
        }
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
        {"dir", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"dir", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"ro.txt", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"ro.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
        {"ro.txt", GENERIC_READ | GENERIC_WRITE, TRUNCATE_EXISTING, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SetLastError(kMarker);
        HANDLE file = Open(tree.Path(c.name), c.access, 0, c.disposition);
        EXPECT_EQ(file, INVALID_HANDLE_VALUE) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    EXPECT_EQ(tree.ReadFile("ro.txt"), "keep");
    HANDLE reader = Open(tree.Path("ro.txt"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
}

TEST(CreateFileA, ShareModesBetweenTwoHandles) {
    struct Case {
        DWORD firstAccess, firstShare, secondAccess, secondShare;
        bool secondOpens;
    } cases[] = {
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, kShareAll, false},
        {GENERIC_READ, kShareAll, GENERIC_WRITE, FILE_SHARE_READ, true},
        {GENERIC_READ, kShareAll, GENERIC_WRITE, FILE_SHARE_WRITE, false},
        {GENERIC_WRITE, 0, GENERIC_READ, kShareAll, false},
        {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, kShareAll, true},
        {GENERIC_WRITE, kShareAll, GENERIC_WRITE, FILE_SHARE_READ, false},
        {GENERIC_WRITE, FILE_SHARE_WRITE, GENERIC_WRITE, FILE_SHARE_WRITE, true},
        {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, false},
        {GENERIC_READ | GENERIC_WRITE, kShareAll, GENERIC_READ | GENERIC_WRITE, kShareAll, true},
        // An open without data access neither meets nor denies anything.
        {0, 0, GENERIC_WRITE, 0, true},
        {GENERIC_WRITE, 0, 0, 0, true},
    };
    TempTree tree;
    tree.WriteFile("f.txt", "data");
    std::string path = tree.Path("f.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.firstAccess << "/" << c.firstShare
                                        << " then " << c.secondAccess << "/" << c.secondShare);
        HANDLE first = Open(path, c.firstAccess, c.firstShare, OPEN_EXISTING);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        SetLastError(kMarker);
        HANDLE second = Open(path, c.secondAccess, c.secondShare, OPEN_EXISTING);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
        if (second == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
        } else {
            CloseHandle(second);
        }
        EXPECT_TRUE(CloseHandle(first));
        // Once the first is closed, nothing stands in the way.
        second = Open(path, c.secondAccess, c.secondShare, OPEN_EXISTING);
        EXPECT_NE(second, INVALID_HANDLE_VALUE);
        CloseHandle(second);
    }
    EXPECT_EQ(tree.ReadFile("f.txt"), "data");
}

TEST(CreateFileA, RefusedTruncationLeavesTheContents) {
    TempTree tree;
    tree.WriteFile("f.txt", "precious");
    HANDLE holder = Open(tree.Path("f.txt"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    for (DWORD disposition : {CREATE_ALWAYS, TRUNCATE_EXISTING}) {
        SetLastError(kMarker);
        EXPECT_EQ(Open(tree.Path("f.txt"), GENERIC_WRITE, kShareAll, disposition),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(holder);
    EXPECT_EQ(tree.ReadFile("f.txt"), "precious");
}

TEST(FileHandles, ReadWriteSizeAndAccessChecks) {
    TempTree tree;
    HANDLE writer = Open(tree.Path("f.bin"), GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD done = 77;
    EXPECT_TRUE(WriteFile(writer, "hello world", 11, &done, nullptr));
    EXPECT_EQ(done, 11u);
    DWORD high = 5;
    EXPECT_EQ(GetFileSize(writer, &high), 11u);
    EXPECT_EQ(high, 0u);
    char buffer[32];
    SetLastError(kMarker);
    EXPECT_FALSE(ReadFile(writer, buffer, sizeof(buffer), &done, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(writer));

    HANDLE reader = Open(tree.Path("f.bin"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(ReadFile(reader, buffer, 5, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), "hello");
    EXPECT_TRUE(ReadFile(reader, buffer, sizeof(buffer), &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), " world");
    // At the end of the file a read succeeds with nothing.
    EXPECT_TRUE(ReadFile(reader, buffer, sizeof(buffer), &done, nullptr));
    EXPECT_EQ(done, 0u);
    SetLastError(kMarker);
    EXPECT_FALSE(WriteFile(reader, "x", 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(reader));

    SetLastError(kMarker);
    EXPECT_FALSE(CloseHandle(reader));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(FileHandles, IdentityOfFilesAndDirectories) {
    TempTree tree;
    tree.WriteFile("a.txt", "a");
    tree.WriteFile("b.txt", "b");
    tree.MakeDirectory("dir");
    auto information = [&](const std::string& name, DWORD flags) {
        BY_HANDLE_FILE_INFORMATION info = {};
        HANDLE file = Open(tree.Path(name), 0, kShareAll, OPEN_EXISTING, flags);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << name << " error " << GetLastError();
        EXPECT_TRUE(GetFileInformationByHandle(file, &info));
        CloseHandle(file);
        return info;
    };
    BY_HANDLE_FILE_INFORMATION a1 = information("a.txt", 0);
    BY_HANDLE_FILE_INFORMATION a2 = information("dir\\..\\a.txt", 0);
    BY_HANDLE_FILE_INFORMATION b = information("b.txt", 0);
    BY_HANDLE_FILE_INFORMATION dir = information("dir", FILE_FLAG_BACKUP_SEMANTICS);
    EXPECT_EQ(a1.dwVolumeSerialNumber, a2.dwVolumeSerialNumber);
    EXPECT_EQ(a1.nFileIndexLow, a2.nFileIndexLow);
    EXPECT_EQ(a1.nFileIndexHigh, a2.nFileIndexHigh);
    EXPECT_TRUE(a1.nFileIndexLow != b.nFileIndexLow || a1.nFileIndexHigh != b.nFileIndexHigh);
    EXPECT_EQ(a1.nFileSizeLow, 1u);
    EXPECT_EQ(a1.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(dir.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, DWORD(FILE_ATTRIBUTE_DIRECTORY));
}

TEST(FileAttributes, ReadOnlyStateAndMissingPaths) {
    TempTree tree;
    tree.WriteFile("f.txt", "x");
    tree.MakeDirectory("dir");
    std::string file = tree.Path("f.txt");

    EXPECT_EQ(GetFileAttributesA(tree.Path("dir").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              DWORD(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(GetFileAttributesA(file.c_str()) &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY),
              0u);

    EXPECT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_NE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    SetLastError(kMarker);
    EXPECT_EQ(Open(file, GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    // Archive only clears the read-only state: the file can be written again.
    EXPECT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    HANDLE writer = Open(file, GENERIC_WRITE, 0, OPEN_EXISTING);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    CloseHandle(writer);

    struct Case {
        const char* name;
        DWORD error;
    } missing[] = {{"nothing.txt", ERROR_FILE_NOT_FOUND},
                   {"nowhere\\nothing.txt", ERROR_PATH_NOT_FOUND}};
    for (const Case& c : missing) {
        SetLastError(kMarker);
        EXPECT_EQ(GetFileAttributesA(tree.Path(c.name).c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), c.error) << c.name;
        SetLastError(kMarker);
        EXPECT_FALSE(SetFileAttributesA(tree.Path(c.name).c_str(), FILE_ATTRIBUTE_ARCHIVE));
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
}

TEST(Directories, CreateRemoveAndDelete) {
    TempTree tree;
    std::string dir = tree.Path("dir");
    EXPECT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    SetLastError(kMarker);
    EXPECT_FALSE(CreateDirectoryA(dir.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    SetLastError(kMarker);
    EXPECT_FALSE(CreateDirectoryA(tree.Path("no\\dir").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));

    tree.WriteFile("dir\\f.txt", "x");
    SetLastError(kMarker);
    EXPECT_FALSE(RemoveDirectoryA(dir.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIR_NOT_EMPTY));
    SetLastError(kMarker);
    EXPECT_FALSE(DeleteFileA(dir.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    std::string file = tree.Path("dir\\f.txt");
    HANDLE holder = Open(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    SetLastError(kMarker);
    EXPECT_FALSE(DeleteFileA(file.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    CloseHandle(holder);

    EXPECT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
    SetLastError(kMarker);
    EXPECT_FALSE(DeleteFileA(file.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA(file.c_str()));
    SetLastError(kMarker);
    EXPECT_FALSE(DeleteFileA(file.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    EXPECT_TRUE(RemoveDirectoryA(dir.c_str()));
    SetLastError(kMarker);
    EXPECT_FALSE(RemoveDirectoryA(dir.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(GetTempPathA, EndsInASeparatorAndReportsTheSizeNeeded) {
    char path[MAX_PATH];
    DWORD length = GetTempPathA(sizeof(path), path);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, sizeof(path));
    EXPECT_EQ(std::string(path).size(), length);
    EXPECT_TRUE(path[length - 1] == '\\' || path[length - 1] == '/') << path;
    char small[2];
    EXPECT_EQ(GetTempPathA(sizeof(small), small), length + 1);
    EXPECT_NE(GetFileAttributesA(path) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

} // namespace
