#include "core/cart/erase.h"

#include "core/cart/flash_commands.h"
#include "core/link/transfer.h"

static bool chipErase(Link& link, uint8_t chip)
{
    static const struct {
        uint32_t address;
        uint8_t value;
    } cycles[] = {
        {FLASH_UNLOCK_ADDR1, FLASH_UNLOCK_DATA1}, {FLASH_UNLOCK_ADDR2, FLASH_UNLOCK_DATA2},
        {FLASH_UNLOCK_ADDR1, FLASH_CMD_ERASE_SETUP}, {FLASH_UNLOCK_ADDR1, FLASH_UNLOCK_DATA1},
        {FLASH_UNLOCK_ADDR2, FLASH_UNLOCK_DATA2}, {FLASH_UNLOCK_ADDR1, FLASH_CMD_CHIP_ERASE},
    };
    for (const auto& c : cycles)
        if (!link.write_byte(c.address, c.value, chip))
            return false;
    return true;
}

bool erase_cart_checked(Link& link, uint8_t chips)
{
    bool accepted = true;
    if (chips == ERASE_CHIP0 || chips == ERASE_BOTH)
        accepted = chipErase(link, 0);
    if (accepted && (chips == ERASE_CHIP1 || chips == ERASE_BOTH))
        accepted = chipErase(link, 1);
    return accepted;
}

double typicalChipEraseSeconds(uint8_t megabits)
{
    static const double SECONDS_PER_16_MBIT = 25.0;
    return SECONDS_PER_16_MBIT * megabits / 16.0;
}
