// "Verify ROM": compares a ROM image file with the cartridge, block by block.
// A difference in a protected block fails the job at once; one in an
// unprotected block is only summed up at the end, since the game itself
// rewrites its save area there. A chip with no protected block at all (a
// flash cartridge) has no save area to tell apart: any difference fails.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/cart/blocks.h"
#include "core/cart/detect.h"
#include "core/cart/read.h"
#include "core/jobs/image_identity.h"
#include "core/jobs/jobs.h"
#include "core/link/clock.h"
#include "core/link/linker.h"

static const uint32_t MAX_CHUNK = PACKETS_PER_REQUEST * 64;
static const uint32_t MISMATCH_LINES = 16;  // per chunk

// Everything one run of the walk carries from chunk to chunk.
struct VerifyRun {
    VerifyRun(Link& l, Reporter& r) : link(l), report(r) {}
    Link& link;
    Reporter& report;
    Cart cart;
    FILE* file = nullptr;
    const char* name = "";  // display name of the file
    uint32_t total = 0;     // bytes the progress bar counts to
    long start = 0;         // whole seconds on the link's monotonic clock
    uint32_t position = 0;  // cartridge address = file offset = bytes verified
    float fraction = 0.0f;
    bool continuing = true;
    bool unprotectedDiffered = false;
    bool passed = false;  // the walk reached its end with no difference that counts
    bool differed = false;  // a difference that counts ended the walk
    ImageHasher* hasher = nullptr;  // every file byte the walk reads
    uint8_t fileBuf[MAX_CHUNK];
    uint32_t fileGot = 0;  // bytes of the piece under way that the file gave
    uint8_t again[MAX_CHUNK];      // a piece read a second time
    uint8_t confirmed[MAX_CHUNK];  // the file's bytes but where both reads differ from it
};

// Whether the walk goes on, or the job has ended and said why.
enum WalkStep { GO_ON, JOB_OVER };

static uint32_t totalForProgress(Reporter& r, long fileSize, uint32_t flashSize);
static bool verifyBlocks(VerifyRun& run);
static uint32_t halvingRequests(uint32_t read, uint32_t remaining);
static WalkStep compareChunk(VerifyRun& run, const CartBlock& b, const uint8_t* cart, uint32_t length);
static void logEndOfFile(VerifyRun& run);
static const uint8_t* confirmedDifferences(VerifyRun& run, uint32_t at, const uint8_t* cart, uint32_t length);
static void logUnprotectedNote(Reporter& r);
static void logTiming(const VerifyRun& run);

bool verifyRom(const std::string& path, Job& job)
{
    Reporter& r = job.r;
    if (!linkStillThere(r))
        return false;
    const char* name = displayName(path.c_str());
    bool refused = false;
    FILE* file = openInputFile(r, path, &refused);
    if (!file) {
        if (!refused)
            printWindow(r, FAILED_TO_OPEN, name, strerror(errno));
        return false;
    }
    long fileSize = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        fileSize = ftell(file);
    if (fileSize < 0 || fseek(file, 0, SEEK_SET) != 0) {
        printWindow(r, "Failed to read '%s'", name);
        fclose(file);
        return false;
    }
    // Nothing compared is no verdict.
    if (fileSize == 0) {
        printWindow(r, "'%s' is empty; nothing to compare.", name);
        fclose(file);
        return false;
    }

    // A block whose protection read failed looks unprotected, and its
    // differences would pass as save data: such a probe is no ground to judge on.
    Link& link = job.link;
    VerifyRun run(link, r);
    if (!checkCartCleanly(r, link, &run.cart, true, false, "verify not started")) {
        fclose(file);
        return false;
    }
    // The file's offset 0 would be compared with the silent window, or with
    // chip 1: a file of chip 1's bytes would pass.
    if (refusedAsChipZeroSilent(r, run.cart, "nothing was compared")) {
        fclose(file);
        return false;
    }
    uint32_t flashSize = run.cart.megabits() * MEGABIT;
    // A played cartridge's dump may be known once its save area reads erased.
    KnownDumps known = loadKnownDumps(knownDumpDir());
    ImageHasher hasher(known.lists.empty() ? std::vector<ByteRange>() : saveAreaRanges(run.cart));
    run.hasher = &hasher;
    run.file = file;
    run.name = name;
    run.start = long(linkSeconds());
    run.total = totalForProgress(r, fileSize, flashSize);

    printWindow(r, "Verifying '%s'", name);
    r.beginProgress("Verifying a ROM", run.total);
    r.stage(std::string("Verifying '") + name + "'");
    r.progress(0.0f);
    run.continuing = r.goingOn();

    bool pastEnd = false;
    bool over = verifyBlocks(run);
    if (!over) {
        // With no cartridge nothing was compared: that is no verdict.
        run.passed = run.continuing && flashSize != 0;
        if (!run.continuing)
            printWindow(r, "Verifying cancelled.");
        if (run.unprotectedDiffered)
            logUnprotectedNote(r);
        logTiming(run);
        // What the cartridge cannot hold is not on it: never a pass.
        pastEnd = run.continuing && uint64_t(fileSize) > flashSize;
        if (pastEnd)
            run.passed = false;
    }
    // The specified lines end on the byte count either way: one line says
    // which way it went (with no cartridge, nothing was compared). A verdict
    // of done is worth knowing the file by.
    if (run.passed) {
        printWindow(r, "The cartridge matches the file.");
        logFileIdentity(r, file, name, hasher, known);
    } else if (run.differed || (pastEnd && flashSize != 0)) {
        printWindow(r, "The cartridge differs from the file.");
    }
    if (pastEnd)
        printWindow(r, "Not compared: %llu bytes past the cart's end.",
                    (unsigned long long)(uint64_t(fileSize) - flashSize));

    fclose(file);
    r.endProgress();
    return run.passed;
}

// The bar counts to the smaller of the two; a size mismatch is worth a word.
static uint32_t totalForProgress(Reporter& r, long fileSize, uint32_t flashSize)
{
    if (fileSize > long(flashSize)) {
        printWindow(r, "Warning! ROM size of %ld bytes is", fileSize);
        printWindow(r, " is larger than the flash size of %d bytes.", int(flashSize));
        return flashSize;
    }
    if (fileSize < long(flashSize)) {
        printWindow(r, "ROM size of %ld bytes is", fileSize);
        printWindow(r, " smaller than the flash size of %d bytes.", int(flashSize));
        return uint32_t(fileSize);
    }
    return flashSize;
}

// The chips' own blocks, until Cancel or the end: an image of exactly the
// cartridge's size ends where the chip does. True when the job has ended
// and said why.
static bool verifyBlocks(VerifyRun& run)
{
    Reporter& r = run.report;
    const CartLayout layout = run.cart.layout();
    std::vector<CartBlock> blocks;
    CartRead read;
    for (uint8_t chip = 0; chip < 2; chip++) {
        for (const CartBlock& b : layout.blocksOf(chip)) {
            blocks.push_back(b);
            read.spans.push_back({b.start, b.end()});
        }
    }
    read.pace = halvingRequests;
    bool over = false;
    // The file's bytes first: the cartridge is read only for the bytes the
    // file still has. The file may end part-way; the bytes it did give are
    // still compared before saying so.
    read.before = [&](uint32_t, uint32_t length) {
        if (!run.continuing)
            return false;
        r.progress(run.fraction);
        r.breathe();
        run.fileGot = uint32_t(fread(run.fileBuf, 1, length, run.file));
        if (run.fileGot < length && ferror(run.file)) {
            printWindow(r, "Failed to read '%s'", run.name);
            return !(over = true);
        }
        run.hasher->update(run.fileBuf, run.fileGot);
        if (run.fileGot == 0) {
            logEndOfFile(run);
            return !(over = true);
        }
        return true;
    };
    read.take = [&](size_t i, uint32_t at, const uint8_t* cart, uint32_t length) {
        if (memcmp(run.fileBuf, cart, run.fileGot) != 0 && !(cart = confirmedDifferences(run, at, cart, length))) {
            printWindow(r, "Wut?! usb recv error..");
            over = true;
            return AfterPiece::Stop;
        }
        if (compareChunk(run, blocks[i], cart, run.fileGot) == JOB_OVER) {
            over = true;
            return AfterPiece::Stop;
        }
        if (run.fileGot < length) {
            logEndOfFile(run);
            over = true;
            return AfterPiece::Stop;
        }
        run.position += length;
        run.fraction = float(run.position) / float(run.total);
        if (run.fraction >= 1.0f)
            run.fraction = 0.99f;
        run.continuing = r.goingOn();
        return AfterPiece::GoOn;
    };
    if (readCart(run.link, read) == CartReadEnd::LinkFailed) {
        printWindow(r, "Wut?! usb recv error..");
        return true;
    }
    if (read.spans.empty())
        run.continuing = r.goingOn();
    return over;
}

// A piece that differs from the file is read again: a byte is taken to
// differ only when both reads say so, and one that differed once is named as
// an unstable read (dirty contacts), not as a change to the cartridge. The
// bytes to judge the piece by; null when the second read failed.
static const uint8_t* confirmedDifferences(VerifyRun& run, uint32_t at, const uint8_t* cart, uint32_t length)
{
    if (!readCartInto(run.link, at, length, run.again))
        return nullptr;
    uint32_t unstable = 0, first = 0;
    for (uint32_t i = 0; i < run.fileGot; i++) {
        bool once = cart[i] != run.fileBuf[i], twice = run.again[i] != run.fileBuf[i];
        run.confirmed[i] = once && twice ? run.again[i] : run.fileBuf[i];
        if (once != twice && unstable++ == 0)
            first = run.position + i;
    }
    if (unstable > 0) {
        printWindow(run.report, "Unstable read at 0x%06X: %u bytes read", first, unstable);
        printWindow(run.report, "otherwise the second time. Clean the contacts.");
    }
    return run.confirmed;
}

// Requests of 8192 bytes while at least twice that remains in the block, then
// halving, down to two final requests of 64 bytes.
static uint32_t halvingRequests(uint32_t, uint32_t remaining)
{
    uint32_t packets = remaining / 128;
    if (packets > PACKETS_PER_REQUEST)
        packets = PACKETS_PER_REQUEST;
    return (packets == 0 ? 1 : packets) * 64;
}

static void logEndOfFile(VerifyRun& run)
{
    Reporter& r = run.report;
    printWindow(r, "End of file reached at addr 0x%06X", unsigned(run.position + run.fileGot));
    // Differences in save blocks are still differences: never call them none.
    if (run.unprotectedDiffered)
        logUnprotectedNote(r);
    else
        printWindow(r, "No differences found, but cart was larger than file");
    run.passed = true;
}

// Compares the first `length` bytes of both buffers. A protected block fails
// the job with one line per differing byte.
static WalkStep compareChunk(VerifyRun& run, const CartBlock& b, const uint8_t* cart, uint32_t length)
{
    Reporter& r = run.report;
    if (memcmp(run.fileBuf, cart, length) == 0)
        return GO_ON;
    // Only a status of 0 says unprotected; anything else the chip reports
    // is taken as protected, so an odd status fails loudly, not quietly.
    if (!run.cart.isProtected(b) && run.cart.chipHasProtectedBlocks(b.chip)) {
        run.unprotectedDiffered = true;
        return GO_ON;
    }
    // A wrong chunk can differ in all its 8192 bytes: the first few say
    // what is wrong, one more line how much.
    unsigned more = 0;
    uint32_t last = 0;
    for (uint32_t i = 0, shown = 0; i < length; i++) {
        if (run.fileBuf[i] == cart[i])
            continue;
        if (shown++ < MISMATCH_LINES) {
            printWindow(r, "Mismatch at 0x%06X: file=0x%02X cart=0x%02X", run.position + i,
                        run.fileBuf[i], cart[i]);
            continue;
        }
        more++;
        last = run.position + i;
    }
    if (more > 0)
        printWindow(r, "… and %u more in this chunk, last at 0x%06X.", more, last);
    printWindow(r, "Verification failed in chip %d, block %d.", b.chip, b.number);
    logTiming(run);
    run.differed = true;
    return JOB_OVER;
}

static void logUnprotectedNote(Reporter& r)
{
    printWindow(r, "Unprotected blocks differed,");
    printWindow(r, " but protected blocks verified good.");
    printWindow(r, "This may be due to changes in savegame data.");
}

static void logTiming(const VerifyRun& run)
{
    Reporter& r = run.report;
    printWindow(r, "Verified %d bytes in %d seconds.", int(run.position),
                int(long(linkSeconds()) - run.start));
}
