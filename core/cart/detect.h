// What is plugged into the linker: both chip positions probed through the
// chips' identify mode. checkCart is the only writer of these globals.
#pragma once

class Reporter;

#include <cstdint>

#include "core/cart/geometry.h"

class Link;

extern uint8_t G_manufID[2];
extern uint8_t G_deviceID[2];
extern uint8_t G_factoryProt[2];
extern uint8_t G_chipSize[2];
extern uint32_t G_bootBlockStartAddr[2];
extern uint8_t G_bootBlockStartNum[2];
extern uint8_t G_prot[BLOCK_SLOTS];
extern char G_cartRomName[13];

constexpr uint32_t ROM_NAME_ADDR = 0x24;
constexpr int ROM_NAME_LEN = 12;

// sizeOut (never null) gets the cartridge size in megabits, untouched when no
// chip answers. The other outputs may be null; given ones are logged. Once
// the linker is gone the probe stops where it is: bytes that never came are
// no cartridge, and nothing more is logged about one. True when no transfer
// failed on the way.
bool checkCart(Reporter& r, Link& link, uint8_t* sizeOut, uint8_t* manufOut, uint8_t* deviceOut, uint8_t* factoryProtOut,
               bool scanProtection, bool listProtection);

// Whether any real block of the chip reads protected in G_prot, as the last
// probe with the protection scan left it. An absent chip has none.
bool chipHasProtectedBlocks(uint8_t chip);

// checkCart, trusted only when no transfer failed on the way: one failed read
// makes an 8 Mbit chip look like 16, and a failed protection read looks
// unprotected. Otherwise logs "Cart check failed; <outcome>." and returns
// false, so that no job goes ahead on a guess.
bool checkCartCleanly(Reporter& r, Link& link, uint8_t* sizeOut, bool scanProtection, bool listProtection,
                      const char* outcome);

// True, after "Chip 0 did not answer; <outcome>.", when the last probe found
// a cartridge whose chip 0 did not answer: its header, and every address
// below chip 1, read from a floating bus, so no job may take them for the
// cartridge's own.
bool refusedAsChipZeroSilent(Reporter& r, const char* outcome);

// Whether chip 0 answers its identify command, asked without a line logged
// and without touching the globals: for a name offered before a job probes.
bool chipZeroAnswers(Link& link);
