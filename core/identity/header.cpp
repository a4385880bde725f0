#include "core/identity/header.h"

#include <cstdio>
#include <cstring>

static const char* const LICENCE_TEXTS[] = {"COPYRIGHT BY SNK CORPORATION",
                                            " LICENSED BY SNK CORPORATION"};
static const size_t LICENCE_BYTES = 28;

static uint32_t littleEndian32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

CartHeader decodeHeader(const uint8_t* bytes, size_t length)
{
    CartHeader h;
    if (length < CART_HEADER_SIZE)
        return h;
    for (const char* text : LICENCE_TEXTS)
        if (memcmp(bytes, text, LICENCE_BYTES) == 0) {
            h.licensed = true;
            h.licence = text;
        }
    if (!h.licensed)
        return h;
    h.entryPoint = littleEndian32(bytes + 0x1C);
    char serial[5];
    snprintf(serial, sizeof serial, "%02X%02X", bytes[0x21], bytes[0x20]);
    h.serial = serial;
    h.version = bytes[0x22];
    h.system = bytes[0x23];
    h.title.assign(reinterpret_cast<const char*>(bytes + 0x24), CART_TITLE_BYTES);
    return h;
}

static std::string systemName(uint8_t system)
{
    char line[32];
    const char* name = system == SYSTEM_COLOUR       ? "colour"
                       : system == SYSTEM_MONOCHROME ? "monochrome"
                                                     : "unknown";
    snprintf(line, sizeof line, "%s (0x%02X)", name, system);
    return line;
}

// Titles shorter than 12 bytes are padded with NULs; the padding is not shown.
static std::string shownTitle(std::string title)
{
    while (!title.empty() && title.back() == '\0')
        title.pop_back();
    return printable(title);
}

std::vector<std::string> headerLines(const CartHeader& h)
{
    if (!h.licensed)
        return {"Cart header: no valid licence text."};
    char entry[32], version[32];
    snprintf(entry, sizeof entry, "0x%08X", unsigned(h.entryPoint));
    snprintf(version, sizeof version, "0x%02X", h.version);
    return {"Cart header:",
            "  Licence  = '" + h.licence + "'",
            std::string("  Entry    = ") + entry,
            "  Serial   = " + h.serial,
            std::string("  Version  = ") + version,
            "  System   = " + systemName(h.system),
            "  Title    = '" + shownTitle(h.title) + "'"};
}
