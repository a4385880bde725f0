// "Backup Savegame": every unprotected erase block of an official cartridge,
// taken as its save-game area, into an NGF file that the vault then knows.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/cart/detect.h"
#include "core/cart/read.h"
#include "core/jobs/jobs.h"
#include "core/output_file.h"
#include "core/saves/ngf.h"
#include "core/link/linker.h"
#include "core/saves/safety_copy.h"
#include "core/saves/vault.h"
#include "core/saves/proposed_name.h"


static void logGroup(Reporter& r, const char* first, const char* second)
{
    printWindow(r, "");
    printWindow(r, "%s", first);
    printWindow(r, "%s", second);
    printWindow(r, "");
}

// Flash cartridges keep no save-game area of their own: a Cindercart is
// refused, a cartridge that looks like a Bung one only gets a warning.
static bool refusedAsFlashCart(Reporter& r, const Cart& cart)
{
    if (isCindercart(cart.factoryProt[0])) {
        logGroup(r, "Can't backup savegame from flash cart!", "  Back up entire game instead!");
        return true;
    }
    if (cart.factoryProt[0] == 0x81 && cart.manufID[0] == 0x98 && cart.manufID[1] == 0x92 &&
        cart.deviceID[0] == 0x2F)
        logGroup(r, "WARNING: This may be a Bung flash cart.",
                 "  SaveGame backup will not work flash carts!");
    return false;
}

// One record: its header, then the block straight from the linker, a chunk
// at a time. Logs why it stopped and returns false on any failure.
static bool writeRecord(Reporter& r, Link& link, FILE* f, const NgfBlockHeader& rec)
{
    uint32_t cartAddr = 0;
    cartAddrFromConsole(rec.NGPCaddr, &cartAddr);
    uint8_t chip = chipOf(cartAddr);
    // Chip 1's short-write message ends with a full stop, chip 0's does not.
    const char* stop = chip ? "." : "";

    uint8_t head[NGF_BLOCK_HEADER_LEN];
    putNgfBlockHeader(head, rec);
    size_t n = fwrite(head, 1, sizeof head, f);
    if (n != sizeof head) {
        printWindow(r, "save-game: wrote %d, but exptected %d bytes%s", int(n), int(sizeof head), stop);
        return false;
    }

    uint32_t written = 0;
    CartRead read;
    read.spans = {{cartAddr, cartAddr + rec.blockLen}};
    read.take = [&](size_t, uint32_t, const uint8_t* bytes, uint32_t want) {
        size_t got = fwrite(bytes, 1, want, f);
        written += uint32_t(got);
        return got == want ? AfterPiece::GoOn : AfterPiece::Stop;
    };
    uint32_t at = cartAddr;
    // A chunk the linker did not deliver must never pass for save data.
    if (readCart(link, read, &at) == CartReadEnd::LinkFailed) {
        printWindow(r, "Couldn't read chip %d at 0x%06X;", chip, at & CHIP_ADDR_MASK);
        printWindow(r, "the partial file is deleted.");
        return false;
    }
    if (written != rec.blockLen) {
        printWindow(r, "save-game: wrote %d, but exptected %d bytes%s", int(written),
                    int(rec.blockLen), stop);
        return false;
    }
    return true;
}

static bool writeSaveFile(Reporter& r, Link& link, FILE* f, const NgfBlockHeader* records, int count)
{
    uint8_t head[NGF_HEADER_LEN];
    putNgfHeader(head, NgfHeader{NGF_VERSION, uint16_t(count), ngfFileLen(records, count)});
    size_t n = fwrite(head, 1, sizeof head, f);
    if (n != sizeof head) {
        printWindow(r, "backupCartSaveGame: wrote %d, but exptected %d bytes", int(n),
                    int(sizeof head));
        return false;
    }
    for (int i = 0; i < count; i++)
        if (!writeRecord(r, link, f, records[i]))
            return false;
    return true;
}

// So that the user finds the backup again by its game, wherever it went.
// The header is read with the save area, so that nothing goes to the linker
// after the done line.
static void registerInVault(Reporter& r, const Cart& cart, const std::string& path, const uint8_t* header)
{
    if (!header) {
        printWindow(r, "'%s' is not in the vault:", path.c_str());
        printWindow(r, "the cartridge header could not be read.");
        return;
    }
    if (!registerBackup(cartridgeGame(header, cart.chipSize[0] != 0), path)) {
        int why = errno;
        printWindow(r, "'%s' is not in the vault:", path.c_str());
        printWindow(r, "%s.", strerror(why));
    }
}

bool backupSaveGame(const std::string& path, Job& job)
{
    Reporter& r = job.r;
    if (!linkStillThere(r))
        return false;
    // Refused before the cartridge is touched: the name is known already.
    if (refusedAsOutput(r, path))
        return false;
    // A block whose protection read failed looks unprotected: game code
    // would be saved as if it were the save area.
    Cart& cart = job.cart;
    Link& link = job.link;
    if (!checkCartCleanly(r, link, &cart, true, false, "save-game backup not started"))
        return false;
    if (refusedAsFlashCart(r, cart))
        return false;

    NgfBlockHeader records[NGF_MAX_WRITE_BLOCKS];
    int count = ngfRecordList(cart, records);
    // Long-standing quirk of this line: its len leaves out the record headers.
    printWindow(r, "version=0x%X blocks=0x%X len=0x%X", NGF_VERSION, count,
                ngfFileLen(records, count) - NGF_BLOCK_HEADER_LEN * count);
    if (count == 0) {
        printWindow(r, "No unprotected blocks to save!");
        return false;
    }

    uint8_t header[64];
    bool headerRead = link.read_64xN_bytes(header, 0, 0, 1);

    // Written beside the chosen name and renamed at the end: a backup that
    // fails half-way leaves the one it was to replace as it was.
    std::string target = finalOutputPath(path), temp;
    FILE* f = openTemporaryBeside(target, &temp);
    if (!f) {
        printWindow(r, "Couldn't open '%s': %s", path.c_str(), strerror(errno));
        return false;
    }
    // Unbuffered, so that a short write is seen, and counted, where it happens.
    setvbuf(f, nullptr, _IONBF, 0);
    bool ok = writeSaveFile(r, link, f, records, count);
    bool onDisk = fflush(f) == 0 && fsync(fileno(f)) == 0;
    if (fclose(f) != 0 || !onDisk) {
        if (ok)
            printWindow(r, "Couldn't finish writing '%s'.", path.c_str());
        ok = false;
    }
    if (ok && rename(temp.c_str(), target.c_str()) != 0) {
        int why = errno;
        printWindow(r, "Couldn't finish writing '%s':", path.c_str());
        printWindow(r, "%s.", strerror(why));
        ok = false;
    }
    if (!ok) {
        if (remove(temp.c_str()) != 0) {
            printWindow(r, "Couldn't delete the partial file");
            printWindow(r, "'%s'.", temp.c_str());
        }
        return false;
    }
    syncFolder(std::filesystem::path(target).parent_path().string());
    printWindow(r, "Save-game backup done.");
    // Where it went, whole: the name alone does not say which folder.
    std::error_code ec;
    std::filesystem::path whole = std::filesystem::absolute(path, ec);
    printWindow(r, "Saved to '%s'", ec ? path.c_str() : whole.lexically_normal().c_str());
    registerInVault(r, cart, target, headerRead ? header : nullptr);
    return true;
}

std::string proposeSaveBackup(const std::string& folder, Job& job)
{
    // The header is one packet: the title and software ID to name the file by.
    // No probe has been made yet, and a silent chip 0's header is the
    // floating bus, so the chip is asked first.
    Link& link = job.link;
    bool answers = !link.gone() && chipZeroAnswers(link);
    const uint8_t* header = answers ? link.read_64_bytes(0, 0) : nullptr;
    std::string game;
    if (header || (!answers && !link.gone()))
        game = cartridgeGame(header, answers);
    return saveBackupName(folder, game, time(nullptr));
}
