#include <gtest/gtest.h>

#include "cart/detect.h"
#include "cart/geometry.h"

namespace {

// Geometry reads only chip 0's size; each case sets it and puts it back.
class GeometryTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = G_chipSize[0]; }
    void TearDown() override { G_chipSize[0] = saved_; }
    void chip0(uint8_t mbit) { G_chipSize[0] = mbit; }

private:
    uint8_t saved_ = 0;
};

int blocksOf(uint8_t mbit)
{
    return mbit == 4 ? 11 : mbit == 8 ? 19 : 35;
}

TEST_F(GeometryTest, BootRegionStartFollowsChipZeroOnly)
{
    const std::pair<uint8_t, uint8_t> cases[] = {{4, 7}, {8, 15}, {16, 31}, {0, 0}, {32, 0}, {5, 0}};
    for (auto [mbit, start] : cases) {
        chip0(mbit);
        G_chipSize[1] = 4;
        EXPECT_EQ(getBootBlockStart(), start) << int(mbit) << " Mbit";
    }
    G_chipSize[1] = 0;
}

TEST_F(GeometryTest, SixteenMbitMapAndSizes)
{
    chip0(16);
    EXPECT_EQ(blockNumToAddr(0, 0), 0u);
    EXPECT_EQ(blockNumToAddr(0, 30), 0x1E0000u);
    EXPECT_EQ(blockNumToAddr(0, 31), 0x1F0000u);
    EXPECT_EQ(blockNumToAddr(0, 32), 0x1F8000u);
    EXPECT_EQ(blockNumToAddr(0, 33), 0x1FA000u);
    EXPECT_EQ(blockNumToAddr(0, 34), 0x1FC000u);
    EXPECT_EQ(blockNumToAddr(1, 0), 0x200000u);
    EXPECT_EQ(blockNumToAddr(1, 33), 0x3FA000u);
    EXPECT_EQ(blockNumToAddr(7, 1), 0x210000u) << "any nonzero chip means chip 1";

    EXPECT_EQ(blockSize(30), 0x10000);
    EXPECT_EQ(blockSize(31), 0x8000);
    EXPECT_EQ(blockSize(32), 0x2000);
    EXPECT_EQ(blockSize(33), 0x2000);
    EXPECT_EQ(blockSize(34), 0x4000);
    EXPECT_EQ(blockSize(35), 0x10000);
}

// Each block starts where the one before it ends, and the blocks fill the chip.
TEST_F(GeometryTest, BlocksTileEachChipSize)
{
    for (uint8_t mbit : {4, 8, 16}) {
        chip0(mbit);
        uint32_t sum = 0;
        for (int b = 0; b < blocksOf(mbit); b++) {
            EXPECT_EQ(blockNumToAddr(0, b), sum) << int(mbit) << " Mbit block " << b;
            EXPECT_EQ(blockNumToAddr(1, b), 0x200000 + sum) << int(mbit) << " Mbit block " << b;
            sum += blockSize(b);
        }
        EXPECT_EQ(sum, mbit * MEGABIT) << int(mbit) << " Mbit";
    }
}

TEST_F(GeometryTest, BlocksPastTheTopShareTheTopBlockStart)
{
    chip0(8);
    EXPECT_EQ(blockNumToAddr(0, 18), 0xFC000u);
    EXPECT_EQ(blockNumToAddr(0, 19), 0xFC000u);
    EXPECT_EQ(blockNumToAddr(0, 34), 0xFC000u);
    EXPECT_EQ(blockNumToAddr(0, 255), 0xFC000u);
    EXPECT_EQ(blockSize(18), 0x4000);
    EXPECT_EQ(blockSize(19), 0x10000);

    chip0(4);
    EXPECT_EQ(blockNumToAddr(1, 0), 0x200000u) << "chip 1 starts at 0x200000 whatever chip 0's size";
    EXPECT_EQ(blockNumToAddr(1, 10), 0x27C000u);
}

TEST_F(GeometryTest, NoChipDetected)
{
    chip0(0);
    EXPECT_EQ(blockNumToAddr(0, 0), 0u);
    EXPECT_EQ(blockNumToAddr(0, 1), 0x8000u);
    EXPECT_EQ(blockNumToAddr(0, 2), 0xA000u);
    EXPECT_EQ(blockNumToAddr(0, 5), 0xC000u);
    EXPECT_EQ(blockNumToAddr(1, 5), 0x20C000u);
    EXPECT_EQ(blockSize(0), 0x8000);
    EXPECT_EQ(blockSize(1), 0x2000);
    EXPECT_EQ(blockSize(3), 0x4000);
    EXPECT_EQ(blockSize(4), 0x10000);
    EXPECT_EQ(addrToBlockNum(0x8000), 1);
    EXPECT_EQ(addrToBlockNum(0xC000), 34);
}

TEST_F(GeometryTest, AddressToBlockFallsThroughTo34)
{
    chip0(4);
    EXPECT_EQ(addrToBlockNum(0), 0);
    EXPECT_EQ(addrToBlockNum(0x6FFFF), 6);
    EXPECT_EQ(addrToBlockNum(0x70000), 7);
    EXPECT_EQ(addrToBlockNum(0x7BFFF), 9);
    EXPECT_EQ(addrToBlockNum(0x7C000), 34) << "the top block is never matched";
    EXPECT_EQ(addrToBlockNum(0x7FFFF), 34);
    EXPECT_EQ(addrToBlockNum(0x80000), 34) << "past the chip's end";
    EXPECT_EQ(addrToBlockNum(0x1FFFFF), 34);
    EXPECT_EQ(addrToBlockNum(0x200000), 0);
    EXPECT_EQ(addrToBlockNum(0x27A000), 9);

    chip0(8);
    EXPECT_EQ(addrToBlockNum(0xFBFFF), 17);
    EXPECT_EQ(addrToBlockNum(0xFC000), 34);
    EXPECT_EQ(addrToBlockNum(0x100000), 34);

    chip0(16);
    EXPECT_EQ(addrToBlockNum(0x1FFFFF), 34);
    EXPECT_EQ(addrToBlockNum(0x1FBFFF), 33);
    EXPECT_EQ(addrToBlockNum(0x3F0000), 31);
    EXPECT_EQ(addrToBlockNum(0x3F8000), 32);
    EXPECT_EQ(addrToBlockNum(0x3FFFFF), 34);
    EXPECT_EQ(addrToBlockNum(0xFFFFFFFF), 34);
}

// Round trip: every block's first and last byte map back to the block, up to
// the top block, which always answers 34.
TEST_F(GeometryTest, AddressToBlockInvertsBlockToAddress)
{
    for (uint8_t mbit : {4, 8, 16}) {
        chip0(mbit);
        int top = blocksOf(mbit) - 1;
        for (uint8_t chip : {0, 1}) {
            for (int b = 0; b <= top; b++) {
                uint32_t first = blockNumToAddr(chip, b);
                uint32_t last = first + blockSize(b) - 1;
                int want = b == top ? 34 : b;
                EXPECT_EQ(addrToBlockNum(first), want) << int(mbit) << " Mbit chip " << int(chip);
                EXPECT_EQ(addrToBlockNum(last), want) << int(mbit) << " Mbit chip " << int(chip);
            }
        }
    }
}

}  // namespace
