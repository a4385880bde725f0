// Each injected fault, set in one line, and what the program would meet.
#include "sim_host.h"

#include <gtest/gtest.h>

using namespace simtest;

namespace {

class Faults : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::reset();
        ASSERT_TRUE(sim::insertCart("cindercart"));
        sim::setEraseTimes(0.001, 0.002);
    }
};

TEST_F(Faults, OpeningFaultsComeBackAsGivenUntilCleared)
{
    sim::noDevice();
    {
        Link link;
        EXPECT_EQ(link.initResult, 0);
        EXPECT_EQ(link.devh, nullptr);
    }
    sim::clearFaults();
    sim::failSetConfiguration(LIBUSB_ERROR_BUSY);
    sim::failClaimInterface(LIBUSB_ERROR_ACCESS);
    {
        Link link;
        ASSERT_NE(link.devh, nullptr);
        EXPECT_EQ(link.configResult, LIBUSB_ERROR_BUSY);
        EXPECT_EQ(link.claimResult, LIBUSB_ERROR_ACCESS);
    }
    sim::noDevice();
    sim::timeoutOnTransfer(1);
    sim::unplugAfterTransfers(0);
    sim::chipIgnoresErase(0);
    sim::clearFaults();
    sim::setFirmware(1, 7);
    Link link;
    ASSERT_NE(link.devh, nullptr);
    EXPECT_EQ(link.configResult, 0);
    EXPECT_EQ(link.claimResult, 0);
    uint8_t major = 9, minor = 9;
    EXPECT_EQ(link.version(&major, &minor), REPLY_GETVERSION);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 7);
}

TEST_F(Faults, ATimedOutSendNeverReachesTheFirmwareAndATimedOutReplyArrivesLate)
{
    Link link;
    sim::timeoutOnTransfer(1);
    EXPECT_EQ(link.writeByte(0x5555, 0xAA, 0), 0xFF);
    EXPECT_EQ(sim::counters().busCycles, 0u);
    EXPECT_EQ(sim::counters().timeouts, 1u);
    EXPECT_EQ(sim::pendingPackets(), 0u);
    EXPECT_EQ(sim::counters().commands, 0u);

    sim::timeoutOnTransfer(2);
    build_read_command(link.buf, 0x24, 0);
    ASSERT_EQ(link.send(link.buf), 0);
    const double before = sim::clockSeconds();
    int n = -1;
    EXPECT_EQ(link.receive(link.buf, &n), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(n, 0);
    EXPECT_NEAR(sim::clockSeconds() - before, 2.0, 1e-9);
    // No resynchronisation: the stale reply is what the next receive gets.
    build_getversion_command(link.buf);
    ASSERT_EQ(link.send(link.buf), 0);
    ASSERT_EQ(link.receive(link.buf, &n), 0);
    EXPECT_EQ(link.buf[0], REPLY_READ);
}

TEST_F(Faults, AShortPacketIsCutAndAShortDataPacketIsNotProgrammed)
{
    Link link;
    sim::shortPacketOnTransfer(2, 10);
    build_getversion_command(link.buf);
    ASSERT_EQ(link.send(link.buf), 0);
    int n = -1;
    EXPECT_EQ(link.receive(link.buf, &n), 0);
    EXPECT_EQ(n, 10);
    EXPECT_EQ(sim::pendingPackets(), 0u);

    sim::chip(0).fill(0, 0x1000, 0xFF);
    sim::shortPacketOnTransfer(3, 16);  // command, packet 0, packet 1 (cut)
    auto data = pattern(64 * 3, 2);
    uint8_t result = 0, processed = 0;
    ASSERT_TRUE(link.flashWrite64xN(0, data.data(), 0, 3, 0, &result, &processed));
    EXPECT_EQ(result, REPLY_FLASH_WRITE64XN);
    EXPECT_EQ(processed, 1);
    EXPECT_EQ(sim::chip(0).peek(64), 0xFF);
}

TEST_F(Faults, AWrongReplyCodeOnceAimedAtAReceiveOrTheReplyAfterASend)
{
    Link link;
    sim::wrongCodeOnTransfer(2, REPLY_FAIL);
    EXPECT_EQ(link.writeByte(0x100, 0x00, 0), REPLY_FAIL);
    EXPECT_EQ(link.writeByte(0x100, 0x00, 0), REPLY_SUCCESS) << "one transfer only";
    sim::wrongCodeOnTransfer(1);
    uint8_t major = 0, minor = 0;
    EXPECT_EQ(link.version(&major, &minor), 0xEE);
    EXPECT_EQ(major, 0);
    EXPECT_EQ(minor, 0);
}

TEST_F(Faults, TheDeviceDisappearsAfterNTransfers)
{
    Link link;
    sim::unplugAfterTransfers(3);
    EXPECT_EQ(link.writeByte(0, 0, 0), REPLY_SUCCESS);
    build_getversion_command(link.buf);
    EXPECT_EQ(link.send(link.buf), 0);
    int n = -1;
    EXPECT_EQ(link.receive(link.buf, &n), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(link.send(link.buf), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(link.send(link.buf), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_claim_interface(link.devh, 0), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_open_device_with_vid_pid(link.ctx, VID, PID), nullptr);
    EXPECT_EQ(sim::counters().transfers, 3u);
}

TEST_F(Faults, AChipThatDoesNotEraseKeepsReadingItsData)
{
    sim::chip(0).poke(0, 0x20);
    sim::chipIgnoresErase(0);
    Link link;
    link.chipErase(0);
    // What the program's poll sees: the same byte twice with bit 7 clear.
    EXPECT_EQ(link.readByte(0, 0), 0x20);
    EXPECT_EQ(link.readByte(0, 0), 0x20);
    link.command(0, 0x80);
    link.command(0, 0x30, 0);
    sim::advanceClock(100);
    EXPECT_EQ(link.readByte(0, 0), 0x20) << "nor a block erase";
}

TEST_F(Faults, AChipThatNeverFinishesErasingTogglesForever)
{
    sim::chipEraseNeverEnds(1);
    Link link;
    link.chipErase(1);
    int prev = link.readByte(0, 1);
    sim::advanceClock(3600);
    link.command(1, 0xF0);  // a running erase ignores the bus
    for (int i = 0; i < 50; ++i) {
        int v = link.readByte(0, 1);
        ASSERT_EQ(v & 0x80, 0);
        ASSERT_NE(v, prev);
        prev = v;
    }
    link.chipErase(0);
    sim::advanceClock(1);
    EXPECT_EQ(link.readByte(0, 0), 0xFF) << "the other chip is not affected";
}

TEST_F(Faults, AByteThatNeverProgramsFailsItsWriteAndFlagsItsStatusUntilReset)
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
    // Programmed through single writes, the status reads on and says why until a reset.
    Link link;
    link.command(0, 0xA0);
    link.writeByte(0x105, 0x12, 0);
    const int s = link.readByte(0x105, 0);
    EXPECT_EQ(s & 0xA0, 0xA0) << "DQ5: the program failed; DQ7: the complement of the data";
    for (int i = 0; i < 20; ++i)
        ASSERT_NE(link.readByte(0x105, 0), 0x12);
    EXPECT_NE(link.readByte(0x105, 0) & 0x40, s & 0x40);
    link.writeByte(0, 0xF0, 0);
    EXPECT_EQ(link.readByte(0x105, 0), 0xFF);
}

TEST_F(Faults, TheFaultSyntaxOfTheDemoReachesTheDevice)
{
    std::string error;
    EXPECT_TRUE(sim::applyFaults("timeout@5, short@6:8,badcode@7:0x10", &error)) << error;
    EXPECT_TRUE(sim::applyFaults("unplug@100,noerase:1,stuckerase:0,stuckbyte:0x200010", &error)) << error;
    EXPECT_TRUE(sim::applyFaults("config:BUSY,claim:-3", &error)) << error;
    EXPECT_TRUE(sim::applyFaults("", &error));
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
