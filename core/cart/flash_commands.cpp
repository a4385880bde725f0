#include "core/cart/flash_commands.h"

#include "core/link/transfer.h"

// Every cycle is sent whatever became of the one before: a cycle that
// failed in passing may have reached the chip all the same, and the ones
// after it are what gives the chip back.
bool flashUnlock(Link& link, uint8_t chip)
{
    bool first = link.write_byte(FLASH_UNLOCK_ADDR1, FLASH_UNLOCK_DATA1, chip);
    return link.write_byte(FLASH_UNLOCK_ADDR2, FLASH_UNLOCK_DATA2, chip) && first;
}

bool resetToReadMode(Link& link, uint8_t chip)
{
    bool unlocked = flashUnlock(link, chip);
    return link.write_byte(FLASH_UNLOCK_ADDR1, FLASH_CMD_RESET, chip) && unlocked;
}

bool enterUnlockBypass(Link& link, uint8_t chip)
{
    bool unlocked = flashUnlock(link, chip);
    return link.write_byte(FLASH_UNLOCK_ADDR1, FLASH_CMD_BYPASS_ENTER, chip) && unlocked;
}

bool leaveUnlockBypass(Link& link, uint8_t chip)
{
    bool first = link.write_byte(0, FLASH_CMD_BYPASS_EXIT1, chip);
    return link.write_byte(0, FLASH_CMD_BYPASS_EXIT2, chip) && first;
}
