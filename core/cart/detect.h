// What is plugged into the linker: both chip positions probed through the
// chips' identify mode.
#pragma once

class Reporter;

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "core/cart/blocks.h"

class Link;

constexpr uint32_t ROM_NAME_ADDR = 0x24;
constexpr int ROM_NAME_LEN = 12;

// The cartridge as one probe found it. A job probes it itself and passes it
// on: nothing of an earlier probe, or of another job's, is ever taken for it.
struct Cart {
    // Per chip position. A size of 0 megabits: no chip answered there.
    uint8_t manufID[2] = {};
    uint8_t deviceID[2] = {};
    uint8_t factoryProt[2] = {};
    uint8_t chipSize[2] = {};
    // Per block slot (CartBlock::slot), nonzero when protected. A slot no
    // scan read, or no real block fills, counts as protected.
    uint8_t prot[BLOCK_SLOTS];
    char cartRomName[ROM_NAME_LEN + 1] = {};

    Cart() { std::fill(std::begin(prot), std::end(prot), 1); }
    uint8_t megabits() const { return uint8_t(chipSize[0] + chipSize[1]); }
    CartLayout layout() const { return CartLayout(chipSize[0], chipSize[1]); }
    bool isProtected(const CartBlock& b) const { return prot[b.slot()] != 0; }
    // Whether any real block of the chip reads protected. An absent chip has
    // none.
    bool chipHasProtectedBlocks(uint8_t chip) const;
    // Chip 1 answered and chip 0 did not: its header, and every address
    // below chip 1, read from a floating bus.
    bool chipZeroSilent() const { return chipSize[0] == 0 && chipSize[1] != 0; }
};

// Fills `cart` afresh. The outputs may be null; given ones are logged, and
// get chip 1's bytes when both chips answer. Once
// the linker is gone the probe stops where it is: bytes that never came are
// no cartridge, and nothing more is logged about one. True when no transfer
// failed on the way.
bool checkCart(Reporter& r, Link& link, Cart* cart, uint8_t* manufOut, uint8_t* deviceOut, uint8_t* factoryProtOut,
               bool scanProtection, bool listProtection);

// checkCart, trusted only when no transfer failed on the way: one failed read
// makes an 8 Mbit chip look like 16, and a failed protection read looks
// unprotected. Otherwise logs "Cart check failed; <outcome>." and returns
// false, so that no job goes ahead on a guess.
bool checkCartCleanly(Reporter& r, Link& link, Cart* cart, bool scanProtection, bool listProtection,
                      const char* outcome);

// True, after "Chip 0 did not answer; <outcome>.", when the cartridge's
// chip 0 is silent: no job may take what it reads there for the
// cartridge's own.
bool refusedAsChipZeroSilent(Reporter& r, const Cart& cart, const char* outcome);

// Whether chip 0 answers its identify command, asked without a line logged
// and without a Cart: for a name offered before a job probes.
bool chipZeroAnswers(Link& link);
