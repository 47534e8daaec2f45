// WinExec: starts a program found on PATH and does not wait for it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../windows.h"

extern char** environ;

namespace {

const UINT kStarted = 33; // any value above 31 means success

bool IsExecutableFile(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISREG(info.st_mode) && access(path, X_OK) == 0;
}

// Whether the program would be found, as posix_spawnp looks for it.
bool ProgramExists(const char* program) {
    if (std::strchr(program, '/') != nullptr)
        return IsExecutableFile(program);
    const char* search = std::getenv("PATH");
    if (search == nullptr)
        search = "/bin:/usr/bin";
    char candidate[4096];
    for (const char* at = search;;) {
        const char* colon = std::strchr(at, ':');
        std::size_t length = colon == nullptr ? std::strlen(at) : static_cast<size_t>(colon - at);
        const char* directory = length == 0 ? "." : at;
        int directoryLength = length == 0 ? 1 : static_cast<int>(length);
        int written = std::snprintf(candidate, sizeof(candidate), "%.*s/%s", directoryLength,
                                    directory, program);
        if (written > 0 && static_cast<std::size_t>(written) < sizeof(candidate) &&
            IsExecutableFile(candidate))
            return true;
        if (colon == nullptr)
            return false;
        at = colon + 1;
    }
}

// Splits the command line in place at runs of spaces; a double-quoted part
// keeps its spaces. Returns the number of arguments.
int SplitCommandLine(char* line, char** arguments, int most) {
    int count = 0;
    char* at = line;
    while (*at != '\0' && count < most) {
        while (*at == ' ' || *at == '\t')
            ++at;
        if (*at == '\0')
            break;
        arguments[count++] = at;
        char* out = at;
        bool quoted = false;
        while (*at != '\0' && (quoted || (*at != ' ' && *at != '\t'))) {
            if (*at == '"')
                quoted = !quoted;
            else
                *out++ = *at;
            ++at;
        }
        if (*at != '\0')
            ++at;
        *out = '\0';
    }
    arguments[count] = nullptr;
    return count;
}

} // namespace

UINT WINAPI WinExec(LPCSTR cmdLine, UINT) {
    if (cmdLine == nullptr)
        return ERROR_FILE_NOT_FOUND;
    char* line = static_cast<char*>(std::malloc(std::strlen(cmdLine) + 1));
    if (line == nullptr)
        return 0; // out of memory
    std::strcpy(line, cmdLine);
    const int kMostArguments = 64;
    char* arguments[kMostArguments + 1];
    int count = SplitCommandLine(line, arguments, kMostArguments);
    UINT result = ERROR_FILE_NOT_FOUND;
    if (count > 0 && ProgramExists(arguments[0])) {
        pid_t child;
        int error = posix_spawnp(&child, arguments[0], nullptr, nullptr, arguments, environ);
        result = error == 0 ? kStarted : error == ENOEXEC ? ERROR_BAD_FORMAT : ERROR_FILE_NOT_FOUND;
    }
    std::free(line);
    return result;
}
