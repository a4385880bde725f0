#include "core/cart/flash_commands.h"

#include "core/link/transfer.h"

void flashUnlock(uint8_t chip)
{
    write_byte(FLASH_UNLOCK_ADDR1, FLASH_UNLOCK_DATA1, chip);
    write_byte(FLASH_UNLOCK_ADDR2, FLASH_UNLOCK_DATA2, chip);
}

void enterUnlockBypass(uint8_t chip)
{
    flashUnlock(chip);
    write_byte(FLASH_UNLOCK_ADDR1, FLASH_CMD_BYPASS_ENTER, chip);
}

void leaveUnlockBypass(uint8_t chip)
{
    write_byte(0, FLASH_CMD_BYPASS_EXIT1, chip);
    write_byte(0, FLASH_CMD_BYPASS_EXIT2, chip);
}
