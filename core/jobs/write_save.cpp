// "Write Savegame": an NGF file, read whole and checked, programmed back into
// the cartridge record by record, each over its freshly erased block.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/cart/detect.h"
#include "core/cart/flash_commands.h"
#include "core/jobs/jobs.h"
#include "core/jobs/ngf.h"
#include "core/link/clock.h"
#include "core/link/transfer.h"

static const char* const JOB_TITLE = "Writing a save-game";

// A block erase takes well under a second, and no datasheet of these chips
// allows more than a few; past this the block will not erase at all.
static const double ERASE_GIVE_UP_S = 20.0;
// How often the erase wait lets the toolkit run, so Cancel is seen.
static const double ERASE_EVENTS_EVERY_S = 0.05;

enum RecordOutcome { RECORD_DONE, RECORD_CANCELLED, RECORD_STOPPED };

// Bytes from the stream's position to its end; 0 when that cannot be told.
static size_t bytesLeft(FILE* f)
{
    long here = ftell(f);
    if (here < 0 || fseek(f, 0, SEEK_END) != 0)
        return 0;
    long end = ftell(f);
    if (fseek(f, here, SEEK_SET) != 0 || end < here)
        return 0;
    return size_t(end - here);
}

// Reads everything into memory and checks it before the cartridge is touched.
// On success *body holds the len - 8 bytes after the header, for the caller
// to free.
static bool loadSaveFile(const char* path, NgfHeader* h, uint8_t** body)
{
    FILE* f = fopen(path, "rb");
    if (!f) {
        printWindow("restoreSaveGameToCart: Couldn't open '%s'", path);
        return false;
    }
    uint8_t head[NGF_HEADER_LEN];
    size_t got = fread(head, 1, sizeof head, f);
    if (!ngfCheckHeader(head, got, path, h)) {
        fclose(f);
        return false;
    }

    size_t wanted = h->len - NGF_HEADER_LEN;
    size_t present = bytesLeft(f);
    // A len beyond what the file holds is refused without allocating it: the
    // read could only come up short.
    uint8_t* buf = nullptr;
    got = present;
    if (present >= wanted) {
        buf = static_cast<uint8_t*>(malloc(wanted ? wanted : 1));
        if (!buf) {
            printWindow("restoreSaveGameToCart: can't malloc %d bytes", int(wanted));
            fclose(f);
            return false;
        }
        got = fread(buf, 1, wanted, f);
    }
    fclose(f);

    if (!ngfCheckBody(*h, got) || !ngfCheckRecordBounds(*h, buf, wanted)) {
        free(buf);
        return false;
    }
    *body = buf;
    return true;
}

static bool cancelled(Reporter& r)
{
    if (r.goingOn())
        return false;
    printWindow("Writing a save-game cancelled.");
    return true;
}

static void eraseBlock(uint32_t addr, uint8_t chip)
{
    flashUnlock(chip);
    write_byte(FLASH_UNLOCK_ADDR1, FLASH_CMD_ERASE_SETUP, chip);
    flashUnlock(chip);
    write_byte(addr, FLASH_CMD_BLOCK_ERASE, chip);
}

// Erased flash reads 0xFF. A protected block, a first byte already
// programmed earlier in this job, or a linker whose reads fail (they give 0)
// never get there, so the wait is bounded and lets Cancel through.
static RecordOutcome waitForErase(uint32_t addr, uint8_t chip, Reporter& r)
{
    double start = linkSeconds();
    double lastEvents = start;
    while (read_byte(addr, chip) != 0xFF) {
        if (linkGone())
            return RECORD_STOPPED;  // the transfer layer has said why
        double now = linkSeconds();
        if (now - start > ERASE_GIVE_UP_S) {
            printWindow("restoreSaveGameToCart: chip %d address 0x%06X did not read 0xFF within "
                        "%d seconds of the erase, giving up",
                        chip, addr, int(ERASE_GIVE_UP_S));
            return RECORD_STOPPED;
        }
        if (now - lastEvents >= ERASE_EVENTS_EVERY_S) {
            lastEvents = now;
            r.breathe();
            if (cancelled(r))
                return RECORD_CANCELLED;
        }
    }
    return RECORD_DONE;
}

static RecordOutcome programRecord(const NgfRecord& rec, uint8_t turbo, uint8_t* erased,
                                   uint32_t* total, Reporter& r)
{
    uint32_t cartAddr;
    if (!cartAddrFromConsole(rec.head.NGPCaddr, &cartAddr)) {
        printWindow("restoreSaveGameToCart: invalid blockHeader->NGPCaddr=0x%08X", rec.head.NGPCaddr);
        return RECORD_STOPPED;
    }
    // Past the chip's end the chip address would wrap round to its first bytes.
    if (!recordFitsItsChip(rec.head)) {
        printWindow("restoreSaveGameToCart: blockHeader->NGPCaddr=0x%08X blockLen=0x%X runs past "
                    "the end of the chip",
                    rec.head.NGPCaddr, rec.head.blockLen);
        return RECORD_STOPPED;
    }
    uint8_t chip = chipOf(cartAddr);
    uint32_t addr = cartAddr & CHIP_ADDR_MASK;
    int slot = chip * BLOCKS_PER_CHIP + addrToBlockNum(cartAddr);

    if (!erased[slot]) {
        eraseBlock(addr, chip);
        erased[slot] = 1;
    }
    RecordOutcome waited = waitForErase(addr, chip, r);
    if (waited != RECORD_DONE)
        return waited;

    if (rec.head.blockLen % NGF_UNIT)
        printWindow("mod 32 problem..");
    if (rec.head.blockLen > 0) {
        if (cancelled(r))
            return RECORD_CANCELLED;
        for (uint32_t o = 0; o < rec.head.blockLen; o += NGF_UNIT) {
            uint8_t unit[NGF_UNIT];
            ngfUnit(rec, o, unit);
            flash_write_32_bytes((cartAddr + o) & CHIP_ADDR_MASK, unit, chip, turbo);
            r.breathe();
            if (rec.head.blockLen - o > NGF_UNIT && cancelled(r))
                return RECORD_CANCELLED;
        }
    }
    if (cancelled(r))
        return RECORD_CANCELLED;
    *total += rec.head.blockLen;
    read_byte(0, chip);
    return RECORD_DONE;
}

// Programs every record in file order; RECORD_DONE once all are written.
static RecordOutcome programRecords(const NgfHeader& h, const uint8_t* body, uint8_t turbo,
                                    uint32_t* total, Reporter& r)
{
    uint8_t erased[BLOCK_SLOTS] = {};
    size_t offset = 0;
    for (int i = 1; i <= h.numBlocks; i++) {
        r.progress(float(i) / h.numBlocks);
        r.breathe();
        NgfRecord rec;
        // The loader has checked that every record lies inside the body.
        ngfRecordAt(body, h.len - NGF_HEADER_LEN, &offset, &rec);
        RecordOutcome outcome = programRecord(rec, turbo, erased, total, r);
        if (outcome != RECORD_DONE)
            return outcome;
        if (i < h.numBlocks && cancelled(r))
            return RECORD_CANCELLED;
    }
    return RECORD_DONE;
}

bool writeSaveGame(const std::string& path, const WriteSettings& settings, Reporter& r)
{
    ReporterScope scope(r);
    NgfHeader h;
    uint8_t* body = nullptr;
    if (!loadSaveFile(path.c_str(), &h, &body))
        return false;

    uint8_t size = 0;
    checkCart(&size, nullptr, nullptr, nullptr, true, false);
    uint8_t turbo = decideTurbo(settings.turboMode, G_factoryProt[0]) ? 1 : 0;

    printWindow("%s", JOB_TITLE);
    r.beginProgress(JOB_TITLE, h.len);
    r.progress(0);
    double start = linkSeconds();
    uint32_t total = 0;
    unsigned failures = g_linkFailures;

    RecordOutcome outcome = RECORD_DONE;
    if (h.numBlocks > 0 && cancelled(r))
        outcome = RECORD_CANCELLED;
    if (outcome == RECORD_DONE)
        outcome = programRecords(h, body, turbo, &total, r);
    bool done = false;
    if (outcome == RECORD_DONE && !cancelled(r)) {
        if (g_linkFailures != failures) {
            // The writers report their failures only in the log: a save with
            // a failed unit in it is not a restored save.
            printWindow("restoreSaveGameToCart: the linker reported errors, the save-game is "
                        "not written whole.");
        } else {
            printWindow("Writing a save-game done.");
            printWindow("Wrote 0x%X bytes in %d seconds.", total, int(linkSeconds() - start));
            done = true;
        }
    }
    free(body);
    r.endProgress();
    return done;
}
