// Numbers as a user types them: decimal, or hexadecimal after "0x" or "0X".
// A leading zero alone does not mean octal, so "010" is ten on both faces.
#pragma once

#include <cstdint>

// The input window's reading: the digits up to the first that does not fit
// are taken, text without any gives 0, and a value beyond the int range is
// clamped to it.
int inputTextToNumber(const char* text);

// The same reading, but only when the whole text is one number of at most 32
// bits, with no sign and no blank: where a typo must be refused rather than
// read as "12ab" = 12. False for anything else.
bool exactNumberFromText(const char* text, uint32_t* value);
