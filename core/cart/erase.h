#pragma once

#include <cstdint>

constexpr uint8_t ERASE_CHIP0 = 0;
constexpr uint8_t ERASE_CHIP1 = 1;
constexpr uint8_t ERASE_BOTH = 2;

// Starts a whole-chip erase and returns at once; the caller polls for the end.
void erase_cart(uint8_t chips);
