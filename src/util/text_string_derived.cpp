// Strings made from other strings: concatenation and substrings. Each result
// is a new string with a buffer of exactly its size, or none when empty.
#include <cstring>

#include "heap.h"
#include "text_string.h"

TextString TextString::Concatenation(std::uint32_t leftCount, const char* left,
                                     std::uint32_t rightCount, const char* right) {
    if (rightCount > UINT32_MAX - leftCount)
        EndOnExhaustedHeap();
    TextString result;
    result.MakeBuffer(leftCount + rightCount);
    if (leftCount > 0)
        std::memcpy(result.data_, left, leftCount);
    if (rightCount > 0)
        std::memcpy(result.data_ + leftCount, right, rightCount);
    return result;
}

namespace {

std::uint32_t TextLength(const char* text) {
    return static_cast<std::uint32_t>(lstrlenA(text));
}

} // namespace

TextString operator+(const TextString& left, const TextString& right) {
    return TextString::Concatenation(left.GetLength(), left.GetText(), right.GetLength(),
                                     right.GetText());
}

TextString operator+(const TextString& left, const char* right) {
    return TextString::Concatenation(left.GetLength(), left.GetText(), TextLength(right), right);
}

TextString operator+(const char* left, const TextString& right) {
    return TextString::Concatenation(TextLength(left), left, right.GetLength(), right.GetText());
}

TextString operator+(const TextString& left, char right) {
    return TextString::Concatenation(left.GetLength(), left.GetText(), 1, &right);
}

TextString operator+(char left, const TextString& right) {
    return TextString::Concatenation(1, &left, right.GetLength(), right.GetText());
}

TextString operator+(const TextString& left, std::int32_t right) {
    char text[kIntegerTextSize];
    WriteIntegerText(right, 10, text);
    return left + text;
}

TextString operator+(std::int32_t left, const TextString& right) {
    char text[kIntegerTextSize];
    WriteIntegerText(left, 10, text);
    return text + right;
}

TextString TextString::Mid(std::uint32_t start) const {
    return Mid(start, length_ - start);
}

TextString TextString::Mid(std::uint32_t start, std::uint32_t count) const {
    TextString result;
    if (start > length_)
        return result;
    if (count > length_ - start)
        count = length_ - start;
    result.Assign(count, data_ + start);
    return result;
}

TextString TextString::Left(std::uint32_t count) const {
    return Mid(0, count > length_ ? length_ : count);
}

TextString TextString::Right(std::uint32_t count) const {
    if (count > length_)
        count = length_;
    return Mid(length_ - count, count);
}
