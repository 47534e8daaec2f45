// What a virus scanner or an indexer does to an installation, for the
// tests: it watches a folder and the folders below it (inotify), and opens
// every file that is written, renamed into place or closed there, one after
// another, through Win32 without sharing anything (as the stand-in keeps
// share modes, a rename, removal or open of that file by another program
// fails meanwhile), holding each for a random time between the two bounds.
// Usage: scanner FOLDER MIN_MS MAX_MS; it runs until it is killed, and
// writes "ready" on standard output once it watches.
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "platform/win32_api.h"

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    const int minMs = std::atoi(argv[2]), maxMs = std::atoi(argv[3]);
    const int watch = inotify_init1(IN_CLOEXEC);
    std::map<int, std::string> folders;
    const auto add = [&](const std::string& folder) {
        const int id = inotify_add_watch(watch, folder.c_str(),
                                         IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_ONLYDIR);
        if (id >= 0)
            folders[id] = folder;
    };
    add(argv[1]);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[1]))
        if (entry.is_directory() && !entry.is_symlink())
            add(entry.path().string());
    std::printf("ready\n");
    std::fflush(stdout);
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> hold(minMs, maxMs);
    alignas(struct inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t length = read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            if (event->len == 0 || folders.count(event->wd) == 0)
                continue;
            const std::string path = folders[event->wd] + "/" + event->name;
            if (event->mask & IN_ISDIR) {
                add(path);
                continue;
            }
            if (!(event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)))
                continue;
            HANDLE held =
                CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (held == INVALID_HANDLE_VALUE)
                continue;
            usleep(static_cast<useconds_t>(hold(random)) * 1000);
            CloseHandle(held);
        }
    }
}
