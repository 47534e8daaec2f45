// Whether a byte leads a two-byte character in the ANSI code page (932,
// 936, 949, 950: a lead byte and the byte after it are one character, and
// that byte may look like a separator). The answers for all 256 bytes are
// asked of the system once, on first use, so that walking a path costs no
// call into the system per character. The ANSI code page is fixed for the
// life of a process.
#pragma once

bool IsLeadByte(unsigned char byte);

inline bool IsLeadByte(char byte) {
    return IsLeadByte(static_cast<unsigned char>(byte));
}
