// Top-boot erase-block layout of the cartridge's flash chips, block numbers
// and addresses in the long-standing form: both chips laid out as chip 0 is,
// chip 1's cartridge addresses from 0x200000. Jobs that must be right on a
// cartridge whose chips differ in size use the per-chip model in blocks.h.
#pragma once

#include <cstdint>

constexpr uint32_t MEGABIT = 0x20000;
constexpr uint32_t CHIP_WINDOW = 0x200000;  // cartridge address where chip 1 starts
constexpr uint32_t CHIP_ADDR_MASK = 0x1FFFFF;
constexpr int BLOCKS_PER_CHIP = 35;           // slots per chip in per-block tables
constexpr int BLOCK_SLOTS = 2 * BLOCKS_PER_CHIP;
constexpr uint32_t MAIN_BLOCK_SIZE = 0x10000;
// The boot region at a chip's top: its blocks' offsets from the region's
// start (the chip's last 64 KB) and their sizes.
constexpr int BOOT_REGION_BLOCKS = 4;
constexpr uint32_t BOOT_BLOCK_OFFSETS[BOOT_REGION_BLOCKS] = {0, 0x8000, 0xA000, 0xC000};
constexpr uint32_t BOOT_BLOCK_SIZES[BOOT_REGION_BLOCKS] = {0x8000, 0x2000, 0x2000, 0x4000};

inline uint8_t chipOf(uint32_t cartAddr) { return cartAddr > CHIP_ADDR_MASK ? 1 : 0; }

uint8_t getBootBlockStart();
uint32_t blockNumToAddr(uint8_t chip, uint8_t block);
int32_t blockSize(uint8_t block);
uint8_t addrToBlockNum(uint32_t addr);
