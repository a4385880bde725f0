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
        static const uint32_t bootOffsets[] = {0, 0x8000, 0xA000, 0xC000};
        int k = block - b;
        addr = uint32_t(b) * MAIN_BLOCK_SIZE + bootOffsets[k < 3 ? k : 3];
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
    switch (block - b) {
    case 0: return 0x8000;
    case 1:
    case 2: return 0x2000;
    case 3: return 0x4000;
    default: return MAIN_BLOCK_SIZE;
    }
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
