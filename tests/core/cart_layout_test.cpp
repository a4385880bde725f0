// Each chip laid out by its own size: where the blocks of a cartridge whose
// chips differ lie, and the save jobs that depend on it.
#include <regex>

#include "core/cart/blocks.h"
#include "core/cart/detect.h"
#include "core/jobs/jobs.h"
#include "support/saves.h"
#include "support/sim_job.h"

namespace {

using Block = std::tuple<int, int, uint32_t, uint32_t>;  // chip, number, start, size
const Block NONE{-1, -1, 0, 0};

Block at(const CartLayout& layout, uint32_t addr)
{
    CartBlock b;
    return layout.blockAt(addr, &b) ? Block(b.chip, b.number, b.start, b.size) : NONE;
}

TEST(CartLayout, EachChipByItsOwnSize)
{
    // Chips of one size: 64 KB blocks up to the boot region (block 7, 15 or
    // 31), then 32, 8, 8 and 16 KB; the blocks tile the chip, chip 1's from
    // 0x200000, and each block's first and last byte map back to it.
    for (uint8_t mbit : {4, 8, 16}) {
        const int boot = mbit * 2 - 1;
        CartLayout layout(mbit, mbit);
        for (uint8_t chip = 0; chip < 2; chip++) {
            const auto& blocks = layout.blocksOf(chip);
            ASSERT_EQ(int(blocks.size()), boot + 4);
            uint32_t next = chip * 0x200000;
            for (const CartBlock& b : blocks) {
                const uint32_t size = b.number < boot ? 0x10000 : std::vector<uint32_t>{0x8000, 0x2000, 0x2000, 0x4000}[b.number - boot];
                EXPECT_EQ(Block(b.chip, b.slot(), b.start, b.size), Block(chip, chip * 35 + b.number, next, size));
                EXPECT_EQ(at(layout, b.start), Block(b.chip, b.number, b.start, b.size));
                EXPECT_EQ(at(layout, b.end() - 1), Block(b.chip, b.number, b.start, b.size));
                next += size;
            }
            EXPECT_EQ(next, chip * 0x200000 + mbit * MEGABIT);
            EXPECT_EQ(layout.chipBytes(chip), mbit * MEGABIT);
        }
    }

    const struct { uint8_t chips[2]; uint32_t addr; Block block; } cases[] = {
        {{16, 8}, 0x1FFFFF, {0, 34, 0x1FC000, 0x4000}}, {{16, 8}, 0x2FA000, {1, 17, 0x2FA000, 0x2000}},
        {{16, 8}, 0x2FFFFF, {1, 18, 0x2FC000, 0x4000}}, {{16, 8}, 0x300000, NONE},  // past chip 1's end
        {{0, 8}, 0x000000, NONE},                       {{0, 8}, 0x2F7FFF, {1, 15, 0x2F0000, 0x8000}},
        {{4, 16}, 0x07C000, {0, 10, 0x07C000, 0x4000}}, {{4, 16}, 0x080000, NONE},
        {{4, 16}, 0x3F0000, {1, 31, 0x3F0000, 0x8000}}, {{8, 0}, 0x200000, NONE},
    };
    for (const auto& c : cases) {
        CartLayout layout(c.chips[0], c.chips[1]);
        EXPECT_EQ(at(layout, c.addr), c.block) << int(c.chips[0]) << "+" << int(c.chips[1]) << " Mbit at 0x" << std::hex << c.addr;
    }

    CartLayout mixed(8, 4);
    EXPECT_EQ(std::make_pair(mixed.chipBytes(0), mixed.chipBytes(1)), std::make_pair(0x100000u, 0x80000u));
    std::vector<Block> span;
    for (const CartBlock& b : mixed.blocksIn(0xF7FFF, 0x200001))
        span.push_back({b.chip, b.number, b.start, b.size});
    EXPECT_EQ(span, (std::vector<Block>{{0, 15, 0xF0000, 0x8000}, {0, 16, 0xF8000, 0x2000}, {0, 17, 0xFA000, 0x2000},
                                        {0, 18, 0xFC000, 0x4000}, {1, 0, 0x200000, 0x10000}}));
}

class TwoSizes : public CoreJobTest {};

// A backup holds each chip's save blocks where they lie; written back over
// a changed save it puts the whole cartridge back as it was.
TEST_F(TwoSizes, BackupAndRestoreOnChipsOfTheirOwnSize)
{
    sim::setEraseTimes(0.001, 0.01);
    const struct { const char* cart; std::vector<std::pair<uint32_t, uint32_t>> blocks; } cases[] = {
        {"official24", {{0x1FA000, 0x2000}, {0x2FA000, 0x2000}}},
        {"silent0", {{0x2FA000, 0x2000}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cart);
        ASSERT_TRUE(sim::insertCart(c.cart));
        const Bytes before = sim::cartImage();
        std::vector<std::pair<uint32_t, Bytes>> records, changed;
        for (auto [start, size] : c.blocks) {
            records.push_back({consoleAddrFromCart(start), chipBytes(chipOf(start), start & CHIP_ADDR_MASK, size)});
            changed.push_back({consoleAddrFromCart(start) + 0x100, pattern(0x40, start)});
        }
        RecordingReporter job;
        ASSERT_TRUE(backupSaveGame(scratch("save.ngf"), simJob(job)));
        EXPECT_EQ(readFile(scratch("save.ngf")), ngfFile(records));

        writeFile(scratch("changed.ngf"), ngfFile(changed));
        ASSERT_TRUE(writeSaveGame(scratch("changed.ngf"), simJob(job)));
        EXPECT_NE(sim::cartImage(), before);
        ASSERT_TRUE(writeSaveGame(scratch("save.ngf"), simJob(job)));
        EXPECT_EQ(sim::cartImage(), before);
    }
}

}  // namespace
