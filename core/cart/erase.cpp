#include "core/cart/erase.h"

#include "core/cart/flash_commands.h"
#include "core/link/transfer.h"

static void chipErase(uint8_t chip)
{
    flashUnlock(chip);
    write_byte(FLASH_UNLOCK_ADDR1, FLASH_CMD_ERASE_SETUP, chip);
    flashUnlock(chip);
    write_byte(FLASH_UNLOCK_ADDR1, FLASH_CMD_CHIP_ERASE, chip);
}

void erase_cart(uint8_t chips)
{
    if (chips == ERASE_CHIP0 || chips == ERASE_BOTH)
        chipErase(0);
    if (chips == ERASE_CHIP1 || chips == ERASE_BOTH)
        chipErase(1);
}
