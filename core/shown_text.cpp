#include "core/shown_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

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

namespace {

std::string oneLine(const char* s)
{
    std::string out;
    for (; *s; s++) {
        if (*s == '\n' || *s == '\r' || *s == '\t')
            escapeByte(&out, static_cast<unsigned char>(*s));
        else
            out += *s;
    }
    return out;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <typename T>
void appendFormatted(std::string* out, const std::string& directive, T value)
{
    int n = snprintf(nullptr, 0, directive.c_str(), value);
    if (n <= 0)
        return;
    std::string piece(size_t(n) + 1, '\0');
    snprintf(piece.data(), piece.size(), directive.c_str(), value);
    out->append(piece.data(), size_t(n));
}
#pragma GCC diagnostic pop

// An integer argument taken with the type its length modifier names.
template <typename Int, typename Long, typename LongLong, typename Max, typename Size>
void appendInteger(std::string* out, const std::string& directive, const std::string& length, va_list* ap)
{
    if (length == "ll" || length == "q")
        appendFormatted(out, directive, va_arg(*ap, LongLong));
    else if (length == "l")
        appendFormatted(out, directive, va_arg(*ap, Long));
    else if (length == "j")
        appendFormatted(out, directive, va_arg(*ap, Max));
    else if (length == "z" || length == "t")
        appendFormatted(out, directive, va_arg(*ap, Size));
    else
        appendFormatted(out, directive, va_arg(*ap, Int));
}

}  // namespace

std::string formatLine(const char* format, va_list args)
{
    va_list ap;
    va_copy(ap, args);
    std::string out;
    const char* p = format;
    while (*p) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        if (p[1] == '%') {
            out += '%';
            p += 2;
            continue;
        }
        // The conversion is rebuilt piece by piece, a '*' replaced by its
        // number, so that each argument is taken with its own type.
        std::string directive = "%";
        p++;
        // A width or a precision: digits, or '*' for the next argument.
        const auto number = [&] {
            if (*p == '*') {
                directive += std::to_string(va_arg(ap, int));
                p++;
            }
            while (*p >= '0' && *p <= '9')
                directive += *p++;
        };
        while (*p && strchr("-+ #0'", *p))
            directive += *p++;
        number();
        if (*p == '.') {
            directive += *p++;
            number();
        }
        std::string length;
        while (*p && strchr("hlLqjzt", *p))
            length += *p++;
        char conversion = *p;
        if (!conversion)
            break;
        p++;
        directive += length;
        directive += conversion;
        switch (conversion) {
        case 'd':
        case 'i':
            appendInteger<int, long, long long, intmax_t, ptrdiff_t>(&out, directive, length, &ap);
            break;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            appendInteger<unsigned, unsigned long, unsigned long long, uintmax_t, size_t>(&out, directive, length, &ap);
            break;
        case 'c':
            appendFormatted(&out, directive, va_arg(ap, int));
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (length == "L")
                appendFormatted(&out, directive, va_arg(ap, long double));
            else
                appendFormatted(&out, directive, va_arg(ap, double));
            break;
        case 's': {
            const char* s = va_arg(ap, const char*);
            appendFormatted(&out, directive, oneLine(s ? s : "(null)").c_str());
            break;
        }
        case 'p':
            appendFormatted(&out, directive, va_arg(ap, void*));
            break;
        case 'n':
            (void)va_arg(ap, int*);  // nothing is stored through a log line
            break;
        default:
            out += directive;
        }
    }
    va_end(ap);
    return out;
}

std::string shellWord(const std::string& word, bool bareWhenPlain)
{
    const auto plain = [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               strchr("_-./+,:=@%", c);
    };
    bool allPlain = !word.empty(), raw = true;
    for (size_t i = 0; i < word.size();) {
        const auto* c = reinterpret_cast<const unsigned char*>(word.data() + i);
        size_t n = *c >= 0x80 ? utf8Character(c, word.size() - i) : 1;
        allPlain = allPlain && *c < 0x80 && plain(*c);
        raw = raw && n > 0 && (*c >= 0x80 || (*c >= 0x20 && *c != 0x7F));
        i += n > 0 ? n : 1;
    }
    if (allPlain && bareWhenPlain)
        return word;
    std::string q = raw ? "'" : "$'";
    for (unsigned char c : word) {
        if (c == '\'')
            q += raw ? "'\\''" : "\\'";
        else if (!raw && c == '\\')
            q += "\\\\";
        else if (!raw && (c < 0x20 || c >= 0x7F))
            escapeByte(&q, c);
        else
            q += char(c);
    }
    return q + "'";
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
