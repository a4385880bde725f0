// The ways Flash ROM(s) streams a ROM file into the erased cartridge. Each
// returns how many of the file's bytes it got through: the job succeeds only
// when that is the whole ROM size and the user did not cancel. Any transfer
// that fails while writing ends the method at once, since from then on the
// cartridge's content is unknown whatever is written after it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/cart/blocks.h"
#include "core/report.h"

class Link;

// How a Flash ROM(s) that stopped with the cartridge part-written ends.
constexpr const char* FLASH_ABORTED = "Flashing aborted. Cart status unknown.";

//
// `only`, when given, holds the cartridge addresses to program; the written
// chip's bytes outside it already hold the file's bytes and are passed over,
// counted as written. A skipped chip's bytes are handled as without it.

// What the cartridge is to hold just past the ROM's end: the bytes a block
// the ROM ends inside kept there, put back before the ROM is written. The
// file's last chunk goes out in whole packets, and a cell programmed again
// must be given the value it holds.
struct PastRom {
    const uint8_t* bytes = nullptr;  // none: erased
    uint32_t length = 0;
};

// Chunks of chunkSize bytes (2 to 32, or a multiple of 64) from `chunk`,
// which holds at least chunkSize bytes.
uint32_t writeChunks(Link& link, FILE* rom, uint32_t romSize, uint32_t chunkSize, uint8_t* chunk, int skip,
                     bool turbo, const AddressRanges* only, const PastRom& past, Reporter& r);
// One byte at a time, each read back until the chip holds it.
uint32_t writeBytesWithReadBack(Link& link, FILE* rom, uint32_t romSize, int skip, const AddressRanges* only,
                                Reporter& r);
// One byte at a time in the chips' unlock-bypass mode, nothing read back.
uint32_t writeBytesTurbo(Link& link, FILE* rom, uint32_t romSize, int skip, const AddressRanges* only,
                         Reporter& r);
