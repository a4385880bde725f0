#pragma once

#include <cstdint>

class Link;

constexpr uint8_t ERASE_CHIP0 = 0;
constexpr uint8_t ERASE_CHIP1 = 1;
constexpr uint8_t ERASE_BOTH = 2;

// Starts a whole-chip erase and returns at once; the caller polls for the end.
// True only when the linker accepted every cycle of every chip's
// command. A cycle goes out only after the one before it was accepted, and
// chip 1's command only after chip 0's: a chip given half a command is left
// as it was, and one refused cycle means the erase may never have started.
bool erase_cart_checked(Link& link, uint8_t chips);

// How long a whole-chip erase of a chip this size usually takes: flash datasheets of these parts give about 25 s for
// 16 Mbit, less in proportion for smaller chips.
double typicalChipEraseSeconds(uint8_t megabits);
