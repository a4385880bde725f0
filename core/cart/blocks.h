// The cartridge's erase blocks, each chip laid out by its own size, and the
// cartridge addresses a job that works block by block is to touch.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

constexpr uint32_t MEGABIT = 0x20000;
constexpr uint32_t CHIP_WINDOW = 0x200000;  // cartridge address where chip 1 starts
constexpr uint32_t CHIP_ADDR_MASK = 0x1FFFFF;
constexpr int BLOCKS_PER_CHIP = 35;  // slots per chip in per-block tables
constexpr int BLOCK_SLOTS = 2 * BLOCKS_PER_CHIP;
constexpr uint32_t MAIN_BLOCK_SIZE = 0x10000;
// The boot region at a chip's top: its blocks' offsets from the region's
// start (the chip's last 64 KB) and their sizes.
constexpr int BOOT_REGION_BLOCKS = 4;
constexpr uint32_t BOOT_BLOCK_OFFSETS[BOOT_REGION_BLOCKS] = {0, 0x8000, 0xA000, 0xC000};
constexpr uint32_t BOOT_BLOCK_SIZES[BOOT_REGION_BLOCKS] = {0x8000, 0x2000, 0x2000, 0x4000};

inline uint8_t chipOf(uint32_t cartAddr) { return cartAddr > CHIP_ADDR_MASK ? 1 : 0; }

// An erase block by its cartridge addresses (chip 1's from 0x200000 on).
struct CartBlock {
    uint8_t chip;
    uint8_t number;  // as the per-block tables number them: 0 to 34
    uint32_t start;  // cartridge address of its first byte
    uint32_t size;
    uint32_t end() const { return start + size; }
    uint32_t chipAddr() const { return start & CHIP_ADDR_MASK; }
    int slot() const { return chip * BLOCKS_PER_CHIP + number; }  // in per-block tables
};

// Each chip's erase blocks by that chip's own size: 64 KB main blocks from
// its first byte, then 32, 8, 8 and 16 KB at its top. A 4 Mbit chip has 11
// blocks, an 8 Mbit one 19, a 16 Mbit one 35. Chip 1 is sized apart from
// chip 0, so a cartridge of two sizes, or one whose chip 0 is silent, gets
// chip 1's blocks where they really are.
class CartLayout {
public:
    // Chip sizes in megabits: 4, 8 or 16; any other value is no chip.
    CartLayout(uint8_t chip0Megabits, uint8_t chip1Megabits);

    uint32_t chipBytes(uint8_t chip) const;
    // In address order; none for an absent chip.
    const std::vector<CartBlock>& blocksOf(uint8_t chip) const { return blocks_[chip ? 1 : 0]; }
    // The block holding a cartridge address; false when no chip holds it (an
    // absent chip, or past the end of a chip smaller than its window).
    bool blockAt(uint32_t cartAddr, CartBlock* out) const;
    // Every block holding any of cartridge addresses [start, end), in
    // address order.
    std::vector<CartBlock> blocksIn(uint32_t start, uint32_t end) const;

private:
    std::vector<CartBlock> blocks_[2];
};

// The blocks that hold any of cartridge addresses 0 to romSize - 1, in
// address order, the skipped chip's (0 or 1; -1 for none) left out.
inline std::vector<CartBlock> blocksCovering(const CartLayout& layout, uint32_t romSize, int skip)
{
    std::vector<CartBlock> blocks;
    for (const CartBlock& b : layout.blocksIn(0, romSize))
        if (b.chip != skip)
            blocks.push_back(b);
    return blocks;
}

// Cartridge addresses as sorted, disjoint [start, end) spans.
class AddressRanges {
public:
    using Span = std::pair<uint32_t, uint32_t>;

    AddressRanges() = default;
    // The blocks' bytes; neighbouring blocks make one span.
    explicit AddressRanges(const std::vector<CartBlock>& blocks);
    // One span; none when it is empty.
    AddressRanges(uint32_t start, uint32_t end);

    bool contains(uint32_t address) const;
    // Where the run of addresses that `address` belongs to ends: inside the
    // ranges, the end of its span; outside, the start of the next span
    // (UINT32_MAX past the last one).
    uint32_t runEnd(uint32_t address) const;
    // How many of its addresses lie below `limit`.
    uint64_t bytesBelow(uint32_t limit) const;
    const std::vector<Span>& spans() const { return spans_; }

private:
    std::vector<Span> spans_;
};
