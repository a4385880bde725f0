// The cartridge header at the start of chip 0, which the console checks
// before it starts a game.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/shown_text.h"

constexpr size_t CART_HEADER_SIZE = 0x40;
constexpr size_t CART_TITLE_BYTES = 12;
constexpr uint8_t SYSTEM_MONOCHROME = 0x00;
constexpr uint8_t SYSTEM_COLOUR = 0x10;

struct CartHeader {
    bool licensed = false;  // one of the two licence texts opens the header
    std::string licence;
    uint32_t entryPoint = 0;
    std::string serial;  // software ID as the known-dump lists write it
    uint8_t version = 0;
    uint8_t system = 0;
    std::string title;  // the raw bytes, not terminated on the cartridge
};

// `length` may be short (a tiny file): then there is no header.
CartHeader decodeHeader(const uint8_t* bytes, size_t length);

// The header as log lines, or one line saying it has no valid licence text.
std::vector<std::string> headerLines(const CartHeader& header);
