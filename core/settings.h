// The settings a writing job runs with, handed to it as a plain value. The
// window keeps its own until the program ends; the command line builds one
// from its options.
#pragma once

class Reporter;

#include <cstdint>

constexpr uint8_t TURBO_OFF = 0;
constexpr uint8_t TURBO_ON = 1;
constexpr uint8_t TURBO_AUTO = 0xFF;

// What Flash ROM(s) erases before writing.
enum class EraseScope {
    WholeChips,     // every chip the ROM reaches, erased whole
    RomBlocks,      // only the erase blocks the ROM covers; the rest keep their bytes
    ChangedBlocks,  // only the ROM's blocks whose bytes differ from the file, found by reading first
};

struct WriteSettings {
    uint8_t turboMode = TURBO_AUTO;  // Turbo Mode
    int writeN = 512;                // chunk size of Flash ROM(s)
    int skipChip = -1;               // -1: none, 0 or 1: that chip is not written
    EraseScope eraseScope = EraseScope::WholeChips;
    bool verifyAfterWrite = false;   // read the written bytes back and compare them with the file
    // A file larger than the cartridge is refused before anything is erased,
    // rather than cut to the cartridge's size.
    bool refuseOversized = false;
};

// Whether a cartridge whose chip 0 reports this factory byte is a Cindercart.
bool isCindercart(uint8_t factoryProt);
// The per-job turbo decision, with its log lines.
bool decideTurbo(Reporter& r, uint8_t turboMode, uint8_t factoryProt);
