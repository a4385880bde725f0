#include "core/cart/blocks.h"

#include <algorithm>

#include "core/cart/geometry.h"

// The boot region's four blocks follow the main ones.
static const int BOOT_REGION_BLOCKS = 4;

int blocksPerChip()
{
    uint8_t boot = getBootBlockStart();
    return boot == 0 ? 0 : boot + BOOT_REGION_BLOCKS;
}

std::vector<CartBlock> blocksCovering(uint32_t romSize, int skip)
{
    std::vector<CartBlock> blocks;
    for (uint8_t chip = 0; chip < 2; chip++) {
        if (chip == skip)
            continue;
        for (int b = 0; b < blocksPerChip(); b++) {
            uint32_t start = blockNumToAddr(chip, uint8_t(b));
            if (start >= romSize)
                break;
            blocks.push_back({chip, uint8_t(b), start, uint32_t(blockSize(uint8_t(b)))});
        }
    }
    return blocks;
}

AddressRanges::AddressRanges(const std::vector<CartBlock>& blocks)
{
    std::vector<Span> sorted;
    for (const CartBlock& b : blocks)
        sorted.push_back({b.start, b.end()});
    std::sort(sorted.begin(), sorted.end());
    for (const Span& s : sorted) {
        if (!spans_.empty() && spans_.back().second >= s.first)
            spans_.back().second = std::max(spans_.back().second, s.second);
        else
            spans_.push_back(s);
    }
}

AddressRanges::AddressRanges(uint32_t start, uint32_t end)
{
    if (start < end)
        spans_.push_back({start, end});
}

// The first span that ends past `address`.
static std::vector<AddressRanges::Span>::const_iterator spanAtOrAfter(
    const std::vector<AddressRanges::Span>& spans, uint32_t address)
{
    return std::upper_bound(spans.begin(), spans.end(), address,
                            [](uint32_t a, const AddressRanges::Span& s) { return a < s.second; });
}

bool AddressRanges::contains(uint32_t address) const
{
    auto s = spanAtOrAfter(spans_, address);
    return s != spans_.end() && s->first <= address;
}

uint32_t AddressRanges::runEnd(uint32_t address) const
{
    auto s = spanAtOrAfter(spans_, address);
    if (s == spans_.end())
        return UINT32_MAX;
    return s->first <= address ? s->second : s->first;
}

uint64_t AddressRanges::bytesBelow(uint32_t limit) const
{
    uint64_t total = 0;
    for (const Span& s : spans_)
        total += s.first < limit ? std::min(s.second, limit) - s.first : 0;
    return total;
}
