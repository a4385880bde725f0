#include <algorithm>
#include <cstring>

#include "core/cart/flash_commands.h"
#include "core/cart/blocks.h"
#include "core/flash/progress.h"
#include "core/flash/write.h"
#include "core/link/transfer.h"

// How many bytes the chunk size's transfer moves at a time.
static uint32_t transferUnit(uint32_t chunkSize)
{
    if (chunkSize % 64 == 0)
        return 64;  // whole data packets
    return chunkSize == 32 ? 32 : 1;
}

// A piece lies on one chip; the chunk size picks the transfer.
static bool sendPiece(Link& link, uint32_t address, const uint8_t* data, uint32_t length, uint32_t chunkSize,
                      bool turbo)
{
    uint8_t chip = chipOf(address);
    uint32_t chipAddr = address & CHIP_ADDR_MASK;
    if (chunkSize % 64 == 0)
        return link.flash_write_64xN_bytes(chipAddr, data, chip, uint8_t(length / 64), turbo);
    if (chunkSize == 32)
        return link.flash_write_32_bytes(chipAddr, data, chip, turbo);
    return link.flash_write_N_bytes(chipAddr, data, chip, uint8_t(length), turbo);
}

// A chunk size that does not divide a chip's window leaves one chunk across
// the end of chip 0: it is cut there, so each byte reaches its own chip at
// its own chip address (64 x N chunks start on packet boundaries, so both
// pieces stay whole packets). It is cut likewise where the addresses to
// program begin or end, at block boundaries, which are whole packets too.
// The file's last chunk goes out only as far as the file does, rounded up to
// the transfer's unit with erased bytes: nothing past the file's end is
// programmed, and nothing is sent past the end of a chip, where the address
// would wrap onto bytes already written. False if a transfer failed.
static bool sendChunk(Link& link, uint32_t address, const uint8_t* chunk, uint32_t chunkSize,
                      uint32_t fileBytes, int skip, bool turbo, const AddressRanges* only)
{
    bool clean = true;
    uint32_t unit = transferUnit(chunkSize);
    uint32_t end = std::min(chunkSize, (fileBytes + unit - 1) / unit * unit);
    for (uint32_t offset = 0; offset < end;) {
        uint32_t at = address + offset;
        uint32_t pieceEnd = end;
        if (at < CHIP_WINDOW)
            pieceEnd = std::min(pieceEnd, CHIP_WINDOW - address);
        if (only)
            pieceEnd = uint32_t(std::min<uint64_t>(pieceEnd, uint64_t(only->runEnd(at)) - address));
        if (chipOf(at) != skip && (!only || only->contains(at)))
            clean = sendPiece(link, at, chunk + offset, pieceEnd - offset, chunkSize, turbo) && clean;
        offset = pieceEnd;
    }
    return clean;
}

uint32_t writeChunks(Link& link, FILE* rom, uint32_t romSize, uint32_t chunkSize, uint8_t* chunk, int skip,
                     bool turbo, const AddressRanges* only, const PastRom& past, Reporter& r)
{
    uint32_t written = 0;
    if (romSize == 0 || !r.goingOn())
        return written;
    float progress = 0.0f;
    for (uint32_t address = 0;;) {
        // Never past the ROM size: a file larger than the flash stops at its end.
        size_t n = fread(chunk, 1, std::min(chunkSize, romSize - address), rom);
        memset(chunk + n, ERASED_BYTE, chunkSize - n);
        if (n < chunkSize && past.bytes)
            memcpy(chunk + n, past.bytes, std::min<size_t>(chunkSize - n, past.length));
        // A chunk the cartridge already holds whole moves nothing: there is
        // nothing to let through before it.
        bool alreadyRight = only && !only->contains(address) && only->runEnd(address) - address >= chunkSize;
        if (!alreadyRight)
            showProgress(progress, r);
        if (!alreadyRight && !sendChunk(link, address, chunk, chunkSize, uint32_t(n), skip, turbo, only))
            break;
        written += uint32_t(n);  // a skipped chip's chunks count too
        if (n < chunkSize)
            break;
        address += chunkSize;
        progress = fractionDone(address, romSize, only);
        if (address >= romSize || !r.goingOn())
            break;
    }
    return written;
}
