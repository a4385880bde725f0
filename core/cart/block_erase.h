// Erasing one erase block with the chips' block-erase command, and waiting
// for it with a bound: a block that never erases must not hang the program.
#pragma once

#include <cstdint>

#include "core/report.h"

class Link;

// A block erase takes well under a second, and no datasheet of these chips
// allows more than a few; past this the block will not erase at all.
constexpr double BLOCK_ERASE_LIMIT_S = 20.0;
// A status read takes a quarter of a millisecond and an erase from most of a
// second to tens of seconds: a wait lets the face breathe this often, not
// after every read, which would cost more than the reading itself.
constexpr double ERASE_BREATHE_EVERY_S = 0.001;

enum class BlockEraseResult {
    Erased,
    NotErased,   // the chip stopped answering with its busy status, or never did
    TimedOut,    // still busy at the limit
    LinkFailed,  // a transfer failed; the transfer layer has said why
};

// Sends the block-erase command for the block holding chipAddr.
bool sendBlockErase(Link& link, uint32_t chipAddr, uint8_t chip);

// Erases the block that holds chipAddr and reads chipAddr until it says how
// that went, letting the face breathe between reads. Cancel is not consulted:
// the chip finishes a block once it has begun.
BlockEraseResult eraseBlock(Link& link, uint32_t chipAddr, uint8_t chip, double limitSeconds, Reporter& r);
