// Flash ROM(s) working block by block: the ROM's blocks erased one at a time,
// the blocks that already hold the file's bytes found and left alone, and
// the written bytes read back. Each phase has its own progress bar and says
// in the log why it stopped; each returns true when the job may go on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/cart/blocks.h"
#include "core/report.h"

// Reads the blocks back and keeps only those whose bytes differ from the
// file's; the file is left at its beginning.
bool keepChangedBlocks(FILE* rom, uint32_t romSize, std::vector<CartBlock>* blocks, Reporter& r);

// Erases the blocks in order; a block that will not erase, and Cancel, end
// the job before anything is written.
bool eraseBlocks(const std::vector<CartBlock>& blocks, Reporter& r);

// Compares the written ranges with the file and says in one line how that went.
bool verifyAfterWriting(FILE* rom, uint32_t romSize, const AddressRanges& written, Reporter& r);

// The line naming the block a program failure happened in.
void reportUnprogrammedBlock(uint32_t address);
