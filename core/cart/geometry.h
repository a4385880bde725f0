// Top-boot erase-block layout of the cartridge's flash chips. Both chips are
// laid out as chip 0 is; chip 1's cartridge addresses start at 0x200000.
#pragma once

#include <cstdint>

constexpr uint32_t MEGABIT = 0x20000;
constexpr uint32_t CHIP_WINDOW = 0x200000;  // cartridge address where chip 1 starts
constexpr uint32_t CHIP_ADDR_MASK = 0x1FFFFF;
constexpr int BLOCKS_PER_CHIP = 35;           // slots per chip in per-block tables
constexpr int BLOCK_SLOTS = 2 * BLOCKS_PER_CHIP;
constexpr uint32_t MAIN_BLOCK_SIZE = 0x10000;

inline uint8_t chipOf(uint32_t cartAddr) { return cartAddr > CHIP_ADDR_MASK ? 1 : 0; }

uint8_t getBootBlockStart();
uint32_t blockNumToAddr(uint8_t chip, uint8_t block);
int32_t blockSize(uint8_t block);
uint8_t addrToBlockNum(uint32_t addr);
