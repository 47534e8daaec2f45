// The switches of a run, read from its command line.
#pragma once

#include "text_string.h"

struct RunSwitches {
    bool silent = false; // /S: no message box and no Notepad; the exit code tells
    bool log = false;    // /LOG=<file> was given
    bool usage = false;  // /? without /S: the switches are shown, nothing is done
    TextString logPath;
    TextString unknown; // the first word that is no switch, without its quotes
};

// Reads the arguments (the command line without the program's name). Words
// are split as the C runtime splits them: blanks and tabs outside double
// quotes end a word, the quotes are dropped, and backslashes before a quote
// are halved (an odd one makes the quote a character of the word).
// Switches begin with '/' or '-', in any case of letters; the first
// /LOG=<file> with a file counts. /S counts wherever it stands. A silent
// run is refused (false) for any other word, /? and a /LOG= without a file
// or a second one among them: a script with a typo fails loudly. A run
// without /S, which a launcher may hand a word of its own (a file dropped on
// the program), passes over every other word; /? there asks for the
// switches. Each word not taken is told to `ignored`, when given.
bool ReadSwitches(const char* commandLine, RunSwitches& switches,
                  void (*ignored)(void* context, const TextString& word) = nullptr,
                  void* context = nullptr);
