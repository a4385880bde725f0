// The ways Flash ROM(s) streams a ROM file into the erased cartridge. Each
// returns how many of the file's bytes it got through: the job succeeds only
// when that is the whole ROM size and the user did not cancel. Any transfer
// that fails while writing ends the method at once, since from then on the
// cartridge's content is unknown whatever is written after it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/identity/digest.h"
#include "core/report.h"

// The ROM file as the write methods read it: every byte they take is hashed
// on the way, so the file's identity costs no second pass.
class RomReader {
public:
    RomReader(FILE* file, ImageHasher& hasher) : file_(file), hasher_(hasher) {}
    // Up to `length` bytes into `dest`; how many came.
    size_t read(uint8_t* dest, size_t length);
    // The next byte, or EOF.
    int next();

private:
    FILE* file_;
    ImageHasher& hasher_;
};

// Chunks of chunkSize bytes (2 to 32, or a multiple of 64) from `chunk`,
// which holds at least chunkSize bytes.
uint32_t writeChunks(RomReader& rom, uint32_t romSize, uint32_t chunkSize, uint8_t* chunk, int skip,
                     bool turbo, Reporter& r);
// One byte at a time, each read back until the chip holds it.
uint32_t writeBytesWithReadBack(RomReader& rom, uint32_t romSize, int skip, Reporter& r);
// One byte at a time in the chips' unlock-bypass mode, nothing read back.
uint32_t writeBytesTurbo(RomReader& rom, uint32_t romSize, int skip, Reporter& r);

// Sets the bar and lets the toolkit handle pending events once, which is
// where a Cancel is seen.
void showProgress(float fraction, Reporter& r);
// The bar's value once `address` of `romSize` bytes are done; it never shows
// full before the job's end.
float fractionDone(uint32_t address, uint32_t romSize);
