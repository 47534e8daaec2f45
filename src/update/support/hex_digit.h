// A hexadecimal digit, either case, as the names and lists of the run
// write them.
#pragma once

// Its value, or -1 for a character that is no hexadecimal digit.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
