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

TEST(ReadSwitches, WhatIsRefused) {
    struct Case {
        const char* commandLine;
        const char* unknown; // the first word that is no switch
        bool silent;         // /S counts all the same
    } cases[] = {
        {"/X", "/X", false},
        {"S", "S", false},
        {"/SILENT", "/SILENT", false},
        {"/S/LOG=a", "/S/LOG=a", false},
        {"\\S", "\\S", false},
        {"/LOG=", "/LOG=", false},
        {"/LOG=\"\"", "/LOG=", false},
        {"/LOG a", "/LOG", false},
        {"/LOG=a /LOG=b", "/LOG=b", false},
        {"\"\"", "", false},
        {"/S /X", "/X", true},
        {"/X /S /Y", "/X", true},
        {"update.log", "update.log", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commandLine);
        RunSwitches switches;
        EXPECT_FALSE(ReadSwitches(c.commandLine, switches));
        EXPECT_STREQ(switches.unknown.GetText(), c.unknown);
        EXPECT_EQ(switches.silent, c.silent);
    }
}

} // namespace
