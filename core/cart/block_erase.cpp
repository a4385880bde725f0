#include "core/cart/block_erase.h"

#include "core/cart/flash_commands.h"
#include "core/link/clock.h"
#include "core/link/transfer.h"

bool sendBlockErase(Link& link, uint32_t chipAddr, uint8_t chip)
{
    bool sent = flashUnlock(link, chip);
    sent = link.write_byte(FLASH_UNLOCK_ADDR1, FLASH_CMD_ERASE_SETUP, chip) && sent;
    sent = flashUnlock(link, chip) && sent;
    return link.write_byte(chipAddr, FLASH_CMD_BLOCK_ERASE, chip) && sent;
}

// While erasing, the chip answers every read with a status byte whose
// toggle bit flips from one read to the next and whose top bit is clear, so
// it never reads 0xFF and never the same twice. Once done it reads the
// array again: 0xFF if the block was erased. The same byte twice running,
// and not 0xFF, means the chip is not erasing this block (protected,
// refusing, or never told).
BlockEraseResult eraseBlock(Link& link, uint32_t chipAddr, uint8_t chip, double limitSeconds, Reporter& r)
{
    if (!sendBlockErase(link, chipAddr, chip))
        return BlockEraseResult::LinkFailed;
    double started = linkSeconds(), breathed = -1.0;
    bool first = true;
    uint8_t before = 0;
    for (;;) {
        std::optional<uint8_t> read = link.read_byte(chipAddr, chip);
        if (!read)
            return BlockEraseResult::LinkFailed;
        uint8_t now = *read;
        if (now == ERASED_BYTE)
            return BlockEraseResult::Erased;
        if (!first && now == before)
            return BlockEraseResult::NotErased;
        double at = linkSeconds();
        if (at - started > limitSeconds)
            return BlockEraseResult::TimedOut;
        first = false;
        before = now;
        if (at - breathed >= ERASE_BREATHE_EVERY_S) {
            r.breathe();
            breathed = at;
        }
    }
}
