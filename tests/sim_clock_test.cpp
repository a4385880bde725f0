// The modelled clock: what transfers and flash operations cost, and that
// erases last their modelled time without anyone sleeping.
#include "core/link/clock.h"
#include "sim_host.h"

#include <gtest/gtest.h>

using namespace simtest;

namespace {

class Clock : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
};

TEST_F(Clock, StreamedReadsRunNearTheBulkLimitAndEachByteTakesItsProgramTime)
{
    sim::insertCart("cindercart");
    sim::setPacing(true);  // sleeps as well, but the program still reads the modelled clock
    Link link;
    std::vector<uint8_t> data(128 * 64);
    double t0 = sim::clockSeconds();
    ASSERT_TRUE(link.read64xN(data.data(), 0, 0, 128));
    const double took = sim::clockSeconds() - t0;
    const double limit = 128 / 19.0 * 1e-3;  // 19 packets per 1 ms frame
    EXPECT_GE(took, limit);
    EXPECT_LE(took, limit * 1.10);
    EXPECT_EQ(linkSeconds(), sim::clockSeconds());
    sim::setPacing(false);

    const sim::Costs& k = sim::costs();
    sim::chip(1).fill(0, 0x100, 0xFF);
    t0 = sim::clockSeconds();
    ASSERT_EQ(link.flashWrite32(0, data.data(), 1, 1), REPLY_SUCCESS);
    const double wrote = sim::clockSeconds() - t0;
    EXPECT_GE(wrote, 32 * k.byteProgram);
    EXPECT_LT(wrote, 32 * (k.byteProgram + 2 * k.pollInterval) + 1e-3);
}

TEST_F(Clock, AnEraseEndsWhenTheClockPassesItsModelledTime)
{
    const struct {
        const char* cart;
        uint8_t chip;
        uint32_t blockAddress;  // 0: a chip erase
        double seconds;
        bool shortened;
    } rows[] = {{"cindercart", 0, 0, 25.0, false},
                {"flash4", 0, 0, 25.0 / 4, false},  // a quarter of 16 Mbit
                {"official16", 0, 0x1FA000, 0.7, false},
                {"cindercart", 1, 0, 0.002, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.cart) + " " + std::to_string(row.seconds));
        sim::reset();
        ASSERT_TRUE(sim::insertCart(row.cart));
        if (row.shortened)
            sim::setEraseTimes(0.001, row.seconds);
        const uint32_t at = row.blockAddress;
        Link link;
        link.command(row.chip, 0x80);
        at ? link.command(row.chip, 0x30, at) : link.command(row.chip, 0x10);
        const double margin = std::min(0.01, row.seconds / 2);
        sim::advanceClock(row.seconds - margin);
        EXPECT_EQ(link.readByte(at, row.chip) & 0x80, 0);
        sim::advanceClock(margin);
        EXPECT_EQ(link.readByte(at, row.chip), 0xFF);
    }
}

}  // namespace

namespace {

// Pacing on, against a wall clock of the test's own: it moves only when
// told to, and sleeping adds up what was slept.
struct FakeWall {
    std::chrono::steady_clock::time_point wall{};
    double slept = 0.0;
    FakeWall()
    {
        sim::PaceClock fake;
        fake.now = [this] { return wall; };
        fake.sleepUntil = [this](std::chrono::steady_clock::time_point t) {
            slept += std::chrono::duration<double>(t - wall).count();
            wall = t;
        };
        sim::setPaceClock(fake);
        sim::setPacing(true);
    }
    ~FakeWall()
    {
        sim::setPacing(false);
        sim::setPaceClock(sim::PaceClock());
    }
};

// With pacing on, each stretch of modelled time lasts as long on the wall
// clock, however long the device sat idle before it: idle time is not
// saved up to make the next erase pass in a flash.
TEST_F(Clock, PacingBanksNoIdleTime)
{
    using namespace std::chrono;
    FakeWall fake;
    steady_clock::time_point& wall = fake.wall;
    double& slept = fake.slept;
    const struct { double idle, modelled, sleeps; } steps[] = {
        {0.0, 2.0, 2.0},       // busy from the start
        {60.0, 25.0, 25.0},    // a minute idle, then a 25 s erase
        {1.0, 0.5, 0.5},       // idle again, in small steps below
        {0.0, 0.0005, 0.0},    // under a millisecond ahead: not worth a sleep
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.idle);
        wall += duration_cast<steady_clock::duration>(duration<double>(s.idle));
        slept = 0.0;
        sim::advanceClock(s.modelled);
        sim::pace();
        EXPECT_NEAR(slept, s.sleeps, 1e-6);
    }
    sim::setPacing(false);
    sim::setPaceClock(sim::PaceClock());
}

}  // namespace

namespace {

// A dialog left open for seconds, while the window looks at the linker now
// and then: the next command is paced only by what the device does, neither
// owed the dialog's time nor let off its own.
TEST_F(Clock, PacingOwesNothingForTimeSpentInDialogs)
{
    using namespace std::chrono;
    sim::insertCart("cindercart");
    FakeWall fake;
    steady_clock::time_point& wall = fake.wall;
    double& slept = fake.slept;
    Link link;
    for (double open : {5.0, 66.0, 0.3}) {
        SCOPED_TRACE(open);
        wall += duration_cast<steady_clock::duration>(duration<double>(open));
        libusb_device** list = nullptr;
        ASSERT_EQ(libusb_get_device_list(link.ctx, &list), 1);  // the window's look at the linker
        libusb_free_device_list(list, 1);
        const double idleUntil = sim::clockSeconds();
        slept = 0.0;
        std::vector<uint8_t> data(200 * 64);
        ASSERT_TRUE(link.read64xN(data.data(), 0, 0, 200));
        EXPECT_NEAR(slept, sim::clockSeconds() - idleUntil, 2e-3) << "paced by the read alone";
        EXPECT_GT(slept, 0.005);
    }
}

}  // namespace
