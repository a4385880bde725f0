#include "core/number_text.h"

#include <cctype>
#include <climits>
#include <cstdlib>

// Only the first two characters announce hex; a leading zero is no octal.
static int baseOf(const char* text)
{
    return text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 16 : 10;
}

bool exactNumberFromText(const char* text, uint32_t* value)
{
    int base = baseOf(text);
    const char* digits = base == 16 ? text + 2 : text;
    // Digit by digit rather than strtoul, which would also take a sign,
    // blanks, or a second "0x" after the first.
    if (*digits == '\0')
        return false;
    uint64_t v = 0;
    for (const char* c = digits; *c; c++) {
        int d = isdigit(static_cast<unsigned char>(*c)) ? *c - '0'
                : base == 16 && isxdigit(static_cast<unsigned char>(*c)) ? tolower(*c) - 'a' + 10
                : -1;
        if (d < 0)
            return false;
        v = v * uint64_t(base) + uint64_t(d);
        if (v > UINT32_MAX)
            return false;
    }
    *value = uint32_t(v);
    return true;
}
