// How a loaded save-game goes into the cartridge without losing a byte.
// Flash is erased a whole erase block at a time, while records cover any
// range: emulators write only the bytes the game wrote, so a record may hold
// part of a block or run on into the next one. Every erase block the records
// touch is therefore read, has the records' bytes laid over it, is erased
// once and programmed whole, then read back and compared.
#pragma once

class Reporter;

#include <cstdint>
#include <vector>

#include "core/cart/blocks.h"
#include "core/saves/ngf_load.h"

// Part of one record that lands in one erase block.
struct Piece {
    uint32_t offset;  // in the block
    size_t dataAt;    // in the loaded file's body
    uint32_t length;
};

struct BlockStep {
    CartBlock block;
    // Bytes of the block that no record covers keep what the cartridge holds,
    // so the block must be read before it is erased.
    bool readFirst;
    std::vector<Piece> pieces;  // in file order: where records overlap, the later one wins
};

struct SavePlan {
    std::vector<BlockStep> steps;  // chip 0's blocks first, each chip's in address order
    uint32_t total = 0;            // the records' bytes
};

// Checks every record against the chips detected (megabits per chip, 0 for
// none) before anything is erased: an address outside both console windows,
// a record with no bytes, a record on a chip that is not there or running
// past its end are each refused with a line in the log. Then lays the plan.
bool planSaveWrite(Reporter& r, const LoadedSave& save, const uint8_t chipMegabits[2], SavePlan* plan);

// The block as it will be programmed: `current` (the block's bytes as read;
// may be null when !step.readFirst) with the records' bytes laid over it.
// `out` holds step.block.size bytes.
void mergeBlock(const BlockStep& step, const uint8_t* body, const uint8_t* current, uint8_t* out);
