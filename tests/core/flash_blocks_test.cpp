// The blocks a ROM lies in, from the cartridge's layout, and the address
// ranges the writers cut their chunks at.
#include "core/cart/blocks.h"
#include "core/cart/detect.h"
#include "support/core_job.h"

namespace {

TEST(FlashBlocks, TheBlocksARomLiesInAndTheRunsOfAddresses)
{
    const CartLayout two16(16, 16);
    const struct { uint32_t romSize; int skip; size_t count; uint32_t lastStart, lastSize; } cases[] = {
        {0x80000, -1, 8, 0x70000, 0x10000}, {0x80001, -1, 9, 0x80000, 0x10000},  // one byte in takes a block
        {0x1FA001, -1, 34, 0x1FA000, 0x2000},                                    // the boot region's 8 KB blocks
        {0x400000, -1, 70, 0x3FC000, 0x4000}, {0x200001, 0, 1, 0x200000, 0x10000},  // chip 1 from 0x200000
        {0x400000, 1, 35, 0x1FC000, 0x4000},  {0, -1, 0, 0, 0}};
    for (const auto& c : cases) {
        std::vector<CartBlock> b = blocksCovering(two16, c.romSize, c.skip);
        ASSERT_EQ(b.size(), c.count) << std::hex << c.romSize;
        if (c.count > 0) {
            EXPECT_EQ(std::make_tuple(b.back().start, b.back().size), std::make_tuple(c.lastStart, c.lastSize));
        }
    }
    EXPECT_EQ(blocksCovering(two16, 0x400000, -1)[35].number, 0) << "chip 1 numbers its blocks from 0";
    EXPECT_TRUE(blocksCovering(CartLayout(0, 0), 0x100000, -1).empty()) << "no chip detected, no blocks";

    // Chip 0's top block and chip 1's first join across the chips' boundary,
    // given out of order.
    auto all = blocksCovering(two16, 0x400000, -1);
    AddressRanges r({all[36], all[2], all[35], all[34]});
    EXPECT_EQ(r.spans(), (std::vector<AddressRanges::Span>{{0x20000, 0x30000}, {0x1FC000, 0x220000}}));
    EXPECT_EQ(r.bytesBelow(0x200100), 0x10000u + 0x4100u);
    const struct { uint32_t at; bool in; uint32_t end; } probes[] = {
        {0x1FFFF, false, 0x20000}, {0x20000, true, 0x30000}, {0x2FFFF, true, 0x30000},
        {0x30000, false, 0x1FC000}, {0x1FFFFF, true, 0x220000}, {0x220000, false, UINT32_MAX}};
    for (const auto& p : probes)
        EXPECT_EQ(std::make_pair(r.contains(p.at), r.runEnd(p.at)), std::make_pair(p.in, p.end)) << std::hex << p.at;
}

}  // namespace
