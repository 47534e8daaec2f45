// TextString: the program's growable 8-bit string in the ANSI code page.
//
// Storage: `length` and `capacity` count bytes without the terminator; `data`
// is never null. A string either owns a heap block of exactly capacity + 1
// bytes, or points at the one shared, read-only empty text (length and
// capacity 0). Buffers are sized exactly, with no growth reserve; shrinking
// keeps the buffer. Texts may hold zero bytes inside; `length` counts them.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"

class TextTable;

#if defined(__GNUC__) && !defined(__clang__)
// gnu_printf: the C99 dialect of the vsnprintf that Format uses, also where
// GCC's plain printf means the system C runtime's older one.
#define TEXT_STRING_PRINTF_FORMAT(formatIndex, firstArg)                                           \
    __attribute__((format(gnu_printf, formatIndex, firstArg)))
#elif defined(__clang__)
#define TEXT_STRING_PRINTF_FORMAT(formatIndex, firstArg)                                           \
    __attribute__((format(printf, formatIndex, firstArg)))
#else
#define TEXT_STRING_PRINTF_FORMAT(formatIndex, firstArg)
#endif

class TextString {
  public:
    TextString();
    TextString(const TextString& other);
    TextString(const char* text);
    TextString(std::int32_t value, unsigned radix);
    ~TextString();

    // Nothing but 8-bit texts and 32-bit integers becomes a string.
    TextString(double, unsigned) = delete;
    TextString(bool, unsigned) = delete;

    TextString& operator=(const TextString& other) { return Assign(other); }
    TextString& operator=(const char* text) { return Assign(text); }

    const char* GetText() const { return data_; }
    std::uint32_t GetLength() const { return length_; }
    std::uint32_t GetCapacity() const { return capacity_; }
    bool HoldsBuffer() const { return data_ != EmptyText(); }

    // The core forms. Assign with the string's own data pointer changes
    // nothing (pointers only are compared); both allow overlapping bytes.
    void Assign(std::uint32_t count, const char* bytes);
    void Append(std::uint32_t count, const char* bytes);

    TextString& Assign(const TextString& other);
    TextString& Assign(const char* text); // null leaves the string unchanged
    TextString& Append(const char* text); // null appends nothing
    TextString& Append(char character);   // the zero byte included
    TextString& Append(const TextString& other);
    TextString& Append(std::int32_t value); // radix 10
    TextString& Append(double) = delete;
    TextString& Append(bool) = delete;

    TextString& AppendUnlessLast(char character);
    TextString& DropLastIf(char character);
    void Clear();

    // printf expansion of the format. The expansion is complete before the
    // string changes, so the string's own text may be an argument.
    TextString& Format(const char* format, ...) TEXT_STRING_PRINTF_FORMAT(2, 3);

    // Paths: both the backslash and the slash are separators.
    TextString& EnsureTrailingSeparator();
    TextString& DropTrailingSeparator();
    void SplitPath(TextString* drive, TextString* directory, TextString* fileName,
                   TextString* extension);
    TextString& MakePath(const char* drive, const char* directory, const char* fileName,
                         const char* extension);

    // Derived strings; the string itself is unchanged.
    TextString Mid(std::uint32_t start) const;
    TextString Mid(std::uint32_t start, std::uint32_t count) const;
    TextString Left(std::uint32_t count) const;
    TextString Right(std::uint32_t count) const;

    // Searching over the text up to its first zero byte; -1 when not found.
    std::int32_t Find(const char* text) const;
    std::int32_t ReverseFind(char character) const;

    // Case of the ASCII letters only; bytes from 0x80 up are never touched.
    TextString& MakeUpper();
    TextString& MakeLower();
    bool EqualsNoCase(const TextString& other) const;

    bool LoadResourceText(UINT resourceId, HINSTANCE instance);
    void ShowInMessageBox() const;

    bool LoadTableText(std::uint32_t textId, const TextTable* table);

    static const char* EmptyText();

    // The two byte runs one behind the other, in one buffer of exactly their
    // summed size; the concatenation forms of + rest on it.
    static TextString Concatenation(std::uint32_t leftCount, const char* left,
                                    std::uint32_t rightCount, const char* right);

  private:
    void MakeBuffer(std::uint32_t count);

    std::uint32_t length_;
    std::uint32_t capacity_;
    char* data_;
};

TextString operator+(const TextString& left, const TextString& right);
TextString operator+(const TextString& left, const char* right);
TextString operator+(const char* left, const TextString& right);
TextString operator+(const TextString& left, char right);
TextString operator+(char left, const TextString& right);
TextString operator+(const TextString& left, std::int32_t right);
TextString operator+(std::int32_t left, const TextString& right);
TextString operator+(const TextString& left, double right) = delete;
TextString operator+(double left, const TextString& right) = delete;

// Text of an integer: radix 10 with a minus sign for negative values;
// every other radix (2..36) writes the value as unsigned 32-bit. 32 binary
// digits and the terminator need 33 bytes. Another radix is taken as 10.
const std::uint32_t kIntegerTextSize = 33;
void WriteIntegerText(std::int32_t value, unsigned radix, char (&text)[kIntegerTextSize]);
