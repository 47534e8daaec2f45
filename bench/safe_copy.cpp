// The practical limit for the update's copy on Linux: a bare,
// single-threaded copier doing the same safe work and nothing else.
//
//   safe_copy [--durable] <package> <installation>
//
// Walks the package; creates each directory in the installation; copies
// each file with copy_file_range into a new file beside its target, gives
// it the source's permissions and last-write time, and renames it over the
// target, so that an interrupted copy never leaves a cut file under the
// real name. Like the update it skips names beginning with a dot and files
// named Update.exe (in any case). Prints the number of files copied; any
// failure is reported and makes the exit status 1.
//
// --durable adds what a write-through rename adds: the new file's data is
// flushed (fsync) before the rename, and its directory after it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

long copied = 0;
long failures = 0;
bool durable = false;

void Report(const std::string& what) {
    std::fprintf(stderr, "safe_copy: %s: %s\n", what.c_str(), std::strerror(errno));
    ++failures;
}

bool CopyContents(int from, int to) {
    for (;;) {
        ssize_t count = copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (count == 0)
            return true;
        if (count > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return false;
        // This pair of file systems cannot copy in the kernel: by hand.
        char buffer[65536];
        for (;;) {
            ssize_t got = read(from, buffer, sizeof(buffer));
            if (got == 0)
                return true;
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return false;
            for (ssize_t done = 0; done < got;) {
                ssize_t put = write(to, buffer + done, static_cast<std::size_t>(got - done));
                if (put < 0 && errno == EINTR)
                    continue;
                if (put <= 0)
                    return false;
                done += put;
            }
        }
    }
}

void CopyFile(int sourceDir, int targetDir, const char* name, const std::string& where) {
    int from = openat(sourceDir, name, O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (from < 0 || fstat(from, &info) != 0) {
        Report(where + name);
        if (from >= 0)
            close(from);
        return;
    }
    const std::string temporary = std::string(name) + ".~copy";
    int to = openat(targetDir, temporary.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (to < 0 && errno == EEXIST && unlinkat(targetDir, temporary.c_str(), 0) == 0)
        to = openat(targetDir, temporary.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool done = to >= 0 && CopyContents(from, to);
    if (done) {
        struct timespec times[2] = {{0, UTIME_OMIT}, info.st_mtim};
        done = fchmod(to, info.st_mode & 07777) == 0 && futimens(to, times) == 0;
    }
    if (done && durable)
        done = fsync(to) == 0;
    if (to >= 0 && close(to) != 0)
        done = false;
    close(from);
    if (done && renameat(targetDir, temporary.c_str(), targetDir, name) == 0 &&
        (!durable || fsync(targetDir) == 0)) {
        ++copied;
        return;
    }
    Report(where + name);
    if (to >= 0)
        unlinkat(targetDir, temporary.c_str(), 0);
}

void CopyDirectory(int sourceDir, int targetDir, const std::string& where) {
    int listFd = dup(sourceDir);
    DIR* listing = listFd < 0 ? nullptr : fdopendir(listFd);
    if (listing == nullptr) {
        Report(where);
        return;
    }
    while (struct dirent* entry = readdir(listing)) {
        const char* name = entry->d_name;
        if (name[0] == '.' || strcasecmp(name, "Update.exe") == 0)
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info;
            isDirectory = fstatat(sourceDir, name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        }
        if (!isDirectory) {
            CopyFile(sourceDir, targetDir, name, where);
            continue;
        }
        if (mkdirat(targetDir, name, 0755) != 0 && errno != EEXIST) {
            Report(where + name);
            continue;
        }
        int sourceChild = openat(sourceDir, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int targetChild = openat(targetDir, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (sourceChild >= 0 && targetChild >= 0)
            CopyDirectory(sourceChild, targetChild, where + name + "/");
        else
            Report(where + name);
        if (sourceChild >= 0)
            close(sourceChild);
        if (targetChild >= 0)
            close(targetChild);
    }
    closedir(listing);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--durable") == 0) {
        durable = true;
        --argc;
        ++argv;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: safe_copy [--durable] <package> <installation>\n");
        return 2;
    }
    int source = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int target = open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (source < 0 || target < 0) {
        std::perror(source < 0 ? argv[1] : argv[2]);
        return 1;
    }
    CopyDirectory(source, target, std::string(argv[1]) + "/");
    std::printf("%ld files copied\n", copied);
    return failures == 0 ? 0 : 1;
}
