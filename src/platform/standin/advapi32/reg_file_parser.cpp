// Reading one key's values out of a .reg file, in layers:
//   - the pieces of a line: blanks, comments, quoted texts, hex digits;
//   - key paths: which sections name the key, its parents or other keys;
//   - lines: the file cut into numbered physical lines;
//   - value data: a quoted text, dword:, hex: or hex(N): (over lines);
//   - the key's values as the file defines, redefines and deletes them.
// RegFile walks the lines and ties the layers together. Every step takes
// time in proportion to the line it reads: a value is found by its name in
// a hash index, so a file of any number of values is read in one pass.
#include "reg_file_parser.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <strings.h>
#include <unordered_map>
#include <vector>

namespace {

// ---- The pieces of a line -------------------------------------------------

// One physical line, without its line break and its trailing blanks.
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

char FoldCase(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// A quoted text with \\ and \" escapes, starting at the opening quote.
// Appends the unescaped bytes to out; returns the position after the
// closing quote, or null with the reason.
const char* ReadQuoted(const char* at, const char* end, std::string* out, const char** reason) {
    for (++at; at < end && *at != '"'; ++at) {
        if (*at == '\\') {
            if (at + 1 >= end || (at[1] != '\\' && at[1] != '"')) {
                *reason = "unknown escape in a quoted text (write a backslash as \\\\)";
                return nullptr;
            }
            ++at;
        }
        out->push_back(*at);
    }
    if (at == end) {
        *reason = "quoted text without its closing quote";
        return nullptr;
    }
    return at + 1;
}

// ---- Key paths ------------------------------------------------------------

const char* const kRootNames[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
                                  "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

// A key path as written, compared without regard to case and to trailing
// backslashes.
struct KeyPath {
    const char* text;
    std::size_t length;

    KeyPath(const char* at, std::size_t size) : text(at), length(size) {
        while (length > 0 && text[length - 1] == '\\')
            --length;
    }

    bool operator==(const KeyPath& other) const {
        if (length != other.length)
            return false;
        for (std::size_t i = 0; i < length; ++i) {
            if (FoldCase(text[i]) != FoldCase(other.text[i]))
                return false;
        }
        return true;
    }

    // Whether this key is the other one or one of its parents.
    bool Contains(const KeyPath& other) const {
        return other.length >= length && KeyPath(other.text, length) == *this &&
               (other.length == length || other.text[length] == '\\');
    }

    bool HasKnownRoot() const {
        for (const char* root : kRootNames) {
            if (KeyPath(root, std::strlen(root)).Contains(*this))
                return true;
        }
        return false;
    }
};

// ---- Lines ----------------------------------------------------------------

// The file's physical lines, one after the other, with their numbers.
class Lines {
  public:
    Lines(const char* text, std::size_t length) : next_(text), end_(text + length) {}

    bool Next(Line* line) {
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
        ++number_;
        return true;
    }

    // The number of the last line read; 0 before the first.
    unsigned Number() const { return number_; }

  private:
    const char* next_;
    const char* end_;
    unsigned number_ = 0;
};

// ---- Value data -----------------------------------------------------------
// Each reader takes the data from `at` to the line's end and, on a
// malformed one, returns false with the reason.

struct ValueData {
    DWORD type = REG_NONE;
    std::string bytes;
};

bool Fail(const char* why, const char** reason) {
    *reason = why;
    return false;
}

// "text": a string value, stored with its terminator.
bool ReadString(const char* at, const char* end, ValueData* data, const char** reason) {
    at = ReadQuoted(at, end, &data->bytes, reason);
    if (at == nullptr)
        return false;
    if (!OnlyTrailing(at, end))
        return Fail("text after a quoted value", reason);
    data->bytes.push_back('\0');
    data->type = REG_SZ;
    return true;
}

// dword:1 to 8 hex digits, stored little-endian.
bool ReadDword(const char* at, const char* end, ValueData* data, const char** reason) {
    std::uint32_t value = 0;
    int digits = 0;
    for (; at < end && HexDigit(*at) >= 0; ++at, ++digits)
        value = value * 16 + static_cast<std::uint32_t>(HexDigit(*at));
    if (digits == 0 || digits > 8 || !OnlyTrailing(at, end))
        return Fail("dword value that is not 1 to 8 hexadecimal digits", reason);
    for (int i = 0; i < 4; ++i)
        data->bytes.push_back(static_cast<char>(value >> (8 * i)));
    data->type = REG_DWORD;
    return true;
}

// hex:01,02,... or hex(N):..., continued over the next lines while a line
// ends in '\'.
bool ReadHex(const char* at, const char* end, Lines* lines, ValueData* data, const char** reason) {
    data->type = REG_BINARY;
    if (at < end && *at == '(') {
        data->type = 0;
        int digits = 0;
        for (++at; at < end && HexDigit(*at) >= 0; ++at, ++digits)
            data->type = data->type * 16 + static_cast<DWORD>(HexDigit(*at));
        if (digits == 0 || digits > 8 || at == end || *at != ')')
            return Fail("hex(type) value with a malformed type", reason);
        ++at;
    }
    if (at == end || *at != ':')
        return Fail("hex value without ':'", reason);
    for (++at;;) {
        at = SkipBlanks(at, end);
        if (at == end)
            return true;
        if (*at == '\\' && OnlyTrailing(at + 1, end)) {
            Line next;
            if (!lines->Next(&next))
                return Fail("hex value continued past the end of the file", reason);
            at = next.begin;
            end = next.end;
            continue;
        }
        if (at + 1 >= end || HexDigit(at[0]) < 0 || HexDigit(at[1]) < 0)
            return Fail("hex value with something other than two-digit bytes", reason);
        data->bytes.push_back(static_cast<char>(HexDigit(at[0]) * 16 + HexDigit(at[1])));
        at = SkipBlanks(at + 2, end);
        if (at < end && *at == ',')
            ++at;
        else if (!(at == end || (*at == '\\' && OnlyTrailing(at + 1, end))))
            return Fail("hex value bytes not separated by ','", reason);
    }
}

bool ReadData(const char* at, const char* end, Lines* lines, ValueData* data, const char** reason) {
    if (*at == '"')
        return ReadString(at, end, data, reason);
    if (StartsWithNoCase(at, end, "dword:"))
        return ReadDword(at + 6, end, data, reason);
    if (StartsWithNoCase(at, end, "hex"))
        return ReadHex(at + 3, end, lines, data, reason);
    return Fail("value data that is neither a quoted text, dword: nor hex:", reason);
}

// ---- The key's values -----------------------------------------------------

struct Value {
    std::string name;
    DWORD type;
    std::string data;
};

// The values of the one key asked for, in the order of their last
// definition. A value defined again or deleted leaves a gap in the list,
// so no step moves or searches the others.
class KeyValues {
  public:
    void Set(std::string name, DWORD type, std::string data) {
        const auto slot = index_.try_emplace(Folded(name), list_.size());
        if (!slot.second) { // defined before: the new definition wins
            live_[slot.first->second] = false;
            slot.first->second = list_.size();
        }
        list_.push_back(Value{std::move(name), type, std::move(data)});
        live_.push_back(true);
    }

    void Remove(const std::string& name) {
        auto found = index_.find(Folded(name));
        if (found == index_.end())
            return;
        live_[found->second] = false;
        index_.erase(found);
    }

    void Clear() {
        index_.clear();
        list_.clear();
        live_.clear();
    }

    // Hands the values over as the linked list of the interface, newest
    // first; false when out of memory (the list is then left empty).
    bool MoveTo(RegistryKeyContents* contents) {
        for (std::size_t i = 0; i < list_.size(); ++i) {
            if (live_[i] && !Prepend(list_[i], contents)) {
                FreeRegistryValues(contents);
                return false;
            }
        }
        Clear();
        return true;
    }

  private:
    static std::string Folded(const std::string& name) {
        std::string folded(name);
        for (char& c : folded)
            c = FoldCase(c);
        return folded;
    }

    static bool Prepend(const Value& from, RegistryKeyContents* contents) {
        RegistryValue* value = static_cast<RegistryValue*>(std::calloc(1, sizeof(RegistryValue)));
        char* name = static_cast<char*>(std::malloc(from.name.size() + 1));
        BYTE* data = static_cast<BYTE*>(std::malloc(from.data.size() + 1));
        if (value == nullptr || name == nullptr || data == nullptr) {
            std::free(value);
            std::free(name);
            std::free(data);
            return false;
        }
        std::memcpy(name, from.name.c_str(), from.name.size() + 1);
        std::memcpy(data, from.data.data(), from.data.size());
        *value = RegistryValue{name, from.type, data, static_cast<DWORD>(from.data.size()),
                               contents->values};
        contents->values = value;
        return true;
    }

    std::unordered_map<std::string, std::size_t> index_;
    std::vector<Value> list_;
    std::vector<bool> live_;
};

// ---- The file -------------------------------------------------------------

class RegFile {
  public:
    RegFile(const char* text, std::size_t length, const char* keyPath)
        : lines_(text, length), key_(keyPath, std::strlen(keyPath)) {}

    // Reads every line; on a malformed one, false with its number.
    bool Read(RegFileError* error) {
        Line line;
        while (lines_.Next(&line)) {
            if (!ReadLine(line)) {
                *error = RegFileError{lines_.Number(), reason_};
                return false;
            }
        }
        if (!sawHeader_) {
            *error = RegFileError{lines_.Number() == 0 ? 1 : lines_.Number(), kNoHeader};
            return false;
        }
        return true;
    }

    bool KeyExists() const { return keyExists_; }
    KeyValues& Values() { return values_; }

  private:
    static constexpr const char* kNoHeader =
        "no \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\" header";

    bool ReadLine(const Line& line) {
        if (line.begin == line.end || *line.begin == ';')
            return true;
        if (!sawHeader_)
            return ReadHeader(line);
        if (*line.begin == '[')
            return ReadSection(line);
        if (*line.begin == '@' || *line.begin == '"')
            return ReadValue(line);
        return Fail("neither a [key] section nor a value", &reason_);
    }

    bool ReadHeader(const Line& line) {
        const std::string text(line.begin, line.end);
        sawHeader_ = text == "Windows Registry Editor Version 5.00" || text == "REGEDIT4";
        return sawHeader_ || Fail(kNoHeader, &reason_);
    }

    // [key] starts the key's section; [-key] deletes the key with all
    // below it.
    bool ReadSection(const Line& line) {
        const char* close = line.end;
        while (close > line.begin && close[-1] != ']')
            --close;
        if (close == line.begin)
            return Fail("key section without its closing ']'", &reason_);
        if (!OnlyTrailing(close, line.end))
            return Fail("text after a key section", &reason_);
        const char* name = line.begin + 1;
        const bool deletion = name < close - 1 && *name == '-';
        if (deletion)
            ++name;
        const KeyPath section(name, static_cast<std::size_t>(close - 1 - name));
        if (!section.HasKnownRoot())
            return Fail("key section that does not begin with a root key such as "
                        "HKEY_LOCAL_MACHINE",
                        &reason_);
        inSection_ = true;
        inKey_ = false;
        if (deletion) {
            if (section.Contains(key_)) {
                values_.Clear();
                keyExists_ = false;
            }
            return true;
        }
        if (key_.Contains(section))
            keyExists_ = true;
        inKey_ = section == key_;
        return true;
    }

    // "name"=data or @=data, where data is "-" for a deletion. Values of
    // other keys are read as well, so that the whole file is checked.
    bool ReadValue(const Line& line) {
        if (!inSection_)
            return Fail("value before the first key section", &reason_);
        const char* at = line.begin;
        std::string name;
        if (*at == '@')
            ++at;
        else if ((at = ReadQuoted(at, line.end, &name, &reason_)) == nullptr)
            return false;
        at = SkipBlanks(at, line.end);
        if (at == line.end || *at != '=')
            return Fail("value name without '='", &reason_);
        at = SkipBlanks(at + 1, line.end);
        if (at == line.end)
            return Fail("value without data", &reason_);
        if (*at == '-') {
            if (!OnlyTrailing(at + 1, line.end))
                return Fail("text after a value deletion", &reason_);
            if (inKey_)
                values_.Remove(name);
            return true;
        }
        ValueData data;
        if (!ReadData(at, line.end, &lines_, &data, &reason_))
            return false;
        if (inKey_)
            values_.Set(std::move(name), data.type, std::move(data.bytes));
        return true;
    }

    Lines lines_;
    const KeyPath key_;
    const char* reason_ = "";
    bool sawHeader_ = false;
    bool inSection_ = false;
    bool inKey_ = false; // in the section of the key itself
    bool keyExists_ = false;
    KeyValues values_;
};

} // namespace

bool ParseRegFile(const char* text, std::size_t length, const char* keyPath,
                  RegistryKeyContents* contents, RegFileError* error) {
    contents->exists = false;
    contents->values = nullptr;
    try {
        RegFile file(text, length, keyPath);
        if (!file.Read(error))
            return false;
        if (!file.Values().MoveTo(contents)) {
            *error = RegFileError{0, "out of memory"};
            return false;
        }
        contents->exists = file.KeyExists();
        return true;
    } catch (const std::bad_alloc&) {
        FreeRegistryValues(contents);
        *error = RegFileError{0, "out of memory"};
        return false;
    }
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
