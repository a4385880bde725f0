#include <algorithm>
#include <cstring>

#include "cart/geometry.h"
#include "link/transfer.h"
#include "ops/flash_write.h"
#include "ui/progress.h"

// What an erased cell reads: programming it leaves the cell as it is, so the
// part of a last chunk past the file's end changes nothing.
static const uint8_t ERASED_BYTE = 0xFF;

// A piece lies on one chip; the chunk size picks the transfer.
static void sendPiece(uint32_t address, const uint8_t* data, uint32_t length, uint32_t chunkSize,
                      bool turbo)
{
    uint8_t chip = chipOf(address);
    uint32_t chipAddr = address & CHIP_ADDR_MASK;
    if (chunkSize % 64 == 0)
        flash_write_64xN_bytes(chipAddr, data, chip, uint8_t(length / 64), turbo);
    else if (chunkSize == 32)
        flash_write_32_bytes(chipAddr, data, chip, turbo);
    else
        flash_write_N_bytes(chipAddr, data, chip, uint8_t(length), turbo);
}

// A chunk size that does not divide a chip's window leaves one chunk across
// the end of chip 0: it is cut there, so each byte reaches its own chip at
// its own chip address. Cutting at the window keeps 64 x N pieces whole
// packets, as chunks of those sizes start on 64-byte boundaries. A piece
// holding none of the file's bytes is not sent. False if a transfer failed.
static bool sendChunk(uint32_t address, const uint8_t* chunk, uint32_t chunkSize,
                      uint32_t fileBytes, int skip, bool turbo)
{
    unsigned long failures = transfer_failures();
    uint32_t firstPiece = chunkSize;
    if (address < CHIP_WINDOW && address + chunkSize > CHIP_WINDOW)
        firstPiece = CHIP_WINDOW - address;
    for (uint32_t offset = 0; offset < chunkSize;) {
        uint32_t length = offset == 0 ? firstPiece : chunkSize - offset;
        if (offset < fileBytes && chipOf(address + offset) != skip)
            sendPiece(address + offset, chunk + offset, length, chunkSize, turbo);
        offset += length;
    }
    return transfer_failures() == failures;
}

uint32_t writeChunks(FILE* rom, uint32_t romSize, uint32_t chunkSize, uint8_t* chunk, int skip,
                     bool turbo)
{
    uint32_t written = 0;
    if (romSize == 0 || !progressShown())
        return written;
    float progress = 0.0f;
    for (uint32_t address = 0;;) {
        // Never past the ROM size: a file larger than the flash stops at its end.
        size_t n = fread(chunk, 1, std::min(chunkSize, romSize - address), rom);
        memset(chunk + n, ERASED_BYTE, chunkSize - n);
        showProgress(progress);
        if (!sendChunk(address, chunk, chunkSize, uint32_t(n), skip, turbo))
            break;
        written += uint32_t(n);  // a skipped chip's chunks count too
        if (n < chunkSize)
            break;
        address += chunkSize;
        progress = fractionDone(address, romSize);
        if (address >= romSize || !progressShown())
            break;
    }
    return written;
}
