#include "reg_file_parser.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

const char* const kRootNames[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
                                  "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

// One physical line, without its line break.
struct Line {
    const char* begin;
    const char* end;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

const char* SkipBlanks(const char* at, const char* end) {
    while (at < end && IsBlank(*at))
        ++at;
    return at;
}

// Whether only blanks or a comment follow.
bool OnlyTrailing(const char* at, const char* end) {
    at = SkipBlanks(at, end);
    return at == end || *at == ';';
}

char FoldCase(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Key paths compare without regard to case and to trailing backslashes.
std::size_t TrimmedKeyLength(const char* key, std::size_t length) {
    while (length > 0 && key[length - 1] == '\\')
        --length;
    return length;
}

bool SameKey(const char* first, std::size_t firstLength, const char* second,
             std::size_t secondLength) {
    firstLength = TrimmedKeyLength(first, firstLength);
    secondLength = TrimmedKeyLength(second, secondLength);
    if (firstLength != secondLength)
        return false;
    for (std::size_t i = 0; i < firstLength; ++i) {
        if (FoldCase(first[i]) != FoldCase(second[i]))
            return false;
    }
    return true;
}

// Whether key is ancestor or the same as descendant.
bool KeyContains(const char* key, std::size_t keyLength, const char* descendant,
                 std::size_t descendantLength) {
    keyLength = TrimmedKeyLength(key, keyLength);
    descendantLength = TrimmedKeyLength(descendant, descendantLength);
    if (descendantLength < keyLength)
        return false;
    if (!SameKey(key, keyLength, descendant, keyLength))
        return false;
    return descendantLength == keyLength || descendant[keyLength] == '\\';
}

bool HasKnownRoot(const char* key, std::size_t length) {
    for (const char* root : kRootNames) {
        std::size_t rootLength = std::strlen(root);
        if (KeyContains(root, rootLength, key, length))
            return true;
    }
    return false;
}

bool SameName(const char* first, const char* second) {
    return strcasecmp(first, second) == 0;
}

// A quoted string with \\ and \" escapes, starting at the opening quote.
// Writes the unescaped bytes to out (at least end - at bytes) with a
// terminator; returns the position after the closing quote, or null.
const char* ReadQuoted(const char* at, const char* end, char* out, std::size_t* outLength,
                       const char** reason) {
    ++at;
    std::size_t length = 0;
    while (at < end && *at != '"') {
        if (*at == '\\') {
            if (at + 1 >= end || (at[1] != '\\' && at[1] != '"')) {
                *reason = "unknown escape in a quoted text (write a backslash as \\\\)";
                return nullptr;
            }
            ++at;
        }
        out[length++] = *at++;
    }
    if (at == end) {
        *reason = "quoted text without its closing quote";
        return nullptr;
    }
    out[length] = '\0';
    *outLength = length;
    return at + 1;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool StartsWithNoCase(const char* at, const char* end, const char* prefix) {
    std::size_t length = std::strlen(prefix);
    return static_cast<std::size_t>(end - at) >= length && strncasecmp(at, prefix, length) == 0;
}

class Parser {
  public:
    Parser(const char* text, std::size_t length, const char* keyPath, RegistryKeyContents* contents)
        : next_(text), end_(text + length), key_(keyPath), keyLength_(std::strlen(keyPath)),
          contents_(contents) {}

    bool Run(RegFileError* error) {
        Line line;
        while (NextLine(&line)) {
            if (!ParseLine(line)) {
                error->line = lineNumber_;
                error->reason = reason_;
                return false;
            }
        }
        if (!sawHeader_) {
            error->line = lineNumber_ == 0 ? 1 : lineNumber_;
            error->reason = "no \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\" header";
            return false;
        }
        return true;
    }

  private:
    bool NextLine(Line* line) {
        if (next_ >= end_)
            return false;
        const char* begin = next_;
        const char* stop = static_cast<const char*>(std::memchr(begin, '\n', end_ - begin));
        next_ = stop == nullptr ? end_ : stop + 1;
        if (stop == nullptr)
            stop = end_;
        while (stop > begin && (stop[-1] == '\r' || IsBlank(stop[-1])))
            --stop;
        line->begin = SkipBlanks(begin, stop);
        line->end = stop;
        ++lineNumber_;
        return true;
    }

    bool Fail(const char* reason) {
        reason_ = reason;
        return false;
    }

    bool ParseLine(const Line& line) {
        const char* at = line.begin;
        if (at == line.end || *at == ';')
            return true;
        if (!sawHeader_) {
            std::size_t length = static_cast<std::size_t>(line.end - at);
            const char* header5 = "Windows Registry Editor Version 5.00";
            const char* header4 = "REGEDIT4";
            if ((length == std::strlen(header5) && std::memcmp(at, header5, length) == 0) ||
                (length == std::strlen(header4) && std::memcmp(at, header4, length) == 0)) {
                sawHeader_ = true;
                return true;
            }
            return Fail("no \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\" header");
        }
        if (*at == '[')
            return ParseSection(line);
        if (*at == '@' || *at == '"')
            return ParseValue(line);
        return Fail("neither a [key] section nor a value");
    }

    bool ParseSection(const Line& line) {
        const char* close = line.end;
        while (close > line.begin && *(close - 1) != ']')
            --close;
        if (close == line.begin)
            return Fail("key section without its closing ']'");
        if (!OnlyTrailing(close, line.end))
            return Fail("text after a key section");
        const char* name = line.begin + 1;
        std::size_t length = static_cast<std::size_t>(close - 1 - name);
        bool deletion = length > 0 && *name == '-';
        if (deletion) {
            ++name;
            --length;
        }
        if (!HasKnownRoot(name, length))
            return Fail("key section that does not begin with a root key such as "
                        "HKEY_LOCAL_MACHINE");
        inSection_ = true;
        inTarget_ = false;
        if (deletion) {
            if (KeyContains(name, length, key_, keyLength_)) {
                FreeRegistryValues(contents_);
                contents_->exists = false;
            }
            return true;
        }
        if (KeyContains(key_, keyLength_, name, length))
            contents_->exists = true;
        inTarget_ = SameKey(name, length, key_, keyLength_);
        return true;
    }

    bool ParseValue(const Line& line) {
        if (!inSection_)
            return Fail("value before the first key section");
        std::size_t room = static_cast<std::size_t>(line.end - line.begin) + 1;
        char* name = static_cast<char*>(std::malloc(room));
        if (name == nullptr)
            return Fail("out of memory");
        bool ok = ParseValueWithName(line, name);
        std::free(name);
        return ok;
    }

    bool ParseValueWithName(const Line& line, char* name) {
        const char* at = line.begin;
        std::size_t nameLength = 0;
        if (*at == '@') {
            name[0] = '\0';
            ++at;
        } else {
            at = ReadQuoted(at, line.end, name, &nameLength, &reason_);
            if (at == nullptr)
                return false;
        }
        at = SkipBlanks(at, line.end);
        if (at == line.end || *at != '=')
            return Fail("value name without '='");
        at = SkipBlanks(at + 1, line.end);
        if (at == line.end)
            return Fail("value without data");

        if (*at == '-') {
            if (!OnlyTrailing(at + 1, line.end))
                return Fail("text after a value deletion");
            if (inTarget_)
                RemoveValue(name);
            return true;
        }
        if (*at == '"') {
            std::size_t room = static_cast<std::size_t>(line.end - at) + 1;
            BYTE* data = static_cast<BYTE*>(std::malloc(room));
            if (data == nullptr)
                return Fail("out of memory");
            std::size_t length = 0;
            at = ReadQuoted(at, line.end, reinterpret_cast<char*>(data), &length, &reason_);
            if (at == nullptr || !OnlyTrailing(at, line.end)) {
                std::free(data);
                return at == nullptr ? false : Fail("text after a quoted value");
            }
            return Store(name, REG_SZ, data, static_cast<DWORD>(length + 1));
        }
        if (StartsWithNoCase(at, line.end, "dword:")) {
            at += 6;
            unsigned long value = 0;
            int digits = 0;
            for (; at < line.end && HexDigit(*at) >= 0; ++at, ++digits)
                value = value * 16 + static_cast<unsigned long>(HexDigit(*at));
            if (digits == 0 || digits > 8 || !OnlyTrailing(at, line.end))
                return Fail("dword value that is not 1 to 8 hexadecimal digits");
            BYTE* data = static_cast<BYTE*>(std::malloc(4));
            if (data == nullptr)
                return Fail("out of memory");
            for (int i = 0; i < 4; ++i)
                data[i] = static_cast<BYTE>(value >> (8 * i));
            return Store(name, REG_DWORD, data, 4);
        }
        if (StartsWithNoCase(at, line.end, "hex"))
            return ParseHex(at + 3, line.end, name);
        return Fail("value data that is neither a quoted text, dword: nor hex:");
    }

    // hex:01,02,... or hex(N):..., continued over lines ending in '\'.
    bool ParseHex(const char* at, const char* end, const char* name) {
        DWORD type = REG_BINARY;
        if (at < end && *at == '(') {
            ++at;
            type = 0;
            int digits = 0;
            for (; at < end && HexDigit(*at) >= 0; ++at, ++digits)
                type = type * 16 + static_cast<DWORD>(HexDigit(*at));
            if (digits == 0 || digits > 8 || at == end || *at != ')')
                return Fail("hex(type) value with a malformed type");
            ++at;
        }
        if (at == end || *at != ':')
            return Fail("hex value without ':'");
        ++at;
        std::size_t capacity = 64, size = 0;
        BYTE* data = static_cast<BYTE*>(std::malloc(capacity));
        if (data == nullptr)
            return Fail("out of memory");
        for (;;) {
            at = SkipBlanks(at, end);
            if (at == end)
                break;
            if (*at == '\\' && OnlyTrailing(at + 1, end)) {
                Line line;
                if (!NextLine(&line)) {
                    std::free(data);
                    return Fail("hex value continued past the end of the file");
                }
                at = line.begin;
                end = line.end;
                continue;
            }
            if (at + 1 >= end || HexDigit(at[0]) < 0 || HexDigit(at[1]) < 0) {
                std::free(data);
                return Fail("hex value with something other than two-digit bytes");
            }
            if (size == capacity) {
                capacity *= 2;
                void* grown = std::realloc(data, capacity);
                if (grown == nullptr) {
                    std::free(data);
                    return Fail("out of memory");
                }
                data = static_cast<BYTE*>(grown);
            }
            data[size++] = static_cast<BYTE>(HexDigit(at[0]) * 16 + HexDigit(at[1]));
            at = SkipBlanks(at + 2, end);
            if (at < end && *at == ',')
                ++at;
            else if (!(at == end || (*at == '\\' && OnlyTrailing(at + 1, end)))) {
                std::free(data);
                return Fail("hex value bytes not separated by ','");
            }
        }
        return Store(name, type, data, static_cast<DWORD>(size));
    }

    void RemoveValue(const char* name) {
        for (RegistryValue** link = &contents_->values; *link != nullptr; link = &(*link)->next) {
            if (SameName((*link)->name, name)) {
                RegistryValue* gone = *link;
                *link = gone->next;
                std::free(gone->name);
                std::free(gone->data);
                std::free(gone);
                return;
            }
        }
    }

    // Takes data over; later lines win over earlier ones.
    bool Store(const char* name, DWORD type, BYTE* data, DWORD size) {
        if (!inTarget_) {
            std::free(data);
            return true;
        }
        RemoveValue(name);
        RegistryValue* value = static_cast<RegistryValue*>(std::calloc(1, sizeof(RegistryValue)));
        char* nameCopy = static_cast<char*>(std::malloc(std::strlen(name) + 1));
        if (value == nullptr || nameCopy == nullptr) {
            std::free(value);
            std::free(nameCopy);
            std::free(data);
            return Fail("out of memory");
        }
        std::strcpy(nameCopy, name);
        value->name = nameCopy;
        value->type = type;
        value->data = data;
        value->size = size;
        value->next = contents_->values;
        contents_->values = value;
        return true;
    }

    const char* next_;
    const char* end_;
    const char* key_;
    std::size_t keyLength_;
    RegistryKeyContents* contents_;
    unsigned lineNumber_ = 0;
    bool sawHeader_ = false;
    bool inSection_ = false;
    bool inTarget_ = false;
    const char* reason_ = "";
};

} // namespace

bool ParseRegFile(const char* text, std::size_t length, const char* keyPath,
                  RegistryKeyContents* contents, RegFileError* error) {
    contents->exists = false;
    contents->values = nullptr;
    Parser parser(text, length, keyPath, contents);
    if (parser.Run(error))
        return true;
    FreeRegistryValues(contents);
    contents->exists = false;
    return false;
}

void FreeRegistryValues(RegistryKeyContents* contents) {
    RegistryValue* value = contents->values;
    while (value != nullptr) {
        RegistryValue* next = value->next;
        std::free(value->name);
        std::free(value->data);
        std::free(value);
        value = next;
    }
    contents->values = nullptr;
}
