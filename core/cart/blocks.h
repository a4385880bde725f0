// The erase blocks a ROM image lies in, and the cartridge addresses a job
// that works block by block is to touch.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

// An erase block by its cartridge addresses (chip 1's from 0x200000 on).
struct CartBlock {
    uint8_t chip;
    uint8_t number;  // as the per-block tables number them: 0 to 34
    uint32_t start;  // cartridge address of its first byte
    uint32_t size;
    uint32_t end() const { return start + size; }
};

// Blocks of each chip for chip 0's detected size; 0 when none was detected.
int blocksPerChip();

// The blocks that hold any of cartridge addresses 0 to romSize - 1, in
// address order, the skipped chip's (0 or 1; -1 for none) left out.
std::vector<CartBlock> blocksCovering(uint32_t romSize, int skip);

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
