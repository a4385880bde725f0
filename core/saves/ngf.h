// NGF save-game files: a file header, then block records, each a block of
// cartridge bytes stored with the address the console sees it at. Every field
// is little-endian whatever the host. Files are loaded by ngf_load.h.
#pragma once

class Reporter;

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/cart/blocks.h"

constexpr uint16_t NGF_VERSION = 0x0053;
constexpr uint32_t NGF_HEADER_LEN = 8;
constexpr uint32_t NGF_BLOCK_HEADER_LEN = 8;
constexpr int NGF_MAX_WRITE_BLOCKS = BLOCK_SLOTS;    // what the writer may produce
constexpr uint32_t NGF_UNIT = 32;                    // Write Savegame programs in units of this

// Where the console sees each chip.
constexpr uint32_t CONSOLE_CHIP0_BASE = 0x200000;
constexpr uint32_t CONSOLE_CHIP1_BASE = 0x800000;
constexpr uint32_t CONSOLE_CHIP_SPAN = 0x200000;

struct NgfHeader {
    uint16_t version;
    uint16_t numBlocks;
    uint32_t len;  // the whole file, this header included
};

struct NgfBlockHeader {
    uint32_t NGPCaddr;
    uint32_t blockLen;
};

void putNgfHeader(uint8_t out[NGF_HEADER_LEN], const NgfHeader& h);
NgfHeader getNgfHeader(const uint8_t in[NGF_HEADER_LEN]);
void putNgfBlockHeader(uint8_t out[NGF_BLOCK_HEADER_LEN], const NgfBlockHeader& b);
NgfBlockHeader getNgfBlockHeader(const uint8_t in[NGF_BLOCK_HEADER_LEN]);

// Cartridge address (chip 1 from 0x200000) to console address and back. The
// way back fails for an address outside both console windows.
uint32_t consoleAddrFromCart(uint32_t cartAddr);
bool cartAddrFromConsole(uint32_t NGPCaddr, uint32_t* cartAddr);
// Whether the record's bytes all lie in the console window of its first byte.
bool recordFitsItsChip(const NgfBlockHeader& b);

// Writer: one record per unprotected erase block of the scanned cartridge,
// chip 0's in ascending block order, then chip 1's when it has a chip 1.
// Returns the count; out needs room for NGF_MAX_WRITE_BLOCKS.
struct Cart;
int ngfRecordList(const Cart& cart, NgfBlockHeader* out);
// The header's len for these records: headers and data together.
uint32_t ngfFileLen(const NgfBlockHeader* records, int count);
// A whole file in memory: a record for each block, holding its bytes (one
// vector a block, of its size) at the console address of its start.
std::vector<uint8_t> ngfOfBlocks(const std::vector<CartBlock>& blocks, const std::vector<std::vector<uint8_t>>& bytes);

// The loader's first checks (core/saves/ngf_load.h reads the records); each
// logs its refusal and returns false. path is only used in the messages.
// Checks the first `got` bytes of the file (at most NGF_HEADER_LEN are looked
// at): complete header, version, and a len that covers the header itself.
bool ngfCheckHeader(Reporter& r, const uint8_t* bytes, size_t got, const char* path, NgfHeader* h);
// After the records were read: `got` bytes of the len - 8 wanted arrived, and
// there are no more than `maxRecords` records.
bool ngfCheckBody(Reporter& r, const NgfHeader& h, size_t got, int maxRecords);
