// "Flash ROM(s)": erases what a ROM image will occupy (whole chips, the ROM's
// blocks, or only the blocks whose bytes differ), then streams the file into
// it with the method the write settings pick, and reads it back if asked.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/cart/detect.h"
#include "core/cart/erase.h"
#include "core/cart/flash_commands.h"
#include "core/cart/blocks.h"
#include "core/flash/block_phases.h"
#include "core/flash/progress.h"
#include "core/flash/write.h"
#include "core/jobs/image_identity.h"
#include "core/jobs/jobs.h"
#include "core/link/clock.h"
#include "core/link/linker.h"
#include "core/shown_text.h"


// The file's whole length, however large; -1 when it cannot be measured.
static long long fileLength(FILE* rom)
{
    if (fseeko(rom, 0, SEEK_END) != 0)
        return -1;
    off_t length = ftello(rom);
    if (length < 0 || fseeko(rom, 0, SEEK_SET) != 0)
        return -1;
    return length;
}

// The ROM size the job works with: never more than the flash holds. Sizes
// are logged whole and unsigned, so a file of gigabytes never shows negative.
static uint32_t fitToFlash(Reporter& r, uint64_t fileSize, uint32_t flashSize)
{
    if (fileSize > flashSize) {
        printWindow(r, "Warning! ROM size of %llu bytes is", (unsigned long long)fileSize);
        printWindow(r, "larger than the flash size of %u bytes.", flashSize);
        return flashSize;
    }
    if (fileSize < flashSize) {
        printWindow(r, "ROM size of %llu bytes is", (unsigned long long)fileSize);
        printWindow(r, "smaller than the flash size of %u bytes.", flashSize);
    }
    return uint32_t(fileSize);
}

// The chips the ROM will occupy, less the skipped one, in the order they are
// then watched. Returns how many.
static int chipsToErase(uint32_t romSize, int skip, uint8_t chips[2])
{
    if (romSize <= CHIP_WINDOW) {
        if (skip == 0)
            return 0;
        chips[0] = 0;
        return 1;
    }
    if (skip == 0 || skip == 1) {
        chips[0] = uint8_t(1 - skip);
        return 1;
    }
    chips[0] = 0;
    chips[1] = 1;
    return 2;
}

// A probe that met link failures may have guessed (one failed read makes an
// 8 Mbit chip look like 16, a failed protection read looks unprotected):
// nothing is erased on a guess.
static bool probe(Reporter& r, Link& link, Cart* cart, bool scanProtection)
{
    return checkCartCleanly(r, link, cart, scanProtection, !scanProtection, "flashing not started");
}

// An official cartridge keeps its game in protected blocks, which no erase
// clears, and its save in the unprotected rest, which an erase would wipe
// before the job found out. So the protection is read first, and a chip with
// any protected block is not touched at all.
static bool mayErase(Reporter& r, Link& link, const uint8_t* chips, int count, Cart* cart)
{
    if (count == 0)
        return true;
    if (!probe(r, link, cart, true))
        return false;
    for (int i = 0; i < count; i++) {
        if (cart->chipHasProtectedBlocks(chips[i])) {
            // Two lines, each whole in the window at its opening width.
            printWindow(r, "Chip %d has protected blocks: not flashable.", chips[i]);
            printWindow(r, "An official cartridge? Nothing was erased.");
            return false;
        }
    }
    return true;
}

// False when the linker refused any cycle: the erase may not have started.
static bool startErase(Link& link, const uint8_t* chips, int count)
{
    if (count == 0)
        return true;
    if (count == 2)
        return erase_cart_checked(link, ERASE_BOTH);
    return erase_cart_checked(link, chips[0] == 0 ? ERASE_CHIP0 : ERASE_CHIP1);
}

// What a cancel after the erase leaves on the cartridge.
static void reportBlankChips(Reporter& r, const uint8_t* chips, int count)
{
    if (count == 2)
        printWindow(r, "Flashing cancelled: both chips now blank.");
    else
        printWindow(r, "Flashing cancelled: chip %d is now blank.", chips[0]);
}

// True when the chips are erased and the user still wants them written.
static bool eraseForRom(Link& link, const Cart& cart, const uint8_t* chips, int count, FlashStages& stages,
                        Reporter& r)
{
    // Both chips erase at once: the larger one sets the time.
    double typical = 0.0;
    for (int i = 0; i < count; i++)
        typical = std::fmax(typical, typicalChipEraseSeconds(cart.chipSize[chips[i]]));
    const EraseWait wait = chipEraseWait(typical);
    stages.open("Erasing Cartridge", 0, r, wait.typicalSeconds);
    // Asked to stop before anything was sent: the cartridge is untouched.
    if (!r.goingOn()) {
        printWindow(r, "Flashing cancelled; nothing erased or written.");
        r.endProgress();
        return false;
    }
    r.holdCancel(true);
    bool erased = startErase(link, chips, count);
    if (!erased)
        printWindow(r, "%s", FLASH_ABORTED);
    // One clock serves both chips.
    double started = linkSeconds();
    // A read that failed says nothing of the chip: the link failed, not the erase.
    for (int i = 0; i < count && erased; i++) {
        EraseEnd end = waitForErase(link, 0, chips[i], wait, started, r);
        if (end == EraseEnd::LinkFailed)
            printWindow(r, "%s", FLASH_ABORTED);
        else if (end != EraseEnd::Erased)
            printWindow(r, "Not able to erase chip %d!", chips[i]);
        erased = end == EraseEnd::Erased;
    }
    r.holdCancel(false);
    bool cancelled = erased && !r.goingOn();
    if (cancelled && count > 0)
        reportBlankChips(r, chips, count);
    else if (cancelled)
        printWindow(r, "Flashing cancelled; nothing erased or written.");
    r.endProgress();
    return erased && !cancelled;
}

// Streams the file with the method the settings pick. False when none could
// run (the reason is logged); otherwise *written is what got through.
static bool writeRom(Link& link, FILE* rom, uint32_t romSize, int write_N, int skip, bool turbo,
                     const AddressRanges* only, const PastRom& past, uint32_t* written, Reporter& r)
{
    if (!writeNOffered(write_N)) {
        printWindow(r, "ERROR write_N=%d should be from 1 to 32 or a multiple of 64", write_N);
        return false;
    }
    if (turbo && write_N == 1) {
        printWindow(r, "No verification in turbo mode!  Consider using verify mode after writing.");
        *written = writeBytesTurbo(link, rom, romSize, skip, only, r);
        return true;
    }
    if (write_N == 1) {
        *written = writeBytesWithReadBack(link, rom, romSize, skip, only, r);
        return true;
    }
    std::vector<uint8_t> chunk;
    try {
        chunk.resize(size_t(write_N));
    } catch (const std::bad_alloc&) {
        printWindow(r, "Failed to allocated memory!");
        return false;
    }
    *written = writeChunks(link, rom, romSize, uint32_t(write_N), chunk.data(), skip, turbo, only, past, r);
    return true;
}

// Erases what the scope asks for. For the changed blocks, the blocks are
// first cut down to those; every scope leaves in `blocks` what is to be
// written. Erasing block by block, the bytes past the ROM's end in its last
// block are read first and put back before the ROM is written, so that they
// survive a cancel or a failure too.
static bool eraseForScope(Job& job, FILE* rom, uint32_t romSize, const uint8_t* chips, int count, bool turbo,
                          std::vector<CartBlock>* blocks, BytesPastRom* kept, FlashStages& stages)
{
    Reporter& r = job.r;
    Link& link = job.link;
    EraseScope scope = job.settings.eraseScope;
    if (scope != EraseScope::RomBlocks && scope != EraseScope::ChangedBlocks)
        return eraseForRom(link, job.cart, chips, count, stages, r);
    if (scope == EraseScope::ChangedBlocks && !keepChangedBlocks(link, rom, romSize, blocks, stages, r))
        return false;
    if (!keepBytesPastRom(r, link, rom, romSize, *blocks, kept))
        return false;
    // The bytes past the ROM's end go back as soon as their block is
    // erased, while the other chip may still be erasing: the write-back then
    // costs no time of its own. After a cancel or a block that would not
    // erase they go back too: nothing outside the ROM is to be lost to a
    // flash that wrote nothing.
    BlockEraser eraser(link, job.cart, *blocks, stages, r);
    const size_t last = kept->block ? size_t(kept->block - blocks->data()) : blocks->size();
    bool putBack = last == blocks->size(), keptRight = true;
    for (bool more = true; more;) {
        more = eraser.pump();
        if (putBack || !eraser.erased(last))
            continue;
        putBack = true;
        keptRight = restoreBytesPastRom(r, link, *kept, turbo, job.restoreCommand, [&eraser] { eraser.pump(); });
        // The lines of what did not take are the last.
        if (!keptRight)
            eraser.stopQuietly();
    }
    BlocksErased end = eraser.finish();
    if (end == BlocksErased::Failed && keptRight)
        printWindow(r, "%s", FLASH_ABORTED);
    return end == BlocksErased::All && keptRight;
}

// A flash that ended done leaves in `notes` what it has to say beside the
// file's identity.
static bool flashFile(Job& job, FILE* rom, uint64_t fileSize, const char* name, std::vector<std::string>* notes)
{
    Reporter& r = job.r;
    Link& link = job.link;
    Cart& cart = job.cart;
    const WriteSettings& settings = job.settings;
    if (!probe(r, link, &cart, false))
        return false;
    // A silent chip 0 echoes every byte written to it, and reads back as
    // whatever was sent: a flash of it would be called done with nothing
    // on the cartridge. Passed over only when the user skips that chip.
    if (settings.skipChip != 0 && refusedAsChipZeroSilent(r, cart, "nothing was erased or written"))
        return false;
    uint32_t flashSize = cart.megabits() * MEGABIT;
    double started = linkSeconds();
    uint32_t romSize = fitToFlash(r, fileSize, flashSize);
    if (flashSize == 0) {
        // Nothing answered: there is nothing to erase or write.
        printWindow(r, "%s", FLASH_ABORTED);
        return false;
    }
    if (fileSize > flashSize && settings.refuseOversized) {
        printWindow(r, "Not flashing '%s':", name);
        printWindow(r, "%llu of its bytes would not fit the cart.", (unsigned long long)(fileSize - flashSize));
        printWindow(r, "Nothing was erased.");
        return false;
    }
    FlashStages stages(name, settings);
    int skip = settings.skipChip == 0 || settings.skipChip == 1 ? settings.skipChip : -1;
    uint8_t chips[2];
    int count = chipsToErase(romSize, skip, chips);
    if (!mayErase(r, link, chips, count, &cart))
        return false;
    bool turbo = decideTurbo(r, settings.turboMode, cart.factoryProt[0]);

    std::vector<CartBlock> blocks = blocksCovering(cart.layout(), romSize, skip);
    size_t romBlocks = blocks.size();
    BytesPastRom kept;
    if (!eraseForScope(job, rom, romSize, chips, count, turbo, &blocks, &kept, stages))
        return false;
    // Past the blocks that differ, the cartridge already holds the file.
    bool changedOnly = settings.eraseScope == EraseScope::ChangedBlocks;
    AddressRanges toWrite(blocks);

    // The blocks already right are passed over: the bar and the count are
    // of the bytes really written.
    uint32_t toProgram = changedOnly ? uint32_t(toWrite.bytesBelow(romSize)) : romSize;
    stages.open("Writing Cartridge", toProgram, r);
    printWindow(r, "Flashing '%s'", name);
    uint32_t written = 0;
    bool wrote = writeRom(link, rom, romSize, settings.writeN, skip, turbo, changedOnly ? &toWrite : nullptr,
                          kept.from(romSize), &written, r);
    bool cancelled = !r.goingOn();
    r.endProgress();
    if (!wrote)
        return false;
    if (written < romSize || cancelled) {
        // A file that shrank under the job ends its stream early; a linker
        // that went has been named by the link: no block is to blame.
        if (!cancelled && feof(rom)) {
            printWindow(r, "'%s' ended early, at byte %u;", name, written);
            printWindow(r, "it had %u bytes when the flash began.", romSize);
        } else if (!cancelled && !link.gone() && settings.eraseScope != EraseScope::WholeChips)
            reportUnprogrammedBlock(r, cart.layout(), written);
        printWindow(r, "%s", FLASH_ABORTED);
        return false;
    }
    printWindow(r, "Wrote %u bytes in %d seconds", changedOnly ? toProgram : written,
                int(linkSeconds() - started));
    // After a failed verify nothing follows but the line saying why.
    if (settings.verifyAfterWrite && !verifyAfterWriting(link, rom, romSize, toWrite, stages, r))
        return false;
    printWindow(r, "Flashing done.");
    // What the job did, not a note on the file: it stands with "done".
    if (changedOnly)
        printWindow(r, "Blocks rewritten: %d, already right: %d.", int(blocks.size()),
                    int(romBlocks - blocks.size()));
    if (fileSize > romSize)
        notes->push_back(std::to_string(fileSize - romSize) +
                         " bytes of the file did not fit on the cartridge and were not written.");
    // In the log file only: the block is on the cartridge as it should be,
    // and the window's notes are for the file.
    if (!kept.copy.empty())
        logToFileOnly(r, ("Safety copy of the block the ROM ends in: '" + printable(kept.copy, true) + "'").c_str());
    return true;
}

// After a flashing that ended done: what the file is, and a warning when the
// console would refuse to start the cartridge it made. The write methods may
// pass over blocks that already hold the right bytes, so the file is hashed
// whole here, from its start, rather than on the way.
static void reportImage(Reporter& r, FILE* rom, const char* name, const std::vector<std::string>& said)
{
    // The warning goes with the notes, so the header is read before them.
    uint8_t head[CART_HEADER_SIZE];
    size_t got = fseek(rom, 0, SEEK_SET) == 0 ? fread(head, 1, sizeof head, rom) : 0;
    CartHeader header = decodeHeader(head, got);
    ImageHasher hasher;
    if (fseek(rom, 0, SEEK_SET) != 0 || !hashRestOfFile(rom, hasher)) {
        logLines(r, said);
        printWindow(r, "Identity of '%s':", name);
        printWindow(r, "the file could not be read to its end.");
        return;
    }
    logImageIdentity(r, name, hasher, loadKnownDumps(knownDumpDir()), {},
                     {said, licenceWarningLines(name, header)});
}

bool flashRom(const std::string& path, Job& job)
{
    Reporter& r = job.r;
    if (!linkStillThere(r))
        return false;
    if (romFileRefused(r, path))
        return false;
    bool refused = false;
    FILE* rom = openInputFile(r, path, &refused);
    int why = errno;
    long long length = rom ? fileLength(rom) : -1;
    bool done = false;
    if (length < 0 && !refused) {
        printWindow(r, FAILED_TO_OPEN, path.c_str(), strerror(rom ? errno : why));
    } else if (length == 0) {
        // Emptied since it was first looked at: the erase is still to come.
        printWindow(r, "'%s' is empty; nothing was erased.", displayName(path.c_str()));
    } else if (length > 0) {
        const char* name = displayName(path.c_str());
        std::vector<std::string> notes;
        done = flashFile(job, rom, uint64_t(length), name, &notes);
        if (done)
            reportImage(r, rom, name, notes);
    }
    if (rom)
        fclose(rom);
    return done;
}
