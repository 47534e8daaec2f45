// The practical limit for the update's copy on Windows (and under Wine): a
// bare, single-threaded loop doing the same safe work and nothing else.
//
//   win_copy_loop <package> <installation>
//   win_copy_loop --probe          prints "ok": this machine runs the program
//
// Walks the package with FindFirstFileA; creates each directory in the
// installation; copies each file with CopyFileA to a new name beside its
// target and moves it over the target with MoveFileExA. Like the update it
// skips names beginning with a dot and files named Update.exe (in any
// case). Prints the number of files copied; any failure is reported and
// makes the exit status 1.
#include <cstdio>
#include <cstring>

#include <windows.h>

namespace {

long copied = 0;
long failures = 0;

void Report(const char* path) {
    std::fprintf(stderr, "win_copy_loop: %s: error %lu\n", path, GetLastError());
    ++failures;
}

// a + separator + b into out; false when it does not fit.
bool Join(char (&out)[MAX_PATH], const char* a, const char* b, const char* suffix = "") {
    const int written = std::snprintf(out, MAX_PATH, "%s\\%s%s", a, b, suffix);
    return written > 0 && written < MAX_PATH;
}

void CopyDirectory(const char* source, const char* target) {
    char pattern[MAX_PATH];
    if (!Join(pattern, source, "*.*")) {
        Report(source);
        return;
    }
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) {
        Report(pattern);
        return;
    }
    do {
        if (entry.cFileName[0] == '.' || lstrcmpiA(entry.cFileName, "Update.exe") == 0)
            continue;
        char from[MAX_PATH], to[MAX_PATH], temporary[MAX_PATH];
        if (!Join(from, source, entry.cFileName) || !Join(to, target, entry.cFileName) ||
            !Join(temporary, target, entry.cFileName, ".~copy")) {
            Report(entry.cFileName);
            continue;
        }
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CreateDirectoryA(to, nullptr);
            CopyDirectory(from, to);
        } else if (CopyFileA(from, temporary, FALSE) &&
                   MoveFileExA(temporary, to, MOVEFILE_REPLACE_EXISTING)) {
            ++copied;
        } else {
            Report(from);
            DeleteFileA(temporary);
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--probe") == 0) {
        std::printf("ok\n");
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: win_copy_loop <package> <installation>\n");
        return 2;
    }
    CopyDirectory(argv[1], argv[2]);
    std::printf("%ld files copied\n", copied);
    return failures == 0 ? 0 : 1;
}
