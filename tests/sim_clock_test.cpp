// The modelled clock: what transfers and flash operations cost, and that
// erases last their modelled time without anyone sleeping.
#include "link/clock.h"
#include "sim_host.h"

#include <gtest/gtest.h>

using namespace simtest;

namespace {

class Clock : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
};

TEST_F(Clock, StartsAtZeroAfterAReset)
{
    sim::advanceClock(5);
    sim::reset();
    EXPECT_EQ(sim::clockSeconds(), 0.0);
}

TEST_F(Clock, EveryPacketCostsItsShareOfAFrame)
{
    Link link;
    double t0 = sim::clockSeconds();
    build_getversion_command(link.buf);
    ASSERT_TRUE(link.exchange(link.buf));
    double one = sim::clockSeconds() - t0;
    EXPECT_NEAR(one, 2 * sim::costs().packet + sim::costs().turnaround, 1e-12);
}

TEST_F(Clock, AStreamedReadRunsWithinTenPercentOfTheBulkLimit)
{
    Link link;
    std::vector<uint8_t> data(128 * 64);
    double t0 = sim::clockSeconds();
    ASSERT_TRUE(link.read64xN(data.data(), 0, 0, 128));
    double took = sim::clockSeconds() - t0;
    const double limit = 128 / 19.0 * 1e-3;  // 19 packets per 1 ms frame
    EXPECT_GE(took, limit);
    EXPECT_LE(took, limit * 1.10);
}

TEST_F(Clock, ProgrammingCostsAtLeastTheByteProgramTime)
{
    sim::insertCart("cindercart");
    sim::chip(0).fill(0, 0x100, 0xFF);
    Link link;
    auto data = pattern(32, 1);
    double t0 = sim::clockSeconds();
    ASSERT_EQ(link.flashWrite32(0, data.data(), 0, 1), REPLY_SUCCESS);
    double took = sim::clockSeconds() - t0;
    EXPECT_GE(took, 32 * sim::costs().byteProgram);
    EXPECT_LT(took, 32 * (sim::costs().byteProgram + 2 * sim::costs().pollInterval) + 1e-3);
}

TEST_F(Clock, AChipEraseLastsItsModelledSecondsInStatusReads)
{
    sim::insertCart("cindercart");
    Link link;
    link.chipErase(0);
    const double started = sim::clockSeconds();
    sim::advanceClock(sim::costs().chipErase16 - 0.01);
    EXPECT_EQ(link.readByte(0, 0) & 0x80, 0);
    sim::advanceClock(0.01);
    EXPECT_EQ(link.readByte(0, 0), 0xFF);
    EXPECT_NEAR(sim::clockSeconds() - started, 25.0, 0.01);
}

TEST_F(Clock, EraseTimeScalesWithChipSize)
{
    sim::insertCart("flash4");
    Link link;
    link.chipErase(0);
    sim::advanceClock(sim::costs().chipErase16 / 4 - 0.01);
    EXPECT_EQ(link.readByte(0, 0) & 0x80, 0);
    sim::advanceClock(0.01);
    EXPECT_EQ(link.readByte(0, 0), 0xFF);
}

TEST_F(Clock, ABlockEraseTakesPointSevenSeconds)
{
    sim::insertCart("official16");
    Link link;
    link.blockErase(0x1FA000, 0);
    sim::advanceClock(0.69);
    EXPECT_EQ(link.readByte(0x1FA000, 0) & 0x80, 0);
    sim::advanceClock(0.01);
    EXPECT_EQ(link.readByte(0x1FA000, 0), 0xFF);
}

TEST_F(Clock, ShortenedErasesFinishWithinAFewPolls)
{
    sim::insertCart("cindercart");
    sim::setEraseTimes(0.001, 0.002);
    Link link;
    link.chipErase(0);
    link.chipErase(1);
    int polls = 0;
    while ((link.readByte(0, 0) & 0x80) == 0)
        ASSERT_LT(++polls, 20);
    while ((link.readByte(0, 1) & 0x80) == 0)
        ASSERT_LT(++polls, 20);
}

TEST_F(Clock, AnEndlessEraseWaitIsBoundedByTheProgramsClock)
{
    // What an erase wait bounded by g_linkClock sees with a chip that never
    // finishes: the modelled seconds run out although nobody slept.
    sim::insertCart("cindercart");
    sim::chipEraseNeverEnds(0);
    Link link;
    link.chipErase(0);
    const double start = linkSeconds();
    int polls = 0;
    while ((link.readByte(0, 0) & 0x80) == 0 && linkSeconds() - start < 60)
        ++polls;
    EXPECT_GE(linkSeconds() - start, 60);
    EXPECT_GT(polls, 1000);
}

TEST_F(Clock, PacingKeepsTheModelledClockAsTheProgramsClock)
{
    sim::setPacing(true);
    Link link;
    uint8_t major = 0, minor = 0;
    link.getVersionReplyCode(&major, &minor);
    EXPECT_EQ(linkSeconds(), sim::clockSeconds());
    EXPECT_LT(sim::clockSeconds(), 0.001);
    sim::setPacing(false);
}

}  // namespace

namespace {

TEST_F(Clock, FlashingAWholeChipTakesItsModelledTimeAndWritesEveryByte)
{
    sim::insertCart("cindercart");
    sim::setEraseTimes(0.001, 0.002);
    sim::setTraceLimit(4096);
    Link link;
    link.chipErase(0);
    while ((link.readByte(0, 0) & 0x80) == 0) {
    }
    auto image = pattern(0x200000, 0x33);
    const double start = sim::clockSeconds();
    for (uint32_t a = 0; a < image.size(); a += 512) {
        uint8_t result = 0, processed = 0;
        ASSERT_TRUE(link.flashWrite64xN(a, image.data() + a, 0, 8, 1, &result, &processed));
        ASSERT_EQ(processed, 8) << a;
    }
    const double took = sim::clockSeconds() - start;
    EXPECT_GT(took, 0x200000 * sim::costs().byteProgram);
    EXPECT_LT(took, 120.0);
    EXPECT_EQ(sim::chip(0).contents(), image);
    EXPECT_EQ(sim::counters().bytesProgrammed, 0x200000u);
}

TEST_F(Clock, TheTraceKeepsTheNewestEntriesAndSaysWhenItDropped)
{
    sim::setTraceLimit(100);
    Link link;
    sim::Mark m = sim::mark();
    std::vector<uint8_t> data(64 * 4);
    ASSERT_TRUE(link.read64xN(data.data(), 0, 0, 4));
    EXPECT_TRUE(sim::traceTruncatedSince(m));
    EXPECT_EQ(sim::busCyclesSince(m).size(), 100u);
    EXPECT_EQ(sim::counters().busReads, 256u);
    sim::Mark late = sim::mark();
    EXPECT_FALSE(sim::traceTruncatedSince(late));
}

}  // namespace
