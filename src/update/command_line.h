// The switches of a run, read from its command line.
#pragma once

#include "text_string.h"

struct RunSwitches {
    bool silent = false; // /S: no message box and no Notepad; the exit code tells
    bool log = false;    // /LOG=<file> was given
    TextString logPath;
    TextString unknown; // the first word that is no switch, without its quotes
};

// Reads the arguments (the command line without the program's name). Words
// are split as the C runtime splits them: blanks and tabs outside double
// quotes end a word, the quotes are dropped, and backslashes before a quote
// are halved (an odd one makes the quote a character of the word).
// Switches begin with '/' or '-', in any case of letters. False for a word
// that is no switch, a /LOG= without a file or a second /LOG=. /S counts
// wherever it stands, so that a silent run with a wrong word stays silent.
bool ReadSwitches(const char* commandLine, RunSwitches& switches);
