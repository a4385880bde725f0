// The preservation groups' lists of verified dumps (Logiqx XML "DAT" files),
// read from one folder the user fills; the program ships none.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/identity/digest.h"

// A list bigger than this is no cartridge list; a folder with more lists than
// this is not read further. Either way the job goes on.
constexpr uint64_t MAX_LIST_BYTES = 32u << 20;
constexpr size_t MAX_LISTS = 64;

struct DumpEntry {
    std::string game;
    size_t list = 0;  // index into KnownDumps::lists
    uint64_t size = 0;
    uint32_t crc32 = 0;
    bool hasSha1 = false;
    std::array<uint8_t, 20> sha1{};
};

struct KnownDumps {
    std::string dir;
    std::vector<std::string> lists;  // names of the lists read
    std::vector<DumpEntry> entries;
    std::vector<std::string> notes;  // one log line per list left out or limit met

    // Equal size and CRC32 and, where the list gives one, SHA-1.
    const DumpEntry* find(const MatchKey& key) const;
};

// $PTB_DAT_DIR, else $XDG_DATA_HOME/pockettetherbox/dat, else
// ~/.local/share/pockettetherbox/dat.
std::string knownDumpDir();

// Every *.dat in `dir`, in name order. Never fails: what cannot be read is
// left out with a note.
KnownDumps loadKnownDumps(const std::string& dir);
