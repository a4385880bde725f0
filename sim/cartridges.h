// The cartridges the simulator can hold, chosen by name. Their contents are
// generated: a header with a ROM name, then deterministic pseudo-random
// bytes standing in for a game.
#pragma once

#include "flash_chip.h"

#include <string>
#include <vector>

namespace sim {

struct CartridgeInfo {
    const char* name;
    const char* description;
};

// Every cartridge name, in a stable order.
const std::vector<CartridgeInfo>& cartridgeCatalogue();

// Builds chip positions 0 and 1 of the named cartridge; false (and two empty
// positions) for an unknown name.
bool buildCartridge(const std::string& name, FlashChip chips[2]);

// Where the header keeps the 12-byte ROM name (cartridge bytes 0x24..0x2F).
constexpr uint32_t ROM_NAME_OFFSET = 0x24;
constexpr int ROM_NAME_LENGTH = 12;

}  // namespace sim
