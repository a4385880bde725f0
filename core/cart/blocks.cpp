#include "core/cart/blocks.h"

#include <algorithm>

static bool knownSize(uint8_t megabits)
{
    return megabits == 4 || megabits == 8 || megabits == 16;
}

CartLayout::CartLayout(uint8_t chip0Megabits, uint8_t chip1Megabits)
{
    const uint8_t sizes[2] = {chip0Megabits, chip1Megabits};
    for (uint8_t chip = 0; chip < 2; chip++) {
        if (!knownSize(sizes[chip]))
            continue;
        uint32_t base = chip ? CHIP_WINDOW : 0;
        uint32_t bootStart = sizes[chip] * MEGABIT - MAIN_BLOCK_SIZE;
        uint8_t n = 0;
        for (uint32_t a = 0; a < bootStart; a += MAIN_BLOCK_SIZE)
            blocks_[chip].push_back({chip, n++, base + a, MAIN_BLOCK_SIZE});
        for (int k = 0; k < BOOT_REGION_BLOCKS; k++)
            blocks_[chip].push_back(
                {chip, n++, base + bootStart + BOOT_BLOCK_OFFSETS[k], BOOT_BLOCK_SIZES[k]});
    }
}

uint32_t CartLayout::chipBytes(uint8_t chip) const
{
    const std::vector<CartBlock>& b = blocksOf(chip);
    return b.empty() ? 0 : b.back().end() - b.front().start;
}

bool CartLayout::blockAt(uint32_t cartAddr, CartBlock* out) const
{
    const std::vector<CartBlock>& blocks = blocksOf(chipOf(cartAddr));
    // The first block that ends past the address.
    auto b = std::upper_bound(blocks.begin(), blocks.end(), cartAddr,
                              [](uint32_t a, const CartBlock& block) { return a < block.end(); });
    if (b == blocks.end() || b->start > cartAddr)
        return false;
    *out = *b;
    return true;
}

std::vector<CartBlock> CartLayout::blocksIn(uint32_t start, uint32_t end) const
{
    std::vector<CartBlock> found;
    for (uint8_t chip = 0; chip < 2; chip++)
        for (const CartBlock& b : blocksOf(chip))
            if (b.start < end && b.end() > start)
                found.push_back(b);
    return found;
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
