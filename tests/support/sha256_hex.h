// SHA-256 digests as a manifest writes them: 64 lower-case hex digits.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "sha256.h"

inline std::string Hex(const Sha256Digest& digest) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (BYTE byte : digest.bytes)
        text += std::string(1, kHex[byte >> 4]) + kHex[byte & 15];
    return text;
}

// The digest of `data`, handed to the hasher `chunk` bytes at a time.
inline std::string HashOf(const std::string& data, std::size_t chunk = 4096) {
    Sha256 hasher;
    Sha256Digest digest = {};
    EXPECT_TRUE(hasher.Begin());
    for (std::size_t at = 0; at < data.size(); at += chunk)
        EXPECT_TRUE(
            hasher.Add(data.data() + at, static_cast<DWORD>(data.substr(at, chunk).size())));
    EXPECT_TRUE(hasher.Finish(digest));
    return Hex(digest);
}
