// "Backup ROM": copies the whole cartridge, both chips, into a raw image file
// that Flash ROM(s) and Verify ROM read back byte for byte.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "core/cart/blocks.h"
#include "core/cart/detect.h"
#include "core/cart/read.h"
#include "core/jobs/image_identity.h"
#include "core/jobs/jobs.h"
#include "core/output_file.h"
#include "core/link/linker.h"
#include "version.h"

static std::string defaultBackupName(const Cart& cart);
static std::string romFileName(const Cart& cart);
static std::vector<ByteRange> scanSaveArea(Reporter& r, Link& link, Cart* scanned, bool* failed);
static bool copyCartridge(Link& link, FILE* file, uint32_t size, ImageHasher& hasher, ReadCheck* check, Reporter& r);
static void reportWriteFailure(Reporter& r);
static bool isFolder(const std::string& path);
static std::string inFolder(const std::string& folder, const std::string& name);
static bool placeInFolder(const std::string& temp, const std::string& folder, const std::string& romFile,
                          bool withReport, ImageReport* report, std::string* namedAfter);
static void writeDumpReport(Reporter& r, const std::string& dump, const Cart& scanned, const ImageReport& report,
                            const KnownDumps& known, bool replace);

bool backupRom(const PathAsker& askPath, Job& job, const BackupOptions& options)
{
    Reporter& r = job.r;
    if (!linkStillThere(r))
        return false;
    // A probe that met link failures may have guessed the size: a backup of
    // the wrong length must not be written and called done.
    Cart& cart = job.cart;
    Link& link = job.link;
    if (!checkCartCleanly(r, link, &cart, false, true, "backup not started"))
        return false;
    uint32_t size = cart.megabits() * MEGABIT;
    if (size == 0) {
        // No file is asked for, so none that exists can be emptied.
        printWindow(r, "Nothing to back up.");
        return false;
    }
    // An image holds chip 1 from 0x200000 on: with chip 0 silent it would be
    // read from the silent window, and the dump would not be the cartridge.
    if (refusedAsChipZeroSilent(r, cart, "no backup was made"))
        return false;

    // The path is held whole, however long.
    std::string path;
    std::string proposed = defaultBackupName(cart);
    if (!askPath(proposed, &path)) {
        printWindow(r, "No file selected.");
        return false;
    }
    // A folder: the dump is named once it is known, after its list entry or
    // the ROM name, and never over a file already there.
    bool intoFolder = options.intoFolder && isFolder(path);
    if (!intoFolder && refusedAsOutput(r, path))
        return false;
    std::string target = intoFolder ? path + "/dump" : finalOutputPath(path), temp;
    FILE* file = openTemporaryBeside(target, &temp);
    if (!file) {
        // Which file, and what the system said: a folder that is not
        // writable reads differently from a full disk or a long name.
        int why = errno;
        printWindow(r, "Can't open file!");
        printWindow(r, "'%s': %s", printable(intoFolder ? path : target, true).c_str(), strerror(why));
        return false;
    }
    // The save area only matters for matching a list, and finding it costs a
    // protection scan: none without lists, unless a report shows the map.
    KnownDumps known = loadKnownDumps(knownDumpDir());
    SaveAreaTry area;
    std::vector<ByteRange> saveArea;
    Cart scanned;
    if (!known.lists.empty() || options.report)
        saveArea = scanSaveArea(r, link, &scanned, &area.scanFailed);
    ImageHasher hasher(known.lists.empty() ? std::vector<ByteRange>() : saveArea);
    // A folder is shown as given, so that two folders of one name differ.
    std::string name = intoFolder ? inFolder(path, "") : displayName(path.c_str());
    printWindow(r, "Backing up ROM to '%s'", name.c_str());

    r.beginProgress("Backing up a ROM", size);
    r.stage(std::string("Backing up to '") + name + "'");
    r.progress(0.0f);
    ReadCheck check;
    check.passes = job.settings.readPasses > 1 ? 2 : 1;
    bool complete = r.goingOn() && copyCartridge(link, file, size, hasher, &check, r);

    // The stream may still hold the last chunk: a failed flush is a short file too.
    if (fclose(file) != 0 && complete) {
        reportWriteFailure(r);
        complete = false;
    }
    bool done = complete && r.goingOn();
    ImageReport report;
    std::string namedAfter;
    if (done) {
        hasher.finish();
        report = describeImage(name, hasher, known, area);
        report.read = check;
        if (intoFolder)
            done = placeInFolder(temp, path, romFileName(cart), options.report, &report, &namedAfter);
        else if (rename(temp.c_str(), target.c_str()) != 0)
            done = false;
        if (!done)
            reportWriteFailure(r);
    }
    if (done) {
        printWindow(r, "Backup done. Wrote %u bytes.", size);
        logImageIdentity(r, report.name.c_str(), hasher, known, area, {}, check);
        std::string dump = intoFolder ? inFolder(path, report.name) : target;
        // A dump that replaced a file replaces its report too, so the report
        // beside a dump is always its own.
        if (options.report)
            writeDumpReport(r, dump, scanned, report, known, !intoFolder);
        if (intoFolder)
            printWindow(r, "Named '%s' %s.", printable(report.name, true).c_str(), namedAfter.c_str());
        std::string why, listed = listFileName(report, &why);
        if (options.writtenTo)
            *options.writtenTo = dump;
        if (options.listName)
            *options.listName = listed == report.name ? "" : listed;
    } else {
        printWindow(r, "Backup aborted. Deleting the backup file.");
        remove(temp.c_str());
        // Only the partial copy went: the file it was to replace is as it
        // was, which the line above does not say.
        std::error_code ec;
        if (!intoFolder && std::filesystem::exists(target, ec)) {
            std::string kept = "'" + printable(displayName(path.c_str()), true) + "' is as it was.";
            logNotes(r, {kept}, {kept});
        }
    }
    r.endProgress();
    return done;
}

static bool isFolder(const std::string& path)
{
    std::error_code ec;
    return (!path.empty() && path.back() == '/') || std::filesystem::is_directory(path, ec);
}

static std::string inFolder(const std::string& folder, const std::string& name)
{
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The ROM name as a file name: the cartridge's bytes are no safer than a list's.
static std::string romFileName(const Cart& cart)
{
    std::string name = defaultBackupName(cart);
    for (char& c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '_';
    if (name.rfind("..", 0) == 0)
        name[0] = '_';
    return name;
}

// Gives the finished dump in the folder its name: the list entry's file name
// when the dump is known and the name is fit, else the ROM name, else
// "dump.ngp" when the folder refuses that too (a backup is never lost for
// its name); with " (2)", " (3)", ... before the extension while the name,
// or with a report the report's name, is taken. `namedAfter` ends the line
// that says which, and why the list's name was not used.
static bool placeInFolder(const std::string& temp, const std::string& folder, const std::string& romFile,
                          bool withReport, ImageReport* report, std::string* namedAfter)
{
    std::string why;
    std::string listed = listFileName(*report, &why);
    const std::string after[] = {"after its list entry", "after the ROM name", "neither after its entry nor the ROM name"};
    std::vector<std::pair<std::string, int>> names = {{romFile, 1}, {"dump.ngp", 2}};
    if (!listed.empty())
        names.insert(names.begin(), {listed, 0});
    for (const auto& [name, kind] : names) {
        size_t dot = name.rfind('.');
        std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
        std::string extension = stem.size() == name.size() ? "" : name.substr(dot);
        errno = EEXIST;
        for (int n = 1; n < 1000; n++) {
            std::string candidate = n == 1 ? name : stem + " (" + std::to_string(n) + ")" + extension;
            struct stat st;
            if (withReport && lstat(inFolder(folder, candidate + ".txt").c_str(), &st) == 0)
                continue;
            if (renameNoReplace(temp, inFolder(folder, candidate))) {
                report->name = candidate;
                *namedAfter = after[kind] + (why.empty() || kind == 0 ? "" : ": " + why);
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        // A name this folder cannot hold (too long, a byte its file system
        // refuses) gives way to the next.
        int fault = errno;
        if (fault == EEXIST)
            return false;
        why = std::string("the folder refused ") + (kind == 0 ? "the list's file name" : "the ROM name") + " (" +
              strerror(fault) + ")";
        errno = fault;
    }
    return false;
}

// "<dump>.txt" beside the dump, as dumping tools of other consoles write it:
// when, by what, from which chips and protection, and what the dump is. It
// is a note: a report that cannot be written is said and the backup stands.
static void writeDumpReport(Reporter& r, const std::string& dump, const Cart& scanned, const ImageReport& report,
                            const KnownDumps& known, bool replace)
{
    std::string path = dump + ".txt", temp;
    FILE* out = openTemporaryBeside(path, &temp);
    if (!out) {
        printWindow(r, "Can't write the dump report '%s': %s", printable(displayName(path.c_str()), true).c_str(),
                    strerror(errno));
        return;
    }
    char when[64];
    time_t now = time(nullptr);
    strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", gmtime(&now));
    fprintf(out, "Dump report\nDate     = %s\nProgram  = PocketTetherbox %s\n", when, PTB_VERSION);
    for (uint8_t chip = 0; chip < 2; chip++) {
        if (scanned.chipSize[chip] == 0) {
            fprintf(out, "Chip %u   = none\n", chip);
            continue;
        }
        fprintf(out, "Chip %u   = manufacturer 0x%02X, device 0x%02X, %u Mbit\n", chip, scanned.manufID[chip],
                scanned.deviceID[chip], scanned.chipSize[chip]);
        // Each chip by its own blocks: a chip 1 smaller than chip 0 has fewer.
        std::string map;
        CartLayout layout = scanned.layout();
        for (const CartBlock& b : layout.blocksOf(chip))
            map += scanned.isProtected(b) ? 'P' : '-';
        fprintf(out, "  Blocks = %s (P: protected)\n", report.area.scanFailed ? "not read" : map.c_str());
    }
    fprintf(out, "Passes   = %d\n", report.read.passes);
    for (const std::string& range : report.read.unstable)
        fprintf(out, "Unstable = %s\n", range.c_str());
    for (const std::string& line : reportLines(report, known))
        fprintf(out, "%s\n", line.c_str());
    bool written = fclose(out) == 0 &&
                   (replace ? rename(temp.c_str(), path.c_str()) == 0 : renameNoReplace(temp, path));
    if (!written) {
        int why = errno;
        remove(temp.c_str());
        printWindow(r, "Can't write the dump report '%s': %s", printable(displayName(path.c_str()), true).c_str(),
                    strerror(why));
    } else {
        printWindow(r, "Dump report written to '%s'.", printable(displayName(path.c_str()), true).c_str());
    }
}

// The C locale's whitespace, spelled out so no locale set by a library can
// change which ROM-name characters count as padding.
static bool isNamePadding(char c)
{
    return c == '\0' || strchr(" \t\n\v\f\r", c);
}

// The ROM name with its padding cut from the end, plus ".ngp". The first
// character always stays, so a name of blanks still gives " .ngp".
static std::string defaultBackupName(const Cart& cart)
{
    char name[ROM_NAME_LEN + 1];
    strncpy(name, cart.cartRomName, ROM_NAME_LEN);
    name[ROM_NAME_LEN] = '\0';
    for (int i = ROM_NAME_LEN - 1; i >= 1 && isNamePadding(name[i]); i--)
        name[i] = '\0';
    return std::string(name) + ".ngp";
}

// The unprotected blocks, from a scan that logs nothing unless the link
// fails; none then, since the scan's table cannot be trusted, and the
// verdict says the match was not tried.
static std::vector<ByteRange> scanSaveArea(Reporter& r, Link& link, Cart* scanned, bool* failed)
{
    *failed = !checkCart(r, link, scanned, nullptr, nullptr, nullptr, true, false);
    return *failed ? std::vector<ByteRange>() : saveAreaRanges(*scanned);
}

// A chunk the two passes read differently is read again until two of its
// reads agree. The agreed bytes, or null after the lines that say why not
// (the link failed, or the range never settled).
static const uint8_t* settledChunk(Link& link, uint32_t at, uint32_t n, const uint8_t* first, const uint8_t* second,
                                   std::vector<std::vector<uint8_t>>* reads, ReadCheck* check, Reporter& r)
{
    *reads = {std::vector<uint8_t>(first, first + n), std::vector<uint8_t>(second, second + n)};
    bool unstable = false;
    bool agreed = readUntilTwoAgree(link, at, n, reads, MOST_READS_TO_AGREE, &unstable);
    if (!agreed && !unstable) {
        printWindow(r, "Wut?! usb recv error..");
        return nullptr;
    }
    // Where the reads disagree, as one range of cartridge addresses.
    uint32_t lo = n, hi = 0;
    for (uint32_t i = 0; i < n; i++)
        for (const std::vector<uint8_t>& read : *reads)
            if (read[i] != (*reads)[0][i])
                lo = std::min(lo, i), hi = std::max(hi, i);
    if (!agreed) {
        printWindow(r, "0x%06X-0x%06X never read the same twice:", at + lo, at + hi);
        printWindow(r, "clean the contacts and back up again.");
        return nullptr;
    }
    printWindow(r, "Unstable: 0x%06X-0x%06X took %d reads.", at + lo, at + hi, int(reads->size()));
    char range[48];
    snprintf(range, sizeof range, "0x%06X-0x%06X (%d reads)", at + lo, at + hi, int(reads->size()));
    check->unstable.push_back(range);
    return reads->back().data();
}

// Copies `size` cartridge bytes into the file, chunk by chunk, hashing them
// on the way. With two passes the first is read whole and the second
// compared with it as it goes; only bytes two reads agree on are written.
// True when the last chunk was written; false after a failure (logged here)
// or a Cancel. The chunk in flight when Cancel is pressed is still read and
// written.
static bool copyCartridge(Link& link, FILE* file, uint32_t size, ImageHasher& hasher, ReadCheck* check, Reporter& r)
{
    const int passes = check->passes;
    float fraction = 0.0f;
    const double share = passes > 1 ? 0.5 : 1.0;
    std::vector<uint8_t> first;
    std::vector<std::vector<uint8_t>> reads;
    CartRead read;
    read.spans = {{0, size}};
    read.before = [&](uint32_t, uint32_t) {
        r.progress(fraction);
        r.breathe();
        return true;
    };
    if (passes > 1) {
        first.resize(size);
        read.take = [&](size_t, uint32_t at, const uint8_t* bytes, uint32_t n) {
            std::copy(bytes, bytes + n, first.begin() + at);
            fraction = float(share * double(at) / double(size));
            return r.goingOn() ? AfterPiece::GoOn : AfterPiece::Stop;
        };
        CartReadEnd end = readCart(link, read);
        if (end == CartReadEnd::LinkFailed)
            printWindow(r, "Wut?! usb recv error..");
        if (end != CartReadEnd::Done)
            return false;
    }
    read.take = [&](size_t, uint32_t at, const uint8_t* bytes, uint32_t n) {
        if (passes > 1 && !std::equal(bytes, bytes + n, first.begin() + at) &&
            !(bytes = settledChunk(link, at, n, first.data() + at, bytes, &reads, check, r)))
            return AfterPiece::Stop;
        hasher.update(bytes, n);
        if (fwrite(bytes, 1, n, file) != n) {
            reportWriteFailure(r);
            return AfterPiece::Stop;
        }
        // The bar lags a chunk behind and never shows full before it closes.
        fraction = float(1.0 - share + share * double(at) / double(size));
        if (fraction >= 1.0f)
            fraction = 0.99f;
        return at + n >= size || r.goingOn() ? AfterPiece::GoOn : AfterPiece::Stop;
    };
    CartReadEnd end = readCart(link, read);
    if (end == CartReadEnd::LinkFailed)
        printWindow(r, "Wut?! usb recv error..");
    return end == CartReadEnd::Done;
}

// A short write (a full disk, a size limit) must never end in "Backup done.".
static void reportWriteFailure(Reporter& r)
{
    printWindow(r, "Can't write to the backup file: %s", strerror(errno));
}
