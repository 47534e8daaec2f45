// The process entry: hands the arguments to WinMain as one command line,
// without the program's name, as Win32 does. Each argument is written so
// that the C runtime's rules for splitting a command line give it back
// whole: one with a blank, a tab or a double quote in it (or an empty one)
// is put in double quotes, its quotes are escaped with a backslash, and the
// backslashes before a quote are doubled.
//
// Every handle of the stand-in is a descriptor, and an update run holds two
// files for each file of its package (the installed file it replaces and
// the staged one) to its end, where Windows gives a process millions of
// handles: the descriptor limit is raised as far as the process may before
// WinMain runs (beyond it, such handles are parked: descriptor_keepers.h).
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>

#include "../windows.h"

namespace {

void AppendArgument(std::string& commandLine, const char* argument) {
    if (*argument != '\0' && std::strpbrk(argument, " \t\"") == nullptr) {
        commandLine += argument;
        return;
    }
    commandLine += '"';
    std::size_t backslashes = 0;
    for (const char* c = argument; *c != '\0'; ++c) {
        if (*c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        commandLine.append(*c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        commandLine += *c;
    }
    // The closing quote follows: backslashes before it are doubled too.
    commandLine.append(backslashes * 2, '\\');
    commandLine += '"';
}

// Linux's ceiling on a process's descriptors (fs.nr_open) by default: room
// for the holds of the largest run the journal allows (250,000 files).
const rlim_t kDescriptorsWanted = 1048576;

// The soft limit up to the hard one, and the hard one up to what is wanted
// where the process may raise it (root with CAP_SYS_RESOURCE). Where it
// cannot be had, a run that needs more handles fails, unchanged, with error
// ERROR_TOO_MANY_OPEN_FILES.
void RaiseDescriptorLimit() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < kDescriptorsWanted) {
        const struct rlimit wanted = {kDescriptorsWanted, kDescriptorsWanted};
        if (setrlimit(RLIMIT_NOFILE, &wanted) == 0)
            return;
    }
    if (limit.rlim_cur != limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char** argv) {
    RaiseDescriptorLimit();
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            commandLine += ' ';
        AppendArgument(commandLine, argv[i]);
    }
    return WinMain(GetModuleHandleA(nullptr), nullptr, &commandLine[0], SW_SHOWDEFAULT);
}
