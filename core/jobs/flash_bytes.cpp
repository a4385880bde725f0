#include "core/cart/flash_commands.h"
#include "core/cart/geometry.h"
#include "core/link/transfer.h"
#include "core/jobs/flash_write.h"

// A byte still being programmed reads back differently for a few reads;
// one that still differs after this many never took.
static const int READ_BACK_TRIES = 2000;

// Each cycle is sent only if the ones before it went through: a linker that
// has gone away fails every transfer, and one error says so.
static bool programByte(uint32_t address, uint8_t value)
{
    uint8_t chip = chipOf(address);
    unsigned failures = g_linkFailures;
    flashUnlock(chip);
    return g_linkFailures == failures &&
           write_byte_checked(FLASH_UNLOCK_ADDR1, FLASH_CMD_PROGRAM, chip) &&
           write_byte_checked(address & CHIP_ADDR_MASK, value, chip);
}

static bool programByteInBypass(uint32_t address, uint8_t value, uint8_t chip)
{
    return write_byte_checked(0, FLASH_CMD_PROGRAM, chip) &&
           write_byte_checked(address & CHIP_ADDR_MASK, value, chip);
}

// A failed read tells nothing about the byte, and a link that fails one
// read would fail all of them: it ends the wait as a failure at once.
static bool readsBack(uint32_t address, uint8_t value)
{
    uint8_t chip = chipOf(address);
    for (int reads = 0; reads < READ_BACK_TRIES; reads++) {
        unsigned failures = g_linkFailures;
        uint8_t got = read_byte(address & CHIP_ADDR_MASK, chip);
        if (g_linkFailures != failures)
            return false;
        if (got == value)
            return true;
    }
    printWindow("Writing addr 0x%06X failed!", address);
    return false;
}

uint32_t writeBytesWithReadBack(RomReader& rom, uint32_t romSize, int skip, Reporter& r)
{
    uint32_t written = 0;
    if (romSize == 0 || !r.goingOn())
        return written;
    float progress = 0.0f;
    for (uint32_t address = 0;;) {
        int c = rom.next();
        showProgress(progress, r);
        if (c == EOF)
            break;
        // A skipped chip's bytes are still compared: the file is checked
        // against what that chip already holds.
        if (chipOf(address) != skip && !programByte(address, uint8_t(c)))
            break;
        if (!readsBack(address, uint8_t(c)))
            break;
        written = ++address;
        progress = fractionDone(address, romSize);
        if (address >= romSize || !r.goingOn())
            break;
    }
    return written;
}

// Takes the chips in and out of unlock bypass where the bytes move onto
// them: chip 0 at the first byte, chip 1 at the first byte past chip 0.
static bool switchChips(uint32_t address, int skip, uint8_t* chip)
{
    unsigned failures = g_linkFailures;
    if (address == 0 && skip != 0)
        enterUnlockBypass(0);
    if (address == CHIP_WINDOW) {
        if (skip != 0)
            leaveUnlockBypass(0);
        if (skip != 1)
            enterUnlockBypass(1);
        *chip = 1;
    }
    return g_linkFailures == failures;
}

uint32_t writeBytesTurbo(RomReader& rom, uint32_t romSize, int skip, Reporter& r)
{
    uint32_t written = 0;
    uint8_t chip = 0;
    if (romSize != 0 && r.goingOn()) {
        float progress = 0.0f;
        for (uint32_t address = 0;;) {
            if (!switchChips(address, skip, &chip))
                break;
            int c = rom.next();
            showProgress(progress, r);
            if (c == EOF)
                break;
            if (chip != skip && !programByteInBypass(address, uint8_t(c), chip))
                break;
            written = ++address;
            progress = fractionDone(address, romSize);
            if (address >= romSize || !r.goingOn())
                break;
        }
    }
    // A chip left in unlock bypass takes no other command until it leaves it.
    if (chip != skip)
        leaveUnlockBypass(chip);
    return written;
}
