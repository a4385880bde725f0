// From loaded records to erase blocks: the checks that keep records off the
// wrong flash, which blocks are read, erased and programmed, and the bytes
// programmed into each.
#include "core/saves/block_plan.h"
#include "support/saves.h"

namespace {

using BlockPlanTest = SavesTest;

LoadedSave loaded(const std::vector<std::pair<uint32_t, Bytes>>& records)
{
    LoadedSave s;
    EXPECT_TRUE(loadBytes(stderrReporter(), ngfFile(records), &s));
    return s;
}

TEST_F(BlockPlanTest, EraseBlocksOfEachChipSize)
{
    using Block = std::tuple<int, uint32_t, uint32_t>;  // number, start, size
    const struct { uint8_t megabits; uint32_t addr; Block block; } cases[] = {
        {16, 0x000000, {0, 0x000000, 0x10000}}, {16, 0x1EFFFF, {30, 0x1E0000, 0x10000}},
        {16, 0x1F7FFF, {31, 0x1F0000, 0x8000}}, {16, 0x1F9FFF, {32, 0x1F8000, 0x2000}},
        {16, 0x1FA000, {33, 0x1FA000, 0x2000}}, {16, 0x1FFFFF, {34, 0x1FC000, 0x4000}},
        {8, 0x0F0000, {15, 0x0F0000, 0x8000}},  {8, 0x0FFFFF, {18, 0x0FC000, 0x4000}},
        {4, 0x07BFFF, {9, 0x07A000, 0x2000}},   {4, 0x07C000, {10, 0x07C000, 0x4000}},
    };
    for (const auto& c : cases) {
        CartBlock b;
        ASSERT_TRUE(CartLayout(16, c.megabits).blockAt(CHIP_WINDOW + c.addr, &b));
        EXPECT_EQ(Block(b.number, b.chipAddr(), b.size), c.block) << int(c.megabits) << " Mbit, 0x" << std::hex << c.addr;
        EXPECT_EQ(b.chip, 1);
    }
}

// Each is refused on its own, before any block is planned.
TEST_F(BlockPlanTest, RecordsThatMustNotReachTheCartridge)
{
    const std::string pastTheEnd = "runs past the end of the chip.";
    const struct { const char* what; uint32_t addr, len; uint8_t chips[2]; Lines lines; } cases[] = {
        {"no bytes", 0x200000, 0, {16, 0}, {"Record at 0x00200000 is empty (blockLen=0)."}},
        {"past an 8 Mbit chip, inside the console window", 0x300000, 0x2000, {8, 0},
         {"Record at 0x00300000, blockLen=0x2000,", pastTheEnd}},
        {"over a chip's last byte", 0x2FFFE0, 0x40, {8, 8}, {"Record at 0x002FFFE0, blockLen=0x40,", pastTheEnd}},
        {"on a chip 1 that is not there", 0x9FA000, 0x2000, {16, 0},
         {"Record at 0x009FA000 is on chip 1,", "and no chip 1 was detected."}},
        {"between the windows", 0x400000, 0x20, {16, 16}, {"restoreSaveGameToCart: invalid blockHeader->NGPCaddr=0x00400000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        clearLog();
        // A good record first: nothing is planned while any record is bad.
        LoadedSave s = loaded({{0x200000, pattern(32)}, {c.addr, pattern(c.len)}});
        SavePlan plan;
        EXPECT_FALSE(planSaveWrite(report, s, c.chips, &plan));
        EXPECT_EQ(logLines(), c.lines);
    }
    clearLog();
    const uint8_t eight[2] = {8, 0};
    SavePlan plan;
    EXPECT_TRUE(planSaveWrite(report, loaded({{0x2FFFE0, pattern(32)}}), eight, &plan));
    EXPECT_TRUE(logLines().empty());
}

using Step = std::tuple<int, int, bool, size_t>;  // chip, block, read first, pieces

std::vector<Step> stepsOf(const SavePlan& p)
{
    std::vector<Step> out;
    for (const BlockStep& s : p.steps)
        out.push_back({s.block.chip, s.block.number, s.readFirst, s.pieces.size()});
    return out;
}

// Chip 1 is an 8 Mbit chip under a 16 Mbit chip 0: its blocks are its own.
TEST_F(BlockPlanTest, PartialSpanningAndChipOneRecords)
{
    const uint8_t chips[2] = {16, 8};
    LoadedSave s = loaded({{0x3FA100, pattern(0x200, 1)},    // inside block 33
                           {0x3F7F00, pattern(0x200, 2)},    // end of block 31, start of 32
                           {0x8FA000, pattern(0x2000, 3)},   // chip 1's block 17, whole
                           {0x200000, pattern(0x10000, 4)},  // block 0, whole
                           {0x3FA000, pattern(0x100, 5)}});  // block 33 again
    SavePlan plan;
    ASSERT_TRUE(planSaveWrite(report, s, chips, &plan));
    EXPECT_EQ(stepsOf(plan), (std::vector<Step>{{0, 0, false, 1}, {0, 31, true, 1}, {0, 32, true, 1}, {0, 33, true, 2}, {1, 17, false, 1}}));
    EXPECT_EQ(plan.total, 0x200u + 0x200 + 0x2000 + 0x10000 + 0x100);
    const Piece& tail = plan.steps[1].pieces[0];
    const Piece& head = plan.steps[2].pieces[0];
    EXPECT_EQ(std::make_tuple(tail.offset, tail.length, head.offset, head.length, head.dataAt - tail.dataAt),
              std::make_tuple(0x7F00u, 0x100u, 0u, 0x100u, size_t(0x100)));
    EXPECT_EQ(plan.steps[4].block.chipAddr(), 0xFA000u);

    // Records that together cover a block leave nothing to read.
    ASSERT_TRUE(planSaveWrite(report, loaded({{0x3FB000, pattern(0x1000)}, {0x3FA000, pattern(0x1000)}}), chips, &plan));
    EXPECT_EQ(stepsOf(plan), (std::vector<Step>{{0, 33, false, 2}}));
}

}  // namespace
