// Command cycles of the cartridge's AMD-style flash chips, sent one byte at
// a time through the linker.
#pragma once

#include <cstdint>

class Link;

constexpr uint32_t FLASH_UNLOCK_ADDR1 = 0x5555;
constexpr uint32_t FLASH_UNLOCK_ADDR2 = 0x2AAA;
constexpr uint8_t FLASH_UNLOCK_DATA1 = 0xAA;
constexpr uint8_t FLASH_UNLOCK_DATA2 = 0x55;
constexpr uint8_t FLASH_CMD_RESET = 0xF0;
constexpr uint8_t FLASH_CMD_IDENTIFY = 0x90;
constexpr uint8_t FLASH_CMD_ERASE_SETUP = 0x80;
constexpr uint8_t FLASH_CMD_CHIP_ERASE = 0x10;
constexpr uint8_t FLASH_CMD_BLOCK_ERASE = 0x30;
constexpr uint8_t FLASH_CMD_PROGRAM = 0xA0;
constexpr uint8_t FLASH_CMD_BYPASS_ENTER = 0x20;
constexpr uint8_t FLASH_CMD_BYPASS_EXIT1 = 0x90;
constexpr uint8_t FLASH_CMD_BYPASS_EXIT2 = 0x00;
constexpr uint8_t ERASED_BYTE = 0xFF;  // what an erased cell reads; programming it leaves it so
// Whether the bytes are all as an erased cell reads: nothing to program.
inline bool allErased(const uint8_t* bytes, uint32_t length)
{
    for (uint32_t i = 0; i < length; i++)
        if (bytes[i] != ERASED_BYTE)
            return false;
    return true;
}
constexpr uint8_t FLASH_STATUS_DONE = 0x80;  // data-polling bit: set once an erase has finished

// Each true only when the linker accepted every cycle.
// The two unlock cycles that open every command.
bool flashUnlock(Link& link, uint8_t chip);
// Back to reading the array, also from a failed program that left the chip
// answering with its status.
bool resetToReadMode(Link& link, uint8_t chip);
bool enterUnlockBypass(Link& link, uint8_t chip);
bool leaveUnlockBypass(Link& link, uint8_t chip);
