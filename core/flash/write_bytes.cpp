#include <algorithm>

#include "core/cart/flash_commands.h"
#include "core/cart/geometry.h"
#include "core/flash/progress.h"
#include "core/flash/write.h"
#include "core/link/transfer.h"

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

// Where the run of bytes from `address` that need no programming ends, the
// file moved on to there: `address` itself when its byte is to be written.
// A run never reaches past the end of chip 0 in one step, so that a skipped
// chip 1 is still handled byte by byte and the chips change over where the
// byte methods expect it.
static uint32_t passOver(FILE* rom, uint32_t address, uint32_t romSize, int skip,
                         const AddressRanges* only)
{
    if (!only || chipOf(address) == skip || only->contains(address))
        return address;
    uint32_t next = std::min(only->runEnd(address), romSize);
    if (address < CHIP_WINDOW)
        next = std::min(next, CHIP_WINDOW);
    return fseek(rom, long(next), SEEK_SET) == 0 ? next : address;
}

// Where a byte method is in the file, and what it reports.
struct ByteWalk {
    uint32_t address = 0;
    uint32_t written = 0;
    float progress = 0.0f;

    // Moves on to `next`, all bytes before it done; false when the walk is
    // over (the ROM's end, or Cancel).
    bool moveTo(uint32_t next, uint32_t romSize, Reporter& r)
    {
        written = address = next;
        progress = fractionDone(address, romSize);
        return address < romSize && r.goingOn();
    }

    enum Step { BYTE, PASSED_OVER, OVER };
    // The next byte to program into *c, or the run of bytes that need none
    // passed over; OVER at the file's end, the ROM's end or Cancel.
    Step next(FILE* rom, uint32_t romSize, int skip, const AddressRanges* only, int* c, Reporter& r)
    {
        uint32_t to = passOver(rom, address, romSize, skip, only);
        if (to != address)
            return moveTo(to, romSize, r) ? PASSED_OVER : OVER;
        *c = fgetc(rom);
        showProgress(progress, r);
        return *c == EOF ? OVER : BYTE;
    }
};

uint32_t writeBytesWithReadBack(FILE* rom, uint32_t romSize, int skip, const AddressRanges* only,
                                Reporter& r)
{
    ByteWalk w;
    if (romSize == 0 || !r.goingOn())
        return w.written;
    for (;;) {
        int c = EOF;
        ByteWalk::Step step = w.next(rom, romSize, skip, only, &c, r);
        if (step == ByteWalk::OVER)
            break;
        if (step == ByteWalk::PASSED_OVER)
            continue;
        // A skipped chip's bytes are still compared: the file is checked
        // against what that chip already holds.
        if (chipOf(w.address) != skip && !programByte(w.address, uint8_t(c)))
            break;
        if (!readsBack(w.address, uint8_t(c)) || !w.moveTo(w.address + 1, romSize, r))
            break;
    }
    return w.written;
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

uint32_t writeBytesTurbo(FILE* rom, uint32_t romSize, int skip, const AddressRanges* only,
                         Reporter& r)
{
    ByteWalk w;
    uint8_t chip = 0;
    if (romSize != 0 && r.goingOn()) {
        for (;;) {
            if (!switchChips(w.address, skip, &chip))
                break;
            int c = EOF;
            ByteWalk::Step step = w.next(rom, romSize, skip, only, &c, r);
            if (step == ByteWalk::OVER)
                break;
            if (step == ByteWalk::PASSED_OVER)
                continue;
            if (chip != skip && !programByteInBypass(w.address, uint8_t(c), chip))
                break;
            if (!w.moveTo(w.address + 1, romSize, r))
                break;
        }
    }
    // A chip left in unlock bypass takes no other command until it leaves it.
    if (chip != skip)
        leaveUnlockBypass(chip);
    return w.written;
}
