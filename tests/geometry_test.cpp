#include <gtest/gtest.h>

#include "core/cart/detect.h"
#include "core/cart/geometry.h"

namespace {

// Geometry reads only chip 0's size; each case sets it and puts it back.
class GeometryTest : public ::testing::Test {
protected:
    void SetUp() override { saved_[0] = G_chipSize[0], saved_[1] = G_chipSize[1]; }
    void TearDown() override { G_chipSize[0] = saved_[0], G_chipSize[1] = saved_[1]; }

private:
    uint8_t saved_[2] = {0, 0};
};

TEST_F(GeometryTest, BootRegionStartFollowsChipZeroOnly)
{
    const std::pair<uint8_t, uint8_t> cases[] = {{4, 7}, {8, 15}, {16, 31}, {0, 0}, {32, 0}, {5, 0}};
    G_chipSize[1] = 4;
    for (auto [mbit, start] : cases) {
        G_chipSize[0] = mbit;
        EXPECT_EQ(getBootBlockStart(), start) << int(mbit) << " Mbit";
    }
}

// Each block starts where the one before it ends, the blocks fill the chip,
// and each block's first and last byte map back to it, up to the top block,
// which always answers 34, as does anything past the chip's end.
TEST_F(GeometryTest, BlocksTileEachChipAndMapBack)
{
    for (uint8_t mbit : {4, 8, 16}) {
        G_chipSize[0] = mbit;
        const int top = mbit == 4 ? 10 : mbit == 8 ? 18 : 34;
        uint32_t sum = 0;
        for (int b = 0; b <= top; b++) {
            SCOPED_TRACE(std::to_string(mbit) + " Mbit block " + std::to_string(b));
            EXPECT_EQ(blockNumToAddr(0, b), sum);
            EXPECT_EQ(blockNumToAddr(1, b), 0x200000 + sum);
            for (uint32_t chip : {0u, 0x200000u}) {
                EXPECT_EQ(addrToBlockNum(chip + sum), b == top ? 34 : b);
                EXPECT_EQ(addrToBlockNum(chip + sum + blockSize(b) - 1), b == top ? 34 : b);
            }
            sum += blockSize(b);
        }
        EXPECT_EQ(sum, mbit * MEGABIT) << int(mbit) << " Mbit";
        if (mbit < 16) {
            EXPECT_EQ(addrToBlockNum(sum), 34) << "past the chip's end, " << int(mbit) << " Mbit";
        }
    }
}

TEST_F(GeometryTest, EdgesOfTheMap)
{
    const struct {
        uint8_t mbit, chip;
        int block;
        uint32_t addr;
        int size;
    } blocks[] = {
        {16, 7, 1, 0x210000, 0x10000},  // any nonzero chip means chip 1
        {8, 0, 19, 0xFC000, 0x10000},  {8, 0, 255, 0xFC000, -1},  {4, 1, 10, 0x27C000, 0x4000},
        {0, 0, 0, 0, 0x8000},          {0, 0, 1, 0x8000, 0x2000}, {0, 0, 2, 0xA000, -1},
        {0, 0, 3, 0xC000, 0x4000},     {0, 0, 4, 0xC000, 0x10000}, {0, 1, 5, 0x20C000, -1},
    };
    for (const auto& c : blocks) {
        SCOPED_TRACE(std::to_string(c.mbit) + " Mbit block " + std::to_string(c.block));
        G_chipSize[0] = c.mbit;
        EXPECT_EQ(blockNumToAddr(c.chip, c.block), c.addr);
        if (c.size >= 0) {
            EXPECT_EQ(blockSize(c.block), c.size);
        }
    }
    const struct {
        uint8_t mbit;
        uint32_t addr;
        int block;
    } addrs[] = {{4, 0x1FFFFF, 34},  {4, 0x27A000, 9},     {8, 0xFBFFF, 17}, {16, 0x3F8000, 32},
                 {16, 0x3FFFFF, 34}, {16, 0xFFFFFFFF, 34}, {0, 0x8000, 1},   {0, 0xC000, 34}};
    for (const auto& c : addrs) {
        G_chipSize[0] = c.mbit;
        EXPECT_EQ(addrToBlockNum(c.addr), c.block) << int(c.mbit) << " Mbit " << std::hex << c.addr;
    }
}

}  // namespace
