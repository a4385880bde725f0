#include "core/shown_text.h"

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 character at `p`, of at most `n`
// bytes, that is not a C1 control; 0 when there is none. Overlong forms,
// surrogates and code points past U+10FFFF are not well-formed.
size_t utf8Character(const unsigned char* p, size_t n)
{
    unsigned char c = p[0];
    size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0 || length > n)
        return 0;
    unsigned char lowest = 0x80, highest = 0xBF;
    if (c == 0xE0)
        lowest = 0xA0;
    else if (c == 0xED)
        highest = 0x9F;
    else if (c == 0xF0)
        lowest = 0x90;
    else if (c == 0xF4)
        highest = 0x8F;
    if (p[1] < lowest || p[1] > highest)
        return 0;
    for (size_t i = 2; i < length; i++)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    // U+0080 to U+009F: a terminal may take U+009B for the start of a sequence.
    if (c == 0xC2 && p[1] < 0xA0)
        return 0;
    return length;
}

void escapeByte(std::string* out, unsigned char c)
{
    char escaped[5];
    snprintf(escaped, sizeof escaped, "\\x%02X", c);
    *out += escaped;
}

// `plainAscii` says which bytes below 0x80 stay as they are.
template <typename Plain>
std::string escaped(const unsigned char* p, size_t n, bool keepUtf8, Plain plainAscii)
{
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n;) {
        size_t length = keepUtf8 && p[i] >= 0x80 ? utf8Character(p + i, n - i) : 0;
        if (length > 0) {
            out.append(reinterpret_cast<const char*>(p + i), length);
            i += length;
            continue;
        }
        if (p[i] < 0x80 && plainAscii(p[i]))
            out += char(p[i]);
        else
            escapeByte(&out, p[i]);
        i++;
    }
    return out;
}

}  // namespace

std::string printable(const std::string& raw, bool keepUtf8)
{
    return escaped(reinterpret_cast<const unsigned char*>(raw.data()), raw.size(), keepUtf8,
                   [](unsigned char c) { return c >= 0x20 && c < 0x7F && c != '\\'; });
}

std::string shownText(const char* text, size_t length)
{
    return escaped(reinterpret_cast<const unsigned char*>(text), length, true,
                   [](unsigned char c) { return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n'; });
}
