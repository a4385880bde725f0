// Numbers as a user types them: decimal, or hexadecimal after "0x" or "0X".
// A leading zero alone does not mean octal, so "010" is ten on both faces.
#pragma once

#include <cstdint>

// The number window's and the command line's reading, only when the whole
// text is one number of at most 32 bits, with no sign and no blank: a typo
// is refused rather than read as "12ab" = 12. False for anything else.
bool exactNumberFromText(const char* text, uint32_t* value);
