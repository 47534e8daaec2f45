#include "text_string.h"

#include <cstring>

#include "heap.h"

namespace {

// The shared empty text: one read-only zero byte, never written or freed.
const char kEmptyText[1] = {0};

std::uint32_t TextLength(const char* text) {
    return static_cast<std::uint32_t>(lstrlenA(text));
}

} // namespace

const char* TextString::EmptyText() {
    return kEmptyText;
}

TextString::TextString() : length_(0), capacity_(0), data_(const_cast<char*>(kEmptyText)) {}

TextString::TextString(const TextString& other) : TextString() {
    MakeBuffer(other.length_);
    if (length_ > 0)
        std::memcpy(data_, other.data_, length_);
}

TextString::TextString(const char* text) : TextString() {
    const std::uint32_t count = TextLength(text);
    MakeBuffer(count);
    if (count > 0)
        std::memcpy(data_, text, count);
}

TextString::TextString(std::int32_t value, unsigned radix) : TextString() {
    char text[kIntegerTextSize];
    WriteIntegerText(value, radix, text);
    Assign(text);
}

TextString::~TextString() {
    Clear();
}

void TextString::MakeBuffer(std::uint32_t count) {
    if (count == 0) {
        data_ = const_cast<char*>(kEmptyText);
        length_ = 0;
        capacity_ = 0;
        return;
    }
    if (count == UINT32_MAX)
        EndOnExhaustedHeap();
    data_ = static_cast<char*>(AllocateBlock(std::size_t{count} + 1));
    data_[count] = 0;
    length_ = count;
    capacity_ = count;
}

void TextString::Clear() {
    if (HoldsBuffer())
        ReleaseBlock(data_);
    data_ = const_cast<char*>(kEmptyText);
    length_ = 0;
    capacity_ = 0;
}

void TextString::Assign(std::uint32_t count, const char* bytes) {
    if (bytes == data_)
        return;
    if (count > capacity_) {
        Clear();
        MakeBuffer(count);
    }
    if (count > 0)
        std::memmove(data_, bytes, count);
    length_ = count;
    if (HoldsBuffer())
        data_[count] = 0;
}

void TextString::Append(std::uint32_t count, const char* bytes) {
    if (count > UINT32_MAX - length_)
        EndOnExhaustedHeap();
    if (length_ + count > capacity_) {
        char* const old = data_;
        const std::uint32_t oldLength = length_;
        MakeBuffer(oldLength + count);
        std::memcpy(data_, old, oldLength);
        std::memcpy(data_ + oldLength, bytes, count);
        if (old != kEmptyText)
            ReleaseBlock(old);
    } else {
        if (count > 0)
            std::memmove(data_ + length_, bytes, count);
        length_ += count;
    }
    if (HoldsBuffer())
        data_[length_] = 0;
}

TextString& TextString::Assign(const TextString& other) {
    Assign(other.length_, other.data_);
    return *this;
}

TextString& TextString::Assign(const char* text) {
    if (text != nullptr)
        Assign(TextLength(text), text);
    return *this;
}

TextString& TextString::Append(const char* text) {
    Append(TextLength(text), text);
    return *this;
}

TextString& TextString::Append(char character) {
    Append(1, &character);
    return *this;
}

TextString& TextString::Append(const TextString& other) {
    Append(other.length_, other.data_);
    return *this;
}

TextString& TextString::Append(std::int32_t value) {
    char text[kIntegerTextSize];
    WriteIntegerText(value, 10, text);
    return Append(text);
}

TextString& TextString::AppendUnlessLast(char character) {
    if (length_ > 0 && data_[length_ - 1] == character)
        return *this;
    return Append(character);
}

TextString& TextString::DropLastIf(char character) {
    if (length_ == 0) {
        Clear();
    } else if (data_[length_ - 1] == character) {
        --length_;
        data_[length_] = 0;
    }
    return *this;
}

void WriteIntegerText(std::int32_t value, unsigned radix, char (&text)[kIntegerTextSize]) {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    char reversed[kIntegerTextSize];
    if (radix < 2 || radix > 36)
        radix = 10; // unsupported radixes must not divide by zero or loop
    std::uint32_t magnitude = static_cast<std::uint32_t>(value);
    std::uint32_t out = 0;
    if (radix == 10 && value < 0) {
        text[out++] = '-';
        magnitude = 0u - magnitude;
    }
    std::uint32_t count = 0;
    do {
        reversed[count++] = kDigits[magnitude % radix];
        magnitude /= radix;
    } while (magnitude != 0);
    while (count > 0)
        text[out++] = reversed[--count];
    text[out] = 0;
}
