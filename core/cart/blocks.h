// The cartridge's erase blocks, each chip laid out by its own size, and the
// cartridge addresses a job that works block by block is to touch.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "core/cart/geometry.h"

// An erase block by its cartridge addresses (chip 1's from 0x200000 on).
struct CartBlock {
    uint8_t chip;
    uint8_t number;  // as the per-block tables number them: 0 to 34
    uint32_t start;  // cartridge address of its first byte
    uint32_t size;
    uint32_t end() const { return start + size; }
    uint32_t chipAddr() const { return start & CHIP_ADDR_MASK; }
    int slot() const { return chip * BLOCKS_PER_CHIP + number; }  // in G_prot and its kin
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
    // As the last probe found them (detect.cpp).
    static CartLayout detected();

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

// The blocks that hold any of cartridge addresses 0 to romSize - 1 on the
// detected cartridge, in address order, the skipped chip's (0 or 1; -1 for
// none) left out.
inline std::vector<CartBlock> blocksCovering(uint32_t romSize, int skip)
{
    std::vector<CartBlock> blocks;
    for (const CartBlock& b : CartLayout::detected().blocksIn(0, romSize))
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
