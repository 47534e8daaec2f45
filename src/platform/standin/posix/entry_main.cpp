// The process entry: hands the arguments to WinMain as one command line,
// without the program's name, as Win32 does.
#include <cstdlib>
#include <cstring>

#include "../windows.h"

int main(int argc, char** argv) {
    std::size_t length = 1;
    for (int i = 1; i < argc; ++i)
        length += std::strlen(argv[i]) + 1;
    char* commandLine = static_cast<char*>(std::malloc(length));
    if (commandLine == nullptr)
        return 1;
    commandLine[0] = '\0';
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            std::strcat(commandLine, " ");
        std::strcat(commandLine, argv[i]);
    }
    int result = WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWDEFAULT);
    std::free(commandLine);
    return result;
}
