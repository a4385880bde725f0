#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "cart/erase.h"
#include "link/transfer.h"
#include "sim.h"
#include "support/job_fixture.h"

namespace {

using Write = std::tuple<int, uint32_t, int>;  // chip, address, value

std::vector<Write> eraseCommand(int chip)
{
    return {{chip, 0x5555, 0xAA}, {chip, 0x2AAA, 0x55}, {chip, 0x5555, 0x80},
            {chip, 0x5555, 0xAA}, {chip, 0x2AAA, 0x55}, {chip, 0x5555, 0x10}};
}

std::vector<Write> hostWritesAfter(sim::Mark m)
{
    std::vector<Write> out;
    for (const auto& c : sim::hostWritesSince(m))
        out.push_back({c.chip, c.address, c.value});
    return out;
}

using EraseTest = JobTest;

TEST_F(EraseTest, EachChipAlone)
{
    ASSERT_TRUE(sim::insertCart("cindercart"));
    for (int chip : {0, 1}) {
        sim::Mark m = sim::mark();
        erase_cart(chip);
        EXPECT_EQ(hostWritesAfter(m), eraseCommand(chip));
        EXPECT_TRUE(sim::chip(chip).erasing(sim::clockSeconds()));
        EXPECT_FALSE(sim::chip(1 - chip).erasing(sim::clockSeconds()));
        sim::advanceClock(60);
    }
    EXPECT_TRUE(logLines().empty());
}

TEST_F(EraseTest, BothChipsChipZeroFirstThenErasedFlashReadsFF)
{
    ASSERT_TRUE(sim::insertCart("cindercart"));
    sim::setEraseTimes(0.001, 0.002);
    sim::Mark m = sim::mark();
    erase_cart(ERASE_BOTH);
    std::vector<Write> want = eraseCommand(0);
    for (const Write& w : eraseCommand(1))
        want.push_back(w);
    EXPECT_EQ(hostWritesAfter(m), want);
    EXPECT_TRUE(sim::chip(0).erasing(sim::clockSeconds()));
    EXPECT_TRUE(sim::chip(1).erasing(sim::clockSeconds()));

    // The caller's completion test: bit 7 set at address 0.
    sim::advanceClock(1.0);
    EXPECT_EQ(read_byte(0, 0), 0xFF);
    EXPECT_EQ(read_byte(0, 1), 0xFF);
    EXPECT_EQ(sim::cartPeek(0x1FFFFF), 0xFF);
    EXPECT_EQ(sim::cartPeek(0x200000), 0xFF);
}

TEST_F(EraseTest, OtherValuesSendNothing)
{
    for (int chips : {3, 4, 0x80, 0xFF}) {
        sim::Mark m = sim::mark();
        erase_cart(uint8_t(chips));
        EXPECT_TRUE(sim::transfersSince(m).empty()) << chips;
    }
    EXPECT_FALSE(sim::chip(0).erasing(sim::clockSeconds()));
}

}  // namespace
