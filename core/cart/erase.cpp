#include "core/cart/erase.h"

#include <cmath>
#include <optional>

#include "core/cart/flash_commands.h"
#include "core/link/clock.h"
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

bool sendBlockErase(Link& link, uint32_t chipAddr, uint8_t chip)
{
    bool sent = flashUnlock(link, chip);
    sent = link.write_byte(FLASH_UNLOCK_ADDR1, FLASH_CMD_ERASE_SETUP, chip) && sent;
    sent = flashUnlock(link, chip) && sent;
    return link.write_byte(chipAddr, FLASH_CMD_BLOCK_ERASE, chip) && sent;
}

EraseWait chipEraseWait(double typicalSeconds)
{
    EraseWait w;
    w.doneOnStatusBit = true;
    w.zeroMeansRefused = true;
    w.limitSeconds = 300.0;
    w.typicalSeconds = typicalSeconds > 0.0 ? typicalSeconds : 1.0;
    return w;
}

// While erasing, the chip answers every read with a status byte whose
// toggle bit flips from one read to the next and whose top bit is clear, so
// it never reads 0xFF and never the same twice. Once done it reads the
// array again: 0xFF if the block was erased.
EraseWatch::EraseWatch(Link& link, uint32_t chipAddr, uint8_t chip, const EraseWait& policy, double started)
    : link_(link), chipAddr_(chipAddr), chip_(chip), policy_(policy), started_(started)
{
    if (policy.zeroMeansRefused)
        before_ = 0;
}

std::optional<EraseEnd> EraseWatch::look()
{
    std::optional<uint8_t> now = link_.read_byte(chipAddr_, chip_);
    if (!now)
        return EraseEnd::LinkFailed;
    if (policy_.doneOnStatusBit ? (*now & FLASH_STATUS_DONE) != 0 : *now == ERASED_BYTE)
        return EraseEnd::Erased;
    if (policy_.stillMeansRefused && before_ == now)
        return EraseEnd::Refused;
    if (linkSeconds() - started_ > policy_.limitSeconds)
        return EraseEnd::TimedOut;
    before_ = now;
    return std::nullopt;
}

EraseEnd waitForErase(Link& link, uint32_t chipAddr, uint8_t chip, const EraseWait& w, double started, Reporter& r)
{
    EraseWatch watch(link, chipAddr, chip, w, started);
    double breathed = -1.0;
    for (;;) {
        if (std::optional<EraseEnd> end = watch.look())
            return *end;
        double at = linkSeconds();
        if (at - breathed < w.breatheEverySeconds)
            continue;
        // Past the typical time the bar stands still but its words do not
        // (they say the erase takes longer than usual, or that a cancel
        // waits for it), so the reporter is told on every breath and itself
        // keeps the redraws few.
        if (w.typicalSeconds > 0.0)
            r.progress(float(std::fmin((at - started) / w.typicalSeconds, 0.99)));
        r.breathe();
        breathed = at;
        if (w.cancelAfterSeconds >= 0.0 && at - started > w.cancelAfterSeconds && !r.goingOn())
            return EraseEnd::Cancelled;
    }
}
