#include "command_line.h"
#include "lead_bytes.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The next word after `cursor`, which is left behind it; false at the end.
bool NextWord(const char*& cursor, TextString& word) {
    while (IsBlank(*cursor))
        ++cursor;
    if (*cursor == '\0')
        return false;
    word.Clear();
    bool quoted = false;
    while (*cursor != '\0' && (quoted || !IsBlank(*cursor))) {
        if (*cursor == '\\') {
            std::uint32_t backslashes = 0;
            while (*cursor == '\\') {
                ++backslashes;
                ++cursor;
            }
            const bool beforeQuote = *cursor == '"';
            for (std::uint32_t i = 0; i < (beforeQuote ? backslashes / 2 : backslashes); ++i)
                word.Append('\\');
            if (beforeQuote && backslashes % 2 == 1) {
                word.Append('"');
                ++cursor;
            }
        } else if (*cursor == '"') {
            quoted = !quoted;
            ++cursor;
        } else if (IsLeadByte(*cursor) && cursor[1] != '\0') {
            // The second byte of a pair may look like a backslash.
            word.Append(2, cursor);
            cursor += 2;
        } else {
            word.Append(*cursor++);
        }
    }
    return true;
}

const std::uint32_t kLogPrefixLength = 4; // "LOG="

} // namespace

bool ReadSwitches(const char* commandLine, RunSwitches& switches,
                  void (*ignored)(void* context, const TextString& word), void* context) {
    bool unknownSeen = false, usageAsked = false;
    TextString word;
    const char* cursor = commandLine != nullptr ? commandLine : "";
    while (NextWord(cursor, word)) {
        const char first = word.GetText()[0];
        const TextString name = word.Mid(1);
        bool known = false;
        if (first == '/' || first == '-') {
            if (name.EqualsNoCase("S")) {
                switches.silent = true;
                known = true;
            } else if (name.Left(kLogPrefixLength).EqualsNoCase("LOG=") &&
                       name.GetLength() > kLogPrefixLength && !switches.log) {
                switches.log = true;
                switches.logPath.Assign(name.Mid(kLogPrefixLength));
                known = true;
            } else if (name.EqualsNoCase("?")) {
                usageAsked = true;
            }
        }
        if (known)
            continue;
        if (!unknownSeen)
            switches.unknown.Assign(word);
        unknownSeen = true;
        if (ignored != nullptr)
            ignored(context, word);
    }
    switches.usage = usageAsked && !switches.silent;
    return !unknownSeen || !switches.silent;
}
