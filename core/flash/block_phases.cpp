#include "core/flash/block_phases.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>

#include "core/cart/erase.h"
#include "core/cart/flash_commands.h"
#include "core/cart/read.h"
#include "core/cart/blocks.h"
#include "core/flash/progress.h"
#include "core/flash/readback.h"
#include "core/flash/write.h"
#include "core/link/clock.h"
#include "core/link/transfer.h"
#include "core/saves/ngf.h"
#include "core/saves/safety_copy.h"
#include "core/shown_text.h"

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

BlockEraser::BlockEraser(Link& link, const Cart& cart, const std::vector<CartBlock>& blocks, FlashStages& stages,
                         Reporter& r)
    : link_(link), blocks_(blocks), r_(r), erased_(blocks.size(), false),
      total_(AddressRanges(blocks).bytesBelow(UINT32_MAX))
{
    stages.open("Erasing Cartridge", total_, r);
    for (size_t i = 0; i < blocks.size(); i++) {
        ChipErase& c = chips_[blocks[i].chip & 1];
        c.blocks.push_back(i);
        c.bytes += blocks[i].size;
    }
    const CartLayout layout = cart.layout();
    for (uint8_t chip = 0; chip < 2; chip++) {
        ChipErase& c = chips_[chip];
        double whole = typicalChipEraseSeconds(cart.chipSize[chip]);
        if (!c.blocks.empty() && c.blocks.size() == layout.blocksOf(chip).size() &&
            whole < double(c.blocks.size()) * TYPICAL_BLOCK_ERASE_SECONDS)
            c.wholeSeconds = whole;
    }
}

void BlockEraser::start(ChipErase& c, uint8_t chip)
{
    if (c.wholeSeconds > 0.0) {
        if (!erase_cart_checked(link_, chip == 0 ? ERASE_CHIP0 : ERASE_CHIP1)) {
            stopping_ = linkFailed_ = true;
            return;
        }
        c.started = linkSeconds();
        c.watch.emplace(link_, 0, chip, chipEraseWait(c.wholeSeconds), c.started);
        // A chip erase cannot be stopped halfway.
        r_.holdCancel(true);
        return;
    }
    const CartBlock& b = blocks_[c.blocks[c.next]];
    if (!sendBlockErase(link_, b.chipAddr(), b.chip)) {
        stopping_ = linkFailed_ = true;
        return;
    }
    c.watch.emplace(link_, b.chipAddr(), b.chip, BLOCK_ERASE_WAIT, linkSeconds());
}

// The blocks erased, and a chip erasing whole by the time it has taken.
float BlockEraser::fraction() const
{
    double done = double(done_);
    for (const ChipErase& c : chips_)
        if (c.watch && c.wholeSeconds > 0.0)
            done += std::fmin((linkSeconds() - c.started) / c.wholeSeconds, 0.99) * double(c.bytes);
    return total_ ? float(done / double(total_)) : 0.0f;
}

bool BlockEraser::pump()
{
    double at = linkSeconds();
    if (at - breathed_ >= BLOCK_ERASE_WAIT.breatheEverySeconds) {
        breathed_ = at;
        showProgress(fraction(), r_);
        if (!stopping_ && !r_.goingOn())
            stopping_ = cancelled_ = true;
    }
    for (uint8_t chip = 0; chip < 2; chip++)
        if (!stopping_ && !chips_[chip].watch && chips_[chip].next < chips_[chip].blocks.size())
            start(chips_[chip], chip);
    bool watching = false;
    for (ChipErase& c : chips_) {
        if (!c.watch)
            continue;
        // After a link failure nothing the chips say can be read.
        std::optional<EraseEnd> end = linkFailed_ ? EraseEnd::LinkFailed : c.watch->look();
        if (!end) {
            watching = true;
            continue;
        }
        const CartBlock& b = blocks_[c.blocks[c.next]];
        c.watch.reset();
        if (c.wholeSeconds > 0.0)
            r_.holdCancel(std::any_of(std::begin(chips_), std::end(chips_),
                                      [](const ChipErase& o) { return o.watch && o.wholeSeconds > 0.0; }));
        // A chip erased whole has erased all its blocks at once.
        for (size_t last = c.wholeSeconds > 0.0 ? c.blocks.size() : c.next + 1;
             *end == EraseEnd::Erased && c.next < last; c.next++) {
            erased_[c.blocks[c.next]] = true;
            c.erased++;
            done_ += blocks_[c.blocks[c.next]].size;
        }
        if (*end == EraseEnd::Erased)
            continue;
        if (*end == EraseEnd::LinkFailed)
            linkFailed_ = true;
        else if (!quiet_ && c.wholeSeconds > 0.0)
            printWindow(r_, "Not able to erase chip %d!", b.chip);
        else if (!quiet_)
            printWindow(r_, "Not able to erase block %d of chip %d!", b.number, b.chip);
        c.failed = stopping_ = true;
    }
    return watching || (!stopping_ && (chips_[0].next < chips_[0].blocks.size() ||
                                       chips_[1].next < chips_[1].blocks.size()));
}

void BlockEraser::stopQuietly()
{
    stopping_ = quiet_ = true;
}

BlocksErased BlockEraser::finish()
{
    while (pump()) {
    }
    bool failed = chips_[0].failed || chips_[1].failed || linkFailed_ || quiet_;
    if (cancelled_ && !failed)
        printWindow(r_, "Flashing cancelled: %d of %d blocks erased.", int(chips_[0].erased + chips_[1].erased),
                    int(blocks_.size()));
    // Erasing one chip, the block that stopped it says what the chip holds;
    // erasing both, each chip's count does.
    if ((cancelled_ || failed) && !linkFailed_ && !quiet_ && !chips_[0].blocks.empty() && !chips_[1].blocks.empty())
        for (int chip = 0; chip < 2; chip++)
            printWindow(r_, "Chip %d: %d of %d blocks erased.", chip, int(chips_[chip].erased),
                        int(chips_[chip].blocks.size()));
    r_.endProgress();
    return failed ? BlocksErased::Failed : cancelled_ ? BlocksErased::Cancelled : BlocksErased::All;
}

static const uint32_t PACKET = 64;

// The block as the flash is to leave it, the ROM's bytes and the kept ones,
// in the vault under the game the ROM is; false after a line saying why.
static bool storeCopy(Reporter& r, FILE* rom, uint32_t romSize, BytesPastRom* kept)
{
    const CartBlock& b = *kept->block;
    std::vector<uint8_t> header(CART_HEADER_BYTES, ERASED_BYTE), block(b.size);
    uint32_t romPart = romSize - b.start;
    bool read = fseek(rom, 0, SEEK_SET) == 0 && fread(header.data(), 1, header.size(), rom) > 0 &&
                fseek(rom, long(b.start), SEEK_SET) == 0 && fread(block.data(), 1, romPart, rom) == romPart &&
                fseek(rom, 0, SEEK_SET) == 0;
    if (!read) {
        printWindow(r, "Failed to read the ROM file at 0x%06X", b.start);
        return false;
    }
    std::copy(kept->bytes.begin() + (romSize - kept->start), kept->bytes.end(), block.begin() + romPart);
    std::vector<uint8_t> ngf = ngfOfBlocks({b}, {block});
    return storeSafetyCopy(r, safetyCopyRoot() + "/" + cartridgeGame(header.data(), true), ngf, time(nullptr),
                           &kept->copy);
}

bool keepBytesPastRom(Reporter& r, Link& link, FILE* rom, uint32_t romSize, const std::vector<CartBlock>& blocks,
                      BytesPastRom* kept)
{
    *kept = BytesPastRom();
    for (const CartBlock& b : blocks)
        if (b.start < romSize && romSize < b.end())
            kept->block = &b;
    if (!kept->block)
        return true;
    kept->start = romSize / PACKET * PACKET;
    kept->bytes.resize(kept->block->end() - kept->start);
    // Two reads must agree: a byte misread once would be written back so.
    bool unstable = false;
    if (!readCartSure(link, kept->start, uint32_t(kept->bytes.size()), kept->bytes.data(), &unstable)) {
        if (unstable) {
            printWindow(r, "The bytes past the ROM read differently");
            printWindow(r, "each time: clean the contacts.");
        }
        printWindow(r, "Flashing aborted; the cart is unchanged.");
        return false;
    }
    // The ROM's own bytes are written with it.
    std::fill(kept->bytes.begin(), kept->bytes.begin() + (romSize - kept->start), ERASED_BYTE);
    if (!storeCopy(r, rom, romSize, kept)) {
        printWindow(r, "Flashing aborted; the cart is unchanged.");
        return false;
    }
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

// The first pass programs the runs of packets that hold anything but erased
// bytes; the second the 32-byte units, and the last the single bytes, where
// a cell still reads erased though it is to hold a byte. A transfer that
// failed took none of its bytes, a cell that did not take stops the rest of
// its request, and a program is only ever tried again on an erased cell.
static const uint32_t PASS_STEPS[] = {64, 32, 1};
// Enough ranges to find the cells by; the copy puts back all of them.
static const size_t RANGES_SHOWN = 2;

// Where the kept bytes did not take, as "0x01A000-0x01A003, 0x01B010".
static std::string rangesOf(const std::vector<uint32_t>& addresses)
{
    std::string text;
    size_t shown = 0;
    char range[40];
    for (size_t i = 0; i < addresses.size(); shown++) {
        size_t j = i;
        while (j + 1 < addresses.size() && addresses[j + 1] == addresses[j] + 1)
            j++;
        if (shown == RANGES_SHOWN) {
            text += ", ...";
            break;
        }
        if (i == j)
            snprintf(range, sizeof range, "0x%06X", addresses[i]);
        else
            snprintf(range, sizeof range, "0x%06X-0x%06X", addresses[i], addresses[j]);
        text += (text.empty() ? "" : ", ") + std::string(range);
        i = j + 1;
    }
    return text;
}

bool restoreBytesPastRom(Reporter& r, Link& link, const BytesPastRom& kept, bool turbo,
                         const std::string& restoreCommand, const std::function<void()>& meanwhile)
{
    if (!kept.block)
        return true;
    const uint8_t* bytes = kept.bytes.data();
    const uint32_t length = uint32_t(kept.bytes.size());
    const uint8_t chip = kept.block->chip;
    std::vector<uint8_t> now(length, ERASED_BYTE);
    std::vector<uint32_t> wrong;
    for (uint32_t step : PASS_STEPS) {
        for (uint32_t at = 0; at < length;) {
            bool wanted = false;
            for (uint32_t i = at; i < at + step; i++)
                wanted |= bytes[i] != ERASED_BYTE && now[i] == ERASED_BYTE;
            if (!wanted) {
                at += step;
                continue;
            }
            uint32_t cart = kept.start + at, end = at + step;
            bool took = false;
            if (step == PACKET) {
                while (end < length && end - at < PACKETS_PER_REQUEST * PACKET && !allErased(bytes + end, PACKET))
                    end += PACKET;
                took = link.flash_write_64xN_bytes(cart & CHIP_ADDR_MASK, bytes + at, chip,
                                                   uint8_t((end - at) / PACKET), turbo);
            } else {
                took = link.flash_write_N_bytes(cart & CHIP_ADDR_MASK, bytes + at, chip, uint8_t(step), turbo);
            }
            if (link.gone())
                break;
            if (meanwhile)
                meanwhile();
            // A program that failed leaves the chip answering with its
            // status, deaf to the next one.
            if (!took)
                resetToReadMode(link, chip);
            at = end;
        }
        if (!readCartInto(link, kept.start, length, now.data()) && link.gone())
            break;
        wrong.clear();
        for (uint32_t i = 0; i < length; i++)
            if (bytes[i] != ERASED_BYTE && now[i] != bytes[i])
                wrong.push_back(kept.start + i);
        if (wrong.empty())
            return true;
    }
    // The link has said that the linker went: no byte is to blame.
    if (!link.gone()) {
        printWindow(r, "%u bytes past the ROM did not take:", unsigned(wrong.size()));
        printWindow(r, "%s.", rangesOf(wrong).c_str());
        if (restoreCommand.empty()) {
            printWindow(r, "Saves holds the copy that puts them back:");
            printWindow(r, "'%s'", kept.copy.c_str());
        } else {
            printWindow(r, "To put them back:");
            printWindow(r, "%s %s", restoreCommand.c_str(), shellWord(kept.copy).c_str());
        }
    }
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
