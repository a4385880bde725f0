// "Backup ROM": copies the whole cartridge, both chips, into a raw image file
// that Flash ROM(s) and Verify ROM read back byte for byte.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/cart/detect.h"
#include "core/jobs/image_identity.h"
#include "core/jobs/jobs.h"
#include "core/link/transfer.h"

static const uint8_t BACKUP_PACKETS = 128;  // per linker request
static const uint32_t BACKUP_CHUNK = BACKUP_PACKETS * 64;

// Static rather than on the stack: the chunk lives as long as the program.
static uint8_t readBuf[BACKUP_CHUNK];

static std::string defaultBackupName();
static std::vector<ByteRange> scanSaveArea();
static bool copyCartridge(FILE* file, uint32_t size, ImageHasher& hasher, Reporter& r);
static void reportWriteFailure();

bool backupRom(const PathAsker& askPath, Reporter& r)
{
    if (!linkStillThere(r))
        return false;
    ReporterScope scope(r);
    // A probe that met link failures may have guessed the size: a backup of
    // the wrong length must not be written and called done.
    uint8_t megabits = 0;
    if (!checkCartCleanly(&megabits, false, true, "backup not started"))
        return false;
    uint32_t size = megabits * MEGABIT;
    if (size == 0) {
        // No file is asked for, so none that exists can be emptied.
        printWindow("Nothing to back up.");
        return false;
    }

    // The path is held whole, however long.
    std::string path;
    std::string proposed = defaultBackupName();
    if (!askPath(proposed, &path)) {
        printWindow("No file selected.");
        return false;
    }
    if (refusedAsOutput(path))
        return false;
    std::string target = finalOutputPath(path), temp;
    FILE* file = openTemporaryBeside(target, &temp);
    if (!file) {
        printWindow("Can't open file!");
        return false;
    }
    // The save area only matters for matching a list, and finding it costs a
    // protection scan: none without lists.
    KnownDumps known = loadKnownDumps(knownDumpDir());
    ImageHasher hasher(known.lists.empty() ? std::vector<ByteRange>() : scanSaveArea());
    const char* name = displayName(path.c_str());
    printWindow("Backing up ROM to '%s'", name);

    r.beginProgress("Backing up a ROM", size);
    r.progress(0.0f);
    bool complete = r.goingOn() && copyCartridge(file, size, hasher, r);

    // The stream may still hold the last chunk: a failed flush is a short file too.
    if (fclose(file) != 0 && complete) {
        reportWriteFailure();
        complete = false;
    }
    bool done = complete && r.goingOn();
    if (done && rename(temp.c_str(), target.c_str()) != 0) {
        reportWriteFailure();
        done = false;
    }
    if (done) {
        printWindow("Backup done. Wrote %u bytes.", size);
        hasher.finish();
        logLines(imageLines(name, hasher, known));
    } else {
        printWindow("Backup aborted. Deleting the backup file.");
        remove(temp.c_str());
    }
    r.endProgress();
    return done;
}

// The C locale's whitespace, spelled out so no locale set by a library can
// change which ROM-name characters count as padding.
static bool isNamePadding(char c)
{
    return c == '\0' || strchr(" \t\n\v\f\r", c);
}

// The ROM name with its padding cut from the end, plus ".ngp". The first
// character always stays, so a name of blanks still gives " .ngp".
static std::string defaultBackupName()
{
    char name[ROM_NAME_LEN + 1];
    strncpy(name, G_cartRomName, ROM_NAME_LEN);
    name[ROM_NAME_LEN] = '\0';
    for (int i = ROM_NAME_LEN - 1; i >= 1 && isNamePadding(name[i]); i--)
        name[i] = '\0';
    return std::string(name) + ".ngp";
}

// The unprotected blocks, from a scan that logs nothing unless the link
// fails; none then, since the scan's table cannot be trusted.
static std::vector<ByteRange> scanSaveArea()
{
    uint8_t megabits = 0;
    unsigned failures = g_linkFailures;
    checkCart(&megabits, nullptr, nullptr, nullptr, true, false);
    return g_linkFailures == failures ? saveAreaRanges() : std::vector<ByteRange>();
}

// Copies `size` cartridge bytes into the file, chunk by chunk, hashing them
// on the way. True when the last chunk was written; false after a failure
// (logged here) or a Cancel. The chunk in flight when Cancel is pressed is
// still read and written.
static bool copyCartridge(FILE* file, uint32_t size, ImageHasher& hasher, Reporter& r)
{
    uint32_t position = 0;
    uint8_t chip = 0;
    float fraction = 0.0f;
    for (;;) {
        if (chip == 0 && position > CHIP_ADDR_MASK)
            chip = 1;
        r.progress(fraction);
        r.breathe();
        if (!read_64xN_bytes(readBuf, position & CHIP_ADDR_MASK, chip, BACKUP_PACKETS)) {
            printWindow("Wut?! usb recv error..");
            return false;
        }
        hasher.update(readBuf, BACKUP_CHUNK);
        if (fwrite(readBuf, 1, BACKUP_CHUNK, file) != BACKUP_CHUNK) {
            reportWriteFailure();
            return false;
        }
        // The bar lags a chunk behind and never shows full before it closes.
        fraction = float(double(position) / double(size));
        if (fraction >= 1.0f)
            fraction = 0.99f;
        position += BACKUP_CHUNK;
        if (position >= size)
            return true;
        if (!r.goingOn())
            return false;
    }
}

// A short write (a full disk, a size limit) must never end in "Backup done.".
static void reportWriteFailure()
{
    printWindow("Can't write to the backup file: %s", strerror(errno));
}
