#include <algorithm>

#include "core/cart/flash_commands.h"
#include "core/cart/blocks.h"
#include "core/flash/progress.h"
#include "core/flash/write.h"
#include "core/link/transfer.h"
#include "core/flash/readback.h"

// A byte still being programmed reads back differently for a few reads;
// one that still differs after this many never took.
static const int READ_BACK_TRIES = 2000;

// Each cycle is sent only if the ones before it went through: a linker that
// has gone away fails every transfer, and one error says so.
static bool programByte(Link& link, uint32_t address, uint8_t value)
{
    uint8_t chip = chipOf(address);
    return flashUnlock(link, chip) && link.write_byte(FLASH_UNLOCK_ADDR1, FLASH_CMD_PROGRAM, chip) &&
           link.write_byte(address & CHIP_ADDR_MASK, value, chip);
}

static bool programByteInBypass(Link& link, uint32_t address, uint8_t value, uint8_t chip)
{
    return link.write_byte(0, FLASH_CMD_PROGRAM, chip) && link.write_byte(address & CHIP_ADDR_MASK, value, chip);
}

// A failed read tells nothing about the byte, and a link that fails one
// read would fail all of them: it ends the wait as a failure at once.
static bool readsBack(Reporter& r, Link& link, uint32_t address, uint8_t value)
{
    uint8_t chip = chipOf(address);
    for (int reads = 0; reads < READ_BACK_TRIES; reads++) {
        std::optional<uint8_t> got = link.read_byte(address & CHIP_ADDR_MASK, chip);
        if (!got)
            return false;
        if (*got == value)
            return true;
    }
    printWindow(r, "Writing addr 0x%06X failed!", address);
    return false;
}

// Where the run of bytes from `address` that need no programming ends, the
// file moved on to there: `address` itself when its byte is to be written.
// A skipped chip's bytes are neither written nor read back: its whole part
// of the file is passed over at once. Any other run never reaches past the
// end of chip 0 in one step, so that the chips change over where the byte
// methods expect it.
static uint32_t passOver(FILE* rom, uint32_t address, uint32_t romSize, int skip,
                         const AddressRanges* only)
{
    uint32_t next = address;
    if (chipOf(address) == skip) {
        next = skip == 0 ? std::min(romSize, CHIP_WINDOW) : romSize;
    } else if (only && !only->contains(address)) {
        next = std::min(only->runEnd(address), romSize);
        if (address < CHIP_WINDOW)
            next = std::min(next, CHIP_WINDOW);
    }
    if (next == address)
        return address;
    return fseek(rom, long(next), SEEK_SET) == 0 ? next : address;
}

// Where a byte method is in the file, and what it reports.
struct ByteWalk {
    uint32_t address = 0;
    uint32_t written = 0;
    float progress = 0.0f;

    // Moves on to `next`, all bytes before it done; false when the walk is
    // over (the ROM's end, or Cancel).
    bool moveTo(uint32_t next, uint32_t romSize, const AddressRanges* only, Reporter& r)
    {
        written = address = next;
        progress = fractionDone(address, romSize, only);
        return address < romSize && r.goingOn();
    }

    enum Step { BYTE, PASSED_OVER, OVER };
    // The next byte to program into *c, or the run of bytes that need none
    // passed over; OVER at the file's end, the ROM's end or Cancel.
    Step next(FILE* rom, uint32_t romSize, int skip, const AddressRanges* only, int* c, Reporter& r)
    {
        uint32_t to = passOver(rom, address, romSize, skip, only);
        if (to != address)
            return moveTo(to, romSize, only, r) ? PASSED_OVER : OVER;
        *c = fgetc(rom);
        showProgress(progress, r);
        return *c == EOF ? OVER : BYTE;
    }
};

uint32_t writeBytesWithReadBack(Link& link, FILE* rom, uint32_t romSize, int skip, const AddressRanges* only,
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
        if (!programByte(link, w.address, uint8_t(c)))
            break;
        if (!readsBack(r, link, w.address, uint8_t(c)) || !w.moveTo(w.address + 1, romSize, only, r))
            break;
    }
    return w.written;
}

// Takes the chips in and out of unlock bypass where the bytes move onto
// them: chip 0 at the first byte, chip 1 at the first byte past chip 0.
static bool switchChips(Link& link, uint32_t address, int skip, uint8_t* chip)
{
    bool clean = true;
    if (address == 0 && skip != 0)
        clean = enterUnlockBypass(link, 0);
    if (address == CHIP_WINDOW) {
        if (skip != 0)
            clean = leaveUnlockBypass(link, 0) && clean;
        if (skip != 1)
            clean = enterUnlockBypass(link, 1) && clean;
        *chip = 1;
    }
    return clean;
}

// A chip whose program failed in unlock bypass answers every read with its
// status, bit 6 toggling, and ignores every byte sent after it; a data byte
// 0xF0 then resets it out of unlock bypass, and it ignores the rest all the
// same. Nothing is read back in turbo mode, so this often the last byte
// programmed is read: a few reads, a millisecond against the half minute a
// 64 KB block takes to write.
static const uint32_t TURBO_CHECK_EVERY = 0x10000;
// A byte still programming toggles too, for some microseconds; a failed
// one for good. Each read takes a quarter of a millisecond.
static const int STATUS_READS = 4;

enum class ChipState { Right, Wrong, LinkFailed };

// A chip reading its array gives the same byte twice running; `want` is
// what it should give at `chipAddr`, or -1 when any byte will do.
static ChipState chipState(Link& link, uint8_t chip, uint32_t chipAddr, int want)
{
    int before = -1;
    for (int i = 0; i < STATUS_READS; i++) {
        std::optional<uint8_t> read = link.read_byte(chipAddr, chip);
        if (!read)
            return ChipState::LinkFailed;
        int now = *read;
        if (now == before)
            return want < 0 || now == want ? ChipState::Right : ChipState::Wrong;
        before = now;
    }
    return ChipState::Wrong;
}

// The bytes from `from` on have not been checked yet.
struct TurboCheck {
    uint32_t from = 0;
    bool failed = false;  // the chip was reset out of unlock bypass
    // The last byte programmed that an erased cell would not already hold.
    uint32_t last = 0;
    int lastValue = -1;

    void programmed(uint32_t address, uint8_t value)
    {
        if (value != 0xFF) {
            last = address;
            lastValue = value;
        }
    }

    // False when a byte between `from` and `to` on `chip` did not take (the
    // first one is named) or the link failed; `from` then says where the
    // cartridge's content stops being known.
    bool passes(Link& link, FILE* rom, uint32_t romSize, uint32_t to, uint8_t chip, int skip, Reporter& r)
    {
        if (from >= to || chip == skip) {
            from = std::max(from, to);
            return true;
        }
        bool known = lastValue >= 0 && last >= from;
        ChipState state = chipState(link, chip, known ? last & CHIP_ADDR_MASK : 0, known ? lastValue : -1);
        if (state == ChipState::Right) {
            from = to;
            return true;
        }
        failed = true;
        if (state == ChipState::LinkFailed)
            return false;
        // Out of its status, the chip shows what it holds.
        resetToReadMode(link, chip);
        Differences d;
        if (compareWithCart(link, rom, romSize, AddressRanges(from, to), &d, r) == ReadBackResult::Done &&
            d.count > 0) {
            printWindow(r, "Writing addr 0x%06X failed!", d.first);
            from = d.first;
        } else {
            printWindow(r, "A byte in 0x%06X-0x%06X did not program!", from, to - 1);
        }
        return false;
    }
};

uint32_t writeBytesTurbo(Link& link, FILE* rom, uint32_t romSize, int skip, const AddressRanges* only,
                         Reporter& r)
{
    ByteWalk w;
    uint8_t chip = 0;
    TurboCheck check;
    bool linkFailed = false;
    if (romSize != 0 && r.goingOn()) {
        for (;;) {
            // Chip 0 is done with before it leaves unlock bypass.
            if (w.address == CHIP_WINDOW && !check.passes(link, rom, romSize, w.address, chip, skip, r))
                break;
            if (!switchChips(link, w.address, skip, &chip)) {
                linkFailed = true;
                break;
            }
            int c = EOF;
            ByteWalk::Step step = w.next(rom, romSize, skip, only, &c, r);
            if (step == ByteWalk::OVER)
                break;
            if (step == ByteWalk::PASSED_OVER)
                continue;
            if (chip != skip) {
                if (!programByteInBypass(link, w.address, uint8_t(c), chip)) {
                    linkFailed = true;
                    break;
                }
                check.programmed(w.address, uint8_t(c));
            }
            bool going = w.moveTo(w.address + 1, romSize, only, r);
            if (w.address % TURBO_CHECK_EVERY == 0 && !check.passes(link, rom, romSize, w.address, chip, skip, r))
                break;
            if (!going)
                break;
        }
    }
    // A link that failed would fail the reads as well.
    if (!check.failed && !linkFailed)
        check.passes(link, rom, romSize, w.address, chip, skip, r);
    if (check.failed)
        return std::min(w.written, check.from);
    // A chip left in unlock bypass takes no other command until it leaves it.
    if (chip != skip)
        leaveUnlockBypass(link, chip);
    return w.written;
}
