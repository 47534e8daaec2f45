// Reading the switches: words split as the C runtime splits a command line,
// switches in any case with '/' or '-', and what is refused.
#include <string>

#include <gtest/gtest.h>

#include "command_line.h"

namespace {

TEST(ReadSwitches, WhatIsTaken) {
    struct Case {
        const char* commandLine;
        bool silent;
        const char* logPath; // null: no log
    } cases[] = {
        {"", false, nullptr},
        {" \t ", false, nullptr},
        {"/S", true, nullptr},
        {"-s", true, nullptr},
        {"/s /S", true, nullptr},
        {"/LOG=C:\\update.log", false, "C:\\update.log"},
        {"-log=rel\\u.log /S", true, "rel\\u.log"},
        {"\t/S\t/Log=a\t", true, "a"},
        // Blanks inside quotes, wherever the quotes begin.
        {"/LOG=\"C:\\Program Files\\Brenvolt Logs\\u.log\"", false,
         "C:\\Program Files\\Brenvolt Logs\\u.log"},
        {"\"/LOG=C:\\a b\\u.log\" /S", true, "C:\\a b\\u.log"},
        {"/LOG=C:\\Program\" \"Files\\u.log", false, "C:\\Program Files\\u.log"},
        // Backslashes are themselves, except before a quote.
        {"/LOG=\\\\server\\share\\u.log", false, "\\\\server\\share\\u.log"},
        {"/LOG=\"C:\\Logs\\\\\"", false, "C:\\Logs\\"},
        {"/LOG=\"a\\\"b\"", false, "a\"b"},
        {"/LOG=\"a b", false, "a b"}, // an open quote ends with the line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commandLine);
        RunSwitches switches;
        EXPECT_TRUE(ReadSwitches(c.commandLine, switches));
        EXPECT_EQ(switches.silent, c.silent);
        EXPECT_EQ(switches.log, c.logPath != nullptr);
        EXPECT_STREQ(switches.logPath.GetText(), c.logPath != nullptr ? c.logPath : "");
    }
}

void Collect(void* words, const TextString& word) {
    *static_cast<std::string*>(words) += std::string(word.GetText()) + "|";
}

// A word that is no switch refuses a silent run, wherever /S stands; a run
// without /S passes over it (and /? there asks for the switches).
TEST(ReadSwitches, WhatIsRefusedWithSAndPassedOverWithout) {
    struct Case {
        const char* commandLine;
        const char* unknown; // the first word that is no switch
        const char* passed;  // every word not taken
    } cases[] = {
        {"/X", "/X", "/X|"},
        {"S", "S", "S|"},
        {"/SILENT", "/SILENT", "/SILENT|"},
        {"/S/LOG=a", "/S/LOG=a", "/S/LOG=a|"},
        {"\\S", "\\S", "\\S|"},
        {"/LOG=", "/LOG=", "/LOG=|"},
        {"/LOG=\"\"", "/LOG=", "/LOG=|"},
        {"/LOG a", "/LOG", "/LOG|a|"},
        {"/LOG=a /LOG=b", "/LOG=b", "/LOG=b|"},
        {"\"\"", "", "|"},
        {"/X /Y", "/X", "/X|/Y|"},
        {"update.log", "update.log", "update.log|"},
        {"-?", "-?", "-?|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commandLine);
        for (const char* silent : {"/S ", ""}) {
            RunSwitches switches;
            std::string passed;
            const bool taken = ReadSwitches((std::string(silent) + c.commandLine).c_str(), switches,
                                            Collect, &passed);
            EXPECT_EQ(taken, *silent == '\0');
            EXPECT_EQ(switches.silent, *silent != '\0');
            EXPECT_STREQ(switches.unknown.GetText(), c.unknown);
            EXPECT_EQ(passed, c.passed);
            EXPECT_EQ(switches.usage, *silent == '\0' && std::string(c.unknown) == "-?");
        }
    }
}

} // namespace
