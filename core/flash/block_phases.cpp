#include "core/flash/block_phases.h"

#include <algorithm>

#include "core/cart/erase.h"
#include "core/cart/flash_commands.h"
#include "core/cart/read.h"
#include "core/cart/blocks.h"
#include "core/flash/progress.h"
#include "core/flash/readback.h"
#include "core/flash/write.h"
#include "core/link/clock.h"
#include "core/link/transfer.h"

bool keepChangedBlocks(Link& link, FILE* rom, uint32_t romSize, std::vector<CartBlock>* blocks, FlashStages& stages,
                       Reporter& r)
{
    stages.open("Reading Cartridge", AddressRanges(*blocks).bytesBelow(romSize), r);
    std::vector<bool> changed;
    ReadBackResult result = findChangedBlocks(link, rom, romSize, *blocks, &changed, r);
    r.endProgress();
    // The reading moved about the file; writing starts from its beginning.
    if (result == ReadBackResult::Done && fseek(rom, 0, SEEK_SET) != 0) {
        printWindow(r, "Failed to read the ROM file at 0x%06X", 0);
        result = ReadBackResult::Failed;
    }
    if (result == ReadBackResult::Cancelled) {
        printWindow(r, "Flashing cancelled; the cart is unchanged.");
        return false;
    }
    if (result == ReadBackResult::Failed) {
        printWindow(r, "Flashing aborted; the cart is unchanged.");
        return false;
    }
    std::vector<CartBlock> kept;
    for (size_t i = 0; i < blocks->size(); i++)
        if (changed[i])
            kept.push_back((*blocks)[i]);
    blocks->swap(kept);
    return true;
}

bool eraseBlocks(Link& link, const std::vector<CartBlock>& blocks, FlashStages& stages, Reporter& r, size_t* erasedOut)
{
    uint64_t total = AddressRanges(blocks).bytesBelow(UINT32_MAX), done = 0;
    stages.open("Erasing Cartridge", total, r);
    bool going = true;
    size_t erased = 0;
    for (; erased < blocks.size() && going; erased++) {
        const CartBlock& b = blocks[erased];
        showProgress(total ? float(double(done) / double(total)) : 0.0f, r);
        if (!r.goingOn())
            break;
        EraseEnd end = EraseEnd::LinkFailed;
        if (sendBlockErase(link, b.chipAddr(), b.chip))
            end = waitForErase(link, b.chipAddr(), b.chip, BLOCK_ERASE_WAIT, linkSeconds(), r);
        if (end == EraseEnd::Refused || end == EraseEnd::TimedOut)
            printWindow(r, "Not able to erase block %d of chip %d!", b.number, b.chip);
        going = end == EraseEnd::Erased;
        if (!going)
            printWindow(r, "%s", FLASH_ABORTED);
        done += b.size;
    }
    if (erasedOut)
        *erasedOut = going ? erased : erased - 1;
    bool cancelled = going && !r.goingOn();
    if (cancelled)
        printWindow(r, "Flashing cancelled: %d of %d blocks erased.",
                    int(erased), int(blocks.size()));
    r.endProgress();
    return going && !cancelled;
}

static const uint32_t PACKET = 64;

bool keepBytesPastRom(Reporter& r, Link& link, uint32_t romSize, const std::vector<CartBlock>& blocks, BytesPastRom* kept)
{
    *kept = BytesPastRom();
    for (const CartBlock& b : blocks)
        if (b.start < romSize && romSize < b.end())
            kept->block = &b;
    if (!kept->block)
        return true;
    kept->start = romSize / PACKET * PACKET;
    kept->bytes.resize(kept->block->end() - kept->start);
    if (!readCartInto(link, kept->start, uint32_t(kept->bytes.size()), kept->bytes.data())) {
        printWindow(r, "Flashing aborted; the cart is unchanged.");
        return false;
    }
    // The ROM's own bytes are written with it.
    std::fill(kept->bytes.begin(), kept->bytes.begin() + (romSize - kept->start), ERASED_BYTE);
    return true;
}

PastRom BytesPastRom::from(uint32_t romSize) const
{
    PastRom past;
    if (block && romSize >= start && romSize - start < bytes.size()) {
        past.bytes = bytes.data() + (romSize - start);
        past.length = uint32_t(bytes.size() - (romSize - start));
    }
    return past;
}

static bool allErased(const uint8_t* p, uint32_t n)
{
    return std::all_of(p, p + n, [](uint8_t c) { return c == ERASED_BYTE; });
}

bool restoreBytesPastRom(Reporter& r, Link& link, const BytesPastRom& kept, bool turbo)
{
    if (!kept.block)
        return true;
    bool clean = true;
    const uint8_t* bytes = kept.bytes.data();
    uint32_t length = uint32_t(kept.bytes.size());
    // Runs of packets that hold anything but erased bytes: an erased cell
    // needs no programming.
    for (uint32_t at = 0; at < length && clean;) {
        if (allErased(bytes + at, PACKET)) {
            at += PACKET;
            continue;
        }
        uint32_t end = at + PACKET;
        while (end < length && end - at < PACKETS_PER_REQUEST * PACKET && !allErased(bytes + end, PACKET))
            end += PACKET;
        uint32_t cart = kept.start + at;
        clean = link.flash_write_64xN_bytes(cart & CHIP_ADDR_MASK, bytes + at, chipOf(cart),
                                            uint8_t((end - at) / PACKET), turbo);
        at = end;
    }
    std::vector<uint8_t> now(length);
    if (clean && readCartInto(link, kept.start, length, now.data()) &&
        std::equal(now.begin(), now.end(), kept.bytes.begin(),
                   [](uint8_t got, uint8_t want) { return want == ERASED_BYTE || got == want; }))
        return true;
    printWindow(r, "Not able to program block %d of chip %d!", kept.block->number, kept.block->chip);
    printWindow(r, "%s", FLASH_ABORTED);
    return false;
}

// A chip whose program failed where nothing read it back (the turbo byte
// method) answers every read with its status until it is reset: the reset
// lets the comparison see the bytes the chip really holds.
static void readModeForReading(Link& link, const AddressRanges& ranges)
{
    bool chips[2] = {false, false};
    for (const auto& s : ranges.spans()) {
        chips[chipOf(s.first)] = true;
        chips[chipOf(s.second - 1)] = true;
    }
    for (uint8_t chip = 0; chip < 2; chip++)
        if (chips[chip])
            resetToReadMode(link, chip);
}

bool verifyAfterWriting(Link& link, FILE* rom, uint32_t romSize, const AddressRanges& written, FlashStages& stages,
                        Reporter& r)
{
    readModeForReading(link, written);
    uint64_t total = written.bytesBelow(romSize);
    stages.open("Verifying Cartridge", total, r);
    Differences d;
    ReadBackResult result = compareWithCart(link, rom, romSize, written, &d, r);
    r.endProgress();
    if (result == ReadBackResult::Cancelled)
        printWindow(r, "Verify after writing cancelled.");
    else if (result == ReadBackResult::Failed)
        printWindow(r, "Verify after writing: could not read the cart.");
    else if (d.count > 0) {
        // Two lines, so that the counts and the address stay whole in the window.
        printWindow(r, "Verify after writing failed:");
        printWindow(r, "%u of %u bytes differ, first at 0x%06X.", d.count, unsigned(total), d.first);
    }
    else
        printWindow(r, "Verify after writing: all %u bytes match.", unsigned(total));
    return result == ReadBackResult::Done && d.count == 0;
}

void reportUnprogrammedBlock(Reporter& r, const CartLayout& layout, uint32_t address)
{
    CartBlock block;
    if (layout.blockAt(address, &block))
        printWindow(r, "Not able to program block %d of chip %d!", block.number, block.chip);
    else
        printWindow(r, "Not able to program chip %d at 0x%06X!", chipOf(address), address);
}
