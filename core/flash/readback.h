// Flash ROM(s) reading the cartridge back: before writing, to find the
// blocks that already hold the file's bytes, and after writing, to check
// that the written bytes took.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/cart/blocks.h"
#include "core/report.h"

class Link;

// Bytes that differ between what should be and what is.
struct Differences {
    uint32_t count = 0;
    uint32_t first = 0;  // cartridge address of the first, when count > 0
};

// Adds the differences of `length` bytes at cartridge address `at`.
void addDifferences(const uint8_t* want, const uint8_t* got, uint32_t length, uint32_t at,
                    Differences* d);

enum class ReadBackResult {
    Done,
    Cancelled,
    Failed,  // the file or the cartridge could not be read; the reason is logged
};

// For each block, whether the cartridge's bytes differ from the file's
// within the ROM's first romSize bytes. Reads at backup speed; a block's
// reading stops at its first difference.
ReadBackResult findChangedBlocks(Link& link, FILE* rom, uint32_t romSize, const std::vector<CartBlock>& blocks,
                                 std::vector<bool>* changed, Reporter& r);

// Compares the file with the cartridge over the ranges, as far as romSize.
ReadBackResult compareWithCart(Link& link, FILE* rom, uint32_t romSize, const AddressRanges& ranges,
                               Differences* d, Reporter& r);
