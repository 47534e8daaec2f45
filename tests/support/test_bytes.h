// Byte-exact views of strings and files for the util and tools tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "text_string.h"

// The string's bytes, inner zero bytes included.
inline std::string Bytes(const TextString& s) {
    return std::string(s.GetText(), s.GetLength());
}

inline TextString WithBytes(const std::string& bytes) {
    TextString s;
    s.Assign(static_cast<std::uint32_t>(bytes.size()), bytes.data());
    return s;
}

// A 32-bit field of a table file, little-endian.
inline std::string Field(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

// A file in the current directory, removed again at the end of the test.
class ScratchFile {
  public:
    ScratchFile(const char* name, const std::string& bytes) : name_(name) {
        std::FILE* file = std::fopen(name, "wb");
        EXPECT_NE(file, nullptr) << name;
        if (file == nullptr)
            return;
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
        std::fclose(file);
    }
    ~ScratchFile() { std::remove(name_); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const char* Name() const { return name_; }

  private:
    const char* name_;
};
