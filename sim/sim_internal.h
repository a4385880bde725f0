// Pieces of the device shared between the simulator's own files only.
#pragma once

#include "flash_chip.h"

#include <string>

namespace sim {
namespace detail {

// Puts a cartridge with the given name and chips into the linker, as the
// state file restores it.
void replaceCartridge(const std::string& name, FlashChip chips[2]);
void markClean();

}  // namespace detail
}  // namespace sim
