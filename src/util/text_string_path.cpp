#include <cstring>

#include "lead_bytes.h"
#include "text_string.h"

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Bytes of the character at `text` under the ANSI code page: a lead byte and
// its trail byte are one character; a lead byte before the terminator is
// taken alone.
std::size_t CharacterSize(const char* text) {
    return (IsLeadByte(text[0]) && text[1] != 0) ? 2 : 1;
}

const std::size_t kComponentLimit = 255;

// A component of the path splitting rule: at most 255 bytes, never cut
// between a lead byte and its trail byte.
struct Component {
    const char* start = "";
    std::size_t size = 0;

    void Take(const char* from, std::size_t count) {
        start = from;
        size = 0;
        while (size < count) {
            const std::size_t step = CharacterSize(from + size);
            if (size + step > kComponentLimit)
                break;
            size += step;
        }
    }
};

struct PathComponents {
    Component drive, directory, fileName, extension;
};

PathComponents SplitPathText(const char* path) {
    PathComponents parts;
    const std::size_t pathLength = std::strlen(path);
    const char* rest = path;
    if (pathLength >= 2 && path[1] == ':') {
        parts.drive.start = path;
        parts.drive.size = 2;
        rest = path + 2;
    }
    const char* afterSeparator = rest;
    const char* lastDot = nullptr;
    for (const char* p = rest; *p != 0; p += CharacterSize(p)) {
        if (CharacterSize(p) == 2)
            continue;
        if (IsSeparator(*p))
            afterSeparator = p + 1;
        else if (*p == '.')
            lastDot = p;
    }
    const char* end = path + pathLength;
    parts.directory.Take(rest, static_cast<std::size_t>(afterSeparator - rest));
    if (lastDot != nullptr && lastDot >= afterSeparator) {
        parts.fileName.Take(afterSeparator, static_cast<std::size_t>(lastDot - afterSeparator));
        parts.extension.Take(lastDot, static_cast<std::size_t>(end - lastDot));
    } else {
        parts.fileName.Take(afterSeparator, static_cast<std::size_t>(end - afterSeparator));
    }
    return parts;
}

// True when the last character (a double-byte pair counting as one) is a
// separator.
bool EndsInSeparatorCharacter(const char* text) {
    bool last = false;
    for (const char* p = text; *p != 0; p += CharacterSize(p))
        last = CharacterSize(p) == 1 && IsSeparator(*p);
    return last;
}

} // namespace

TextString& TextString::EnsureTrailingSeparator() {
    if (length_ > 0 && IsSeparator(data_[length_ - 1]))
        return *this;
    return AppendUnlessLast('\\');
}

TextString& TextString::DropTrailingSeparator() {
    if (length_ > 0 && IsSeparator(data_[length_ - 1])) {
        --length_;
        data_[length_] = 0;
    }
    return *this;
}

void TextString::SplitPath(TextString* drive, TextString* directory, TextString* fileName,
                           TextString* extension) {
    // All components are cut before any string changes; they point into our
    // own text, so they are copied out first.
    const PathComponents parts = SplitPathText(data_);
    TextString* const targets[4] = {drive, directory, fileName, extension};
    const Component* const sources[4] = {&parts.drive, &parts.directory, &parts.fileName,
                                         &parts.extension};
    char copies[4][kComponentLimit + 1];
    for (int i = 0; i < 4; ++i)
        std::memcpy(copies[i], sources[i]->start, sources[i]->size);

    const bool intoItself = drive == this;
    if (intoItself)
        Clear();
    for (int i = 0; i < 4; ++i) {
        if (targets[i] == nullptr)
            continue;
        TextString* const target = intoItself ? this : targets[i];
        target->Append(static_cast<std::uint32_t>(sources[i]->size), copies[i]);
    }
}

TextString& TextString::MakePath(const char* drive, const char* directory, const char* fileName,
                                 const char* extension) {
    if (directory == nullptr)
        directory = ""; // as every other operation takes a null text
    TextString fullDirectory;
    if (!IsSeparator(directory[0]))
        fullDirectory.Assign("/");
    fullDirectory.Append(directory);
    fullDirectory.EnsureTrailingSeparator();

    // Composed without a length limit, so no composition can overflow.
    TextString composed;
    if (drive != nullptr && drive[0] != 0) {
        composed.Append(static_cast<std::uint32_t>(CharacterSize(drive)), drive);
        composed.Append(':');
    }
    if (fullDirectory.GetLength() > 0) {
        composed.Append(fullDirectory);
        if (!EndsInSeparatorCharacter(fullDirectory.GetText()))
            composed.Append('\\');
    }
    composed.Append(fileName);
    if (extension != nullptr) {
        if (extension[0] != 0 && extension[0] != '.')
            composed.Append('.');
        composed.Append(extension);
    }
    Assign(composed.GetText());
    return *this;
}
