// Each injected fault, set in one line, and what the program would meet.
#include "sim_host.h"

#include <gtest/gtest.h>
#include <set>
#include <vector>

using namespace simtest;

namespace {

class Faults : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::reset();
        ASSERT_TRUE(sim::insertCart("cindercart"));
    }
};

TEST_F(Faults, OpeningFaultsComeBackAsGivenUntilCleared)
{
    sim::noDevice();
    EXPECT_EQ(Link().devh, nullptr);
    sim::clearFaults();
    sim::failSetConfiguration(LIBUSB_ERROR_BUSY);
    sim::failClaimInterface(LIBUSB_ERROR_ACCESS);
    {
        Link link;
        EXPECT_EQ(link.configResult, LIBUSB_ERROR_BUSY);
        EXPECT_EQ(link.claimResult, LIBUSB_ERROR_ACCESS);
    }
    sim::noDevice();
    sim::timeoutOnTransfer(1);
    sim::unplugAfterTransfers(0);
    sim::chipIgnoresErase(0);
    sim::clearFaults();
    sim::setFirmware(1, 7);  // any version
    Link link;
    EXPECT_EQ(link.configResult, 0);
    EXPECT_EQ(link.claimResult, 0);
    uint8_t major = 9, minor = 9;
    EXPECT_EQ(link.version(&major, &minor), REPLY_GETVERSION);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 7);
}

// One exchange (a read) under each transfer fault, then a getversion exchange
// to show what the fault left behind.
TEST_F(Faults, ATransferFaultHitsTheNthTransferOnly)
{
    constexpr int TIMEOUT = LIBUSB_ERROR_TIMEOUT, GONE = LIBUSB_ERROR_NO_DEVICE, FAILED = 0xFF;
    const struct {
        const char* what;
        void (*inject)();
        int sent, received, moved, code;  // code: byte 0 of what came, if anything did
        uint64_t busCycles;               // whether the read reached the chip
        int next;                         // reply code of the next exchange
    } rows[] = {
        {"none", [] {}, 0, 0, 64, REPLY_READ, 1, REPLY_GETVERSION},
        {"timeout@1", [] { sim::timeoutOnTransfer(1); }, TIMEOUT, TIMEOUT, 0, 0, 0, REPLY_GETVERSION},
        {"timeout@2: the reply arrives late", [] { sim::timeoutOnTransfer(2); }, 0, TIMEOUT, 0, 0, 1, REPLY_READ},
        {"short@2:10", [] { sim::shortPacketOnTransfer(2, 10); }, 0, 0, 10, REPLY_READ, 1, REPLY_GETVERSION},
        {"badcode@2", [] { sim::wrongCodeOnTransfer(2, REPLY_FAIL); }, 0, 0, 64, REPLY_FAIL, 1, REPLY_GETVERSION},
        {"badcode@1 hits the reply", [] { sim::wrongCodeOnTransfer(1); }, 0, 0, 64, 0xEE, 1, REPLY_GETVERSION},
        {"unplug@1", [] { sim::unplugAfterTransfers(1); }, 0, GONE, 0, 0, 1, FAILED},
        {"unplug@0", [] { sim::unplugAfterTransfers(0); }, GONE, GONE, 0, 0, 0, FAILED},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        sim::reset();
        ASSERT_EQ(sim::clockSeconds(), 0.0) << "a reset starts the clock again";
        Link link;
        row.inject();
        const double start = sim::clockSeconds();
        build_read_command(link.buf, 0x24, 0);
        EXPECT_EQ(link.send(link.buf), row.sent);
        memset(link.buf, 0, MSG_LEN);
        int n = -1;
        EXPECT_EQ(link.receive(link.buf, &n), row.received);
        EXPECT_EQ(n, row.moved);
        EXPECT_EQ(link.buf[0], row.code);
        EXPECT_EQ(sim::counters().busCycles, row.busCycles);
        const int timeouts = (row.sent == TIMEOUT) + (row.received == TIMEOUT);
        EXPECT_EQ(sim::counters().timeouts, uint64_t(timeouts));
        EXPECT_NEAR(sim::clockSeconds() - start, 2.0 * timeouts, 0.01) << "each time-out takes its 2 s at once";
        build_getversion_command(link.buf);
        EXPECT_EQ(link.exchange(), row.next);
        if (row.next == FAILED) {  // unplugged: the rest of libusb finds no device either
            EXPECT_EQ(libusb_claim_interface(link.devh, 0), GONE);
            EXPECT_EQ(libusb_open_device_with_vid_pid(link.ctx, VID, PID), nullptr);
            EXPECT_EQ(sim::counters().transfers, row.sent == 0 ? 1u : 0u) << "nothing counted once gone";
        }
    }
}

TEST_F(Faults, AChipThatDoesNotEraseKeepsItsDataAndOneThatNeverFinishesTogglesForever)
{
    sim::chip(0).poke(0, 0x20);
    sim::chipIgnoresErase(0);
    sim::chipEraseNeverEnds(1);
    Link link;
    link.command(0, 0x80);
    link.command(0, 0x10);
    EXPECT_EQ(link.readByte(0, 0), 0x20);
    link.command(0, 0x80);
    link.command(0, 0x30, 0);  // nor a block erase
    link.command(1, 0x80);
    link.command(1, 0x10);
    int prev = link.readByte(0, 1);
    sim::advanceClock(3600);
    link.command(1, 0xF0);  // a running erase ignores the bus
    // What the program's polls see: the same byte with bit 7 clear; never the same twice.
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(link.readByte(0, 0), 0x20);
        int v = link.readByte(0, 1);
        ASSERT_EQ(v & 0x80, 0);
        ASSERT_NE(v, prev);
        prev = v;
    }
}

TEST_F(Faults, AByteThatNeverProgramsFailsItsWriteAndFlagsItsStatus)
{
    sim::chip(0).fill(0, 0x200, 0xFF);
    sim::byteNeverPrograms(0, 0x105);
    auto data = pattern(32, 4);
    for (uint8_t turbo : {0, 1}) {
        Link link;
        EXPECT_EQ(link.flashWrite32(0x100, data.data(), 0, turbo), REPLY_FAIL) << int(turbo);
        EXPECT_EQ(sim::chip(0).peek(0x104), data[4]);
        EXPECT_EQ(sim::chip(0).peek(0x105), 0xFF);
        EXPECT_EQ(sim::chip(0).mode(), sim::FlashChip::Mode::Read);
        EXPECT_EQ(link.readByte(0x105, 0), 0xFF);
    }
    // Programmed through single writes, its status says why.
    Link link;
    link.command(0, 0xA0);
    link.writeByte(0x105, 0x12, 0);
    EXPECT_EQ(link.readByte(0x105, 0) & 0xA0, 0xA0) << "DQ5: the program failed; DQ7: the complement of the data";
}

TEST_F(Faults, DirtyContactsMisreadWhatTheHostSeesNeverTheChip)
{
    sim::chip(1).fill(0x40, 0x40, 0x5A);
    ASSERT_TRUE(sim::applyFaults("misread@2:0x200041,flaky:0x200050"));
    Link link;
    std::vector<uint8_t> seen[3];
    for (auto& s : seen) {
        s.assign(64, 0);
        ASSERT_TRUE(link.read64xN(s.data(), 0x40, 1, 1));
    }
    // One read of 0x41 is off, the second; 0x50 is off every time, differently.
    EXPECT_EQ(seen[0][1], 0x5A);
    EXPECT_NE(seen[1][1], 0x5A);
    EXPECT_EQ(seen[2][1], 0x5A);
    EXPECT_EQ(link.readByte(0x41, 1), 0x5A) << "misread once only";
    std::set<int> flaky = {seen[0][0x10], seen[1][0x10], seen[2][0x10], link.readByte(0x50, 1)};
    EXPECT_EQ(flaky.size(), 4u);
    EXPECT_EQ(flaky.count(0x5A), 0u);
    EXPECT_EQ(sim::chip(1).peek(0x50), 0x5A) << "the chip itself holds its byte";
    for (int i = 0; i < 64; ++i) {
        if (i != 1 && i != 0x10) {
            EXPECT_EQ(seen[1][i], 0x5A) << i;
        }
    }
    sim::clearFaults();
    EXPECT_EQ(link.readByte(0x50, 1), 0x5A) << "cleared with the other faults";
    for (const char* bad : {"misread", "misread@0:0x10", "flaky@2:0x10", "flaky:0x400000"})
        EXPECT_FALSE(sim::applyFaults(bad)) << bad;
}

TEST_F(Faults, TheFaultSyntaxOfTheDemoReachesTheDevice)
{
    std::string error;
    EXPECT_TRUE(sim::applyFaults("", &error));
    EXPECT_TRUE(sim::applyFaults("timeout@5, short@6:8,badcode@7:0x10,unplug@100,noerase:1,stuckerase:0,"
                                 "stuckbyte:0x200010,config:BUSY,claim:-3",
                                 &error))
        << error;
    for (const char* bad : {"timeout", "timeout@0", "timeout@x", "short@2:64", "badcode@1:256", "noerase:2",
                            "stuckbyte:0x400000", "config:FOO", "nodevice:1", "teleport@3"}) {
        error.clear();
        EXPECT_FALSE(sim::applyFaults(bad, &error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
    sim::clearFaults();
    ASSERT_TRUE(sim::applyFaults("claim:ACCESS,stuckbyte:0x200010"));
    Link link;
    EXPECT_EQ(link.claimResult, LIBUSB_ERROR_ACCESS);
    const std::vector<uint8_t> zeros(32, 0x00);
    EXPECT_EQ(link.flashWrite32(0, zeros.data(), 1, 0), REPLY_FAIL);
    EXPECT_EQ(sim::chip(1).peek(0x0F), 0x00);
    EXPECT_EQ(sim::chip(1).peek(0x10), 0xFF) << "chip 1 from 0x200000 on";
}

}  // namespace
