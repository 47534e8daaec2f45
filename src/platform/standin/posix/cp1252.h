#pragma once

// The Unicode code point of a code page 1252 byte. The five bytes that the
// code page leaves undefined map to the C1 controls, as Windows maps them.
unsigned Cp1252ToUnicode(unsigned char byte);

// The code page 1252 byte of a code point, or -1 when it has none.
int UnicodeToCp1252(unsigned codePoint);
