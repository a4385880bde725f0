#include "core/cart/geometry.h"

#include "core/cart/detect.h"

uint8_t getBootBlockStart()
{
    switch (G_chipSize[0]) {
    case 4: return 7;
    case 8: return 15;
    case 16: return 31;
    default: return 0;
    }
}

uint32_t blockNumToAddr(uint8_t chip, uint8_t block)
{
    uint8_t b = getBootBlockStart();
    uint32_t addr;
    if (block < b) {
        addr = uint32_t(block) * MAIN_BLOCK_SIZE;
    } else {
        int k = block - b;
        addr = uint32_t(b) * MAIN_BLOCK_SIZE + BOOT_BLOCK_OFFSETS[k < 3 ? k : 3];
    }
    if (chip)
        addr += CHIP_WINDOW;
    return addr;
}

int32_t blockSize(uint8_t block)
{
    uint8_t b = getBootBlockStart();
    if (block < b)
        return MAIN_BLOCK_SIZE;
    int k = block - b;
    return k < BOOT_REGION_BLOCKS ? int32_t(BOOT_BLOCK_SIZES[k]) : int32_t(MAIN_BLOCK_SIZE);
}

uint8_t addrToBlockNum(uint32_t addr)
{
    uint8_t chip = chipOf(addr);
    for (uint8_t i = 0; i <= 33; i++) {
        if (blockNumToAddr(chip, i) <= addr && addr < blockNumToAddr(chip, i + 1))
            return i;
    }
    return 34;
}
