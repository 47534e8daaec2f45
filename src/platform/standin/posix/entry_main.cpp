// The process entry: hands the arguments to WinMain as one command line,
// without the program's name, as Win32 does. Each argument is written so
// that the C runtime's rules for splitting a command line give it back
// whole: one with a blank, a tab or a double quote in it (or an empty one)
// is put in double quotes, its quotes are escaped with a backslash, and the
// backslashes before a quote are doubled.
#include <cstdlib>
#include <cstring>
#include <string>

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

} // namespace

int main(int argc, char** argv) {
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            commandLine += ' ';
        AppendArgument(commandLine, argv[i]);
    }
    return WinMain(GetModuleHandleA(nullptr), nullptr, &commandLine[0], SW_SHOWDEFAULT);
}
