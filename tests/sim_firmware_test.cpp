// The firmware's answer to every message, driven through libusb bulk
// transfers with messages from the host half of the protocol module.
#include "sim_host.h"

#include <gtest/gtest.h>

using namespace simtest;

namespace {

class Firmware : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::reset();
        sim::setEraseTimes(0.001, 0.002);
    }
    void plug(const char* cart)
    {
        ASSERT_TRUE(sim::insertCart(cart));
    }
};

TEST_F(Firmware, GetversionAnswersTheConfiguredVersion)
{
    Link link;
    uint8_t major = 9, minor = 9;
    EXPECT_EQ(link.getVersionReplyCode(&major, &minor), REPLY_GETVERSION);
    EXPECT_EQ(major, 0);
    EXPECT_EQ(minor, 13);

    sim::setFirmware(1, 7);
    EXPECT_EQ(link.getVersionReplyCode(&major, &minor), REPLY_GETVERSION);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 7);
}

TEST_F(Firmware, ReadReplyEchoesAddressAndChipWithTheByte)
{
    plug("official32");
    sim::chip(1).poke(0x1ABCDE, 0x5C);
    Link link;
    build_read_command(link.buf, 0x1ABCDE, 1);
    ASSERT_TRUE(link.exchange(link.buf));
    EXPECT_EQ(link.buf[0], REPLY_READ);
    EXPECT_EQ(link.buf[1], 0x1A);
    EXPECT_EQ(link.buf[2], 0xBC);
    EXPECT_EQ(link.buf[3], 0xDE);
    EXPECT_EQ(link.buf[4], 0x5C);
    EXPECT_EQ(link.buf[5], 1);
}

TEST_F(Firmware, ReadOfTheRomNameGivesTheHeaderBytes)
{
    Link link;
    std::string name;
    for (uint32_t a = 0x24; a <= 0x2F; ++a)
        name += static_cast<char>(link.readByte(a, 0));
    EXPECT_EQ(name, "SIM OFFICIAL");
}

TEST_F(Firmware, WriteIsOneRawBusCycleAnsweredWithSuccess)
{
    plug("cindercart");
    sim::chip(0).poke(0x123456, 0xFF);
    Link link;
    sim::Mark m = sim::mark();
    EXPECT_EQ(link.writeByte(0x123456, 0x00, 0), REPLY_SUCCESS);
    auto writes = sim::busWritesSince(m);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].chip, 0);
    EXPECT_EQ(writes[0].address, 0x123456u);
    EXPECT_EQ(writes[0].value, 0x00);
    EXPECT_TRUE(writes[0].fromHost);
    // One cycle is not a program command: the array is untouched.
    EXPECT_EQ(sim::chip(0).peek(0x123456), 0xFF);
    EXPECT_EQ(sim::counters().bytesProgrammed, 0u);
}

TEST_F(Firmware, TheIdentifyProbeSeesSixHostWritesAndTheIdBytes)
{
    plug("official16");
    Link link;
    sim::Mark m = sim::mark();
    link.identify(0);
    auto writes = sim::hostWritesSince(m);
    ASSERT_EQ(writes.size(), 6u);
    const uint32_t addr[6] = {0x5555, 0x2AAA, 0x5555, 0x5555, 0x2AAA, 0x5555};
    const uint8_t val[6] = {0xAA, 0x55, 0xF0, 0xAA, 0x55, 0x90};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(writes[i].address, addr[i]) << i;
        EXPECT_EQ(writes[i].value, val[i]) << i;
    }
    EXPECT_EQ(link.readByte(0, 0), 0x98);
    EXPECT_EQ(link.readByte(1, 0), 0x2F);
    EXPECT_EQ(link.readByte(3, 0), 0x81);
    EXPECT_EQ(link.readByte(0x1FA002, 0), 0);  // block 33, the save area
    EXPECT_EQ(link.readByte(0x1F8002, 0), 1);
    link.resetChip(0);
    EXPECT_EQ(link.readByte(0x24, 0), 'S');
}

TEST_F(Firmware, AnEmptyPositionReadsBackTheLastValueOnTheBus)
{
    plug("official16");  // one chip: position 1 is empty
    Link link;
    link.identify(1);
    EXPECT_EQ(link.readByte(0, 1), 0x90);
    EXPECT_EQ(link.readByte(1, 1), 0x90);
    EXPECT_EQ(link.readByte(3, 1), 0x90);
    // A read from the real chip drives the bus; the empty position then echoes it.
    link.resetChip(0);
    int first = link.readByte(0x24, 0);
    EXPECT_EQ(link.readByte(0, 1), first);
}

TEST_F(Firmware, NoCartridgeAnswersEveryIdentifyReadWith90)
{
    plug("none");
    Link link;
    for (uint8_t c = 0; c < 2; ++c) {
        link.identify(c);
        EXPECT_EQ(link.readByte(0, c), 0x90);
        EXPECT_EQ(link.readByte(1, c), 0x90);
        EXPECT_EQ(link.readByte(3, c), 0x90);
    }
}

TEST_F(Firmware, Read64xNSendsNPacketsInAddressOrderAndNoReply)
{
    plug("cindercart");
    Link link;
    std::vector<uint8_t> got(64 * 5);
    ASSERT_TRUE(link.read64xN(got.data(), 0x1FFF00, 0, 5));
    for (uint32_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], sim::chip(0).peek(0x1FFF00 + i)) << i;  // the last packets wrap to 0
    EXPECT_EQ(sim::pendingPackets(), 0u);
    EXPECT_EQ(got[0x100], sim::chip(0).peek(0));
}

TEST_F(Firmware, Read64xNOfZeroPacketsSendsNothing)
{
    Link link;
    build_read64xN_command(link.buf, 0, 0, 0);
    ASSERT_EQ(link.send(link.buf), 0);
    EXPECT_EQ(sim::pendingPackets(), 0u);
}

TEST_F(Firmware, Read64xNReadsChipOne)
{
    plug("official32");
    Link link;
    uint8_t got[64];
    ASSERT_TRUE(link.read64xN(got, 0x100, 1, 1));
    for (uint32_t i = 0; i < 64; ++i)
        EXPECT_EQ(got[i], sim::chip(1).peek(0x100 + i));
}

TEST_F(Firmware, FlashWrite32ProgramsAndSucceedsOnErasedFlash)
{
    plug("cindercart");
    sim::chip(1).fill(0, 0x1000, 0xFF);
    auto data = pattern(32, 3);
    Link link;
    EXPECT_EQ(link.flashWrite32(0x40, data.data(), 1, 0), REPLY_SUCCESS);
    for (uint32_t i = 0; i < 32; ++i)
        EXPECT_EQ(sim::chip(1).peek(0x40 + i), data[i]);
    EXPECT_EQ(sim::chip(1).peek(0x3F), 0xFF);
    EXPECT_EQ(sim::chip(1).peek(0x60), 0xFF);
    EXPECT_EQ(sim::counters().bytesProgrammed, 32u);
}

TEST_F(Firmware, FlashWriteOverUnerasedBitsFails)
{
    plug("cindercart");
    sim::chip(0).fill(0x200, 32, 0x00);
    std::vector<uint8_t> ones(32, 0xFF);
    ones[0] = 0x00;  // the first byte can be written, the second cannot
    Link link;
    EXPECT_EQ(link.flashWrite32(0x200, ones.data(), 0, 0), REPLY_FAIL);
}

TEST_F(Firmware, FlashWriteIntoAProtectedBlockFailsAndChangesNothing)
{
    plug("official16");
    const uint8_t before = sim::chip(0).peek(0x10000);
    std::vector<uint8_t> zeros(32, 0x00);
    Link link;
    EXPECT_EQ(link.flashWrite32(0x10000, zeros.data(), 0, 0), REPLY_FAIL);
    EXPECT_EQ(sim::chip(0).peek(0x10000), before);
    // The chip is left readable.
    EXPECT_EQ(link.readByte(0x10000, 0), before);
}

TEST_F(Firmware, FlashWriteIntoTheSaveAreaOfAnOfficialCartridgeWorks)
{
    plug("official16");
    sim::chip(0).fill(0x1FA000, 0x2000, 0xFF);
    auto data = pattern(32, 9);
    Link link;
    EXPECT_EQ(link.flashWrite32(0x1FA000, data.data(), 0, 0), REPLY_SUCCESS);
    EXPECT_EQ(sim::chip(0).peek(0x1FA01F), data[31]);
}

TEST_F(Firmware, WithoutTurboEachByteTakesTheFourCycleProgramCommand)
{
    plug("cindercart");
    sim::chip(0).fill(0, 0x100, 0xFF);
    auto data = pattern(32, 1);
    Link link;
    sim::Mark m = sim::mark();
    ASSERT_EQ(link.flashWrite32(0x80, data.data(), 0, 0), REPLY_SUCCESS);
    auto writes = sim::busWritesSince(m);
    ASSERT_EQ(writes.size(), 32u * 4);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(writes[4 * i].value, 0xAA);
        EXPECT_EQ(writes[4 * i + 1].value, 0x55);
        EXPECT_EQ(writes[4 * i + 2].address, 0x5555u);
        EXPECT_EQ(writes[4 * i + 2].value, 0xA0);
        EXPECT_EQ(writes[4 * i + 3].address, 0x80u + i);
        EXPECT_EQ(writes[4 * i + 3].value, data[i]);
        EXPECT_FALSE(writes[4 * i + 3].fromHost);
    }
}

TEST_F(Firmware, WithTurboTheRunGoesThroughUnlockBypass)
{
    plug("cindercart");
    sim::chip(0).fill(0, 0x100, 0xFF);
    auto data = pattern(32, 1);
    Link link;
    sim::Mark m = sim::mark();
    ASSERT_EQ(link.flashWrite32(0x80, data.data(), 0, 1), REPLY_SUCCESS);
    auto w = sim::busWritesSince(m);
    ASSERT_EQ(w.size(), 3u + 32 * 2 + 2);
    EXPECT_EQ(w[2].address, 0x5555u);
    EXPECT_EQ(w[2].value, 0x20);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(w[3 + 2 * i].address, 0u);
        EXPECT_EQ(w[3 + 2 * i].value, 0xA0);
        EXPECT_EQ(w[4 + 2 * i].value, data[i]);
    }
    EXPECT_EQ(w[w.size() - 2].value, 0x90);
    EXPECT_EQ(w[w.size() - 1].value, 0x00);
    EXPECT_EQ(sim::chip(0).mode(), sim::FlashChip::Mode::Read);
    for (uint32_t i = 0; i < 32; ++i)
        EXPECT_EQ(sim::chip(0).peek(0x80 + i), data[i]);
}

TEST_F(Firmware, FlashWriteNProgramsExactlyNBytes)
{
    plug("cindercart");
    sim::chip(0).fill(0, 0x100, 0xFF);
    auto data = pattern(32, 5);
    Link link;
    EXPECT_EQ(link.flashWriteN(0x10, data.data(), 0, 5, 0), REPLY_SUCCESS);
    for (uint32_t i = 0; i < 5; ++i)
        EXPECT_EQ(sim::chip(0).peek(0x10 + i), data[i]);
    EXPECT_EQ(sim::chip(0).peek(0x15), 0xFF);
}

TEST_F(Firmware, FlashWriteNRefusesLengthsTheMessageCannotHold)
{
    plug("cindercart");
    sim::chip(0).fill(0, 0x100, 0xFF);
    auto data = pattern(32, 5);
    Link link;
    EXPECT_EQ(link.flashWriteN(0x10, data.data(), 0, 0, 0), REPLY_FAIL);
    build_flash_write_N_command(link.buf, 0x10, data.data(), 0, 32, 0);
    link.buf[MSG_LENGTH] = 33;
    ASSERT_TRUE(link.exchange(link.buf));
    EXPECT_EQ(link.buf[0], REPLY_FAIL);
    link.buf[MSG_LENGTH] = 255;
    build_flash_write_N_command(link.buf, 0x10, data.data(), 0, 32, 0);
    link.buf[MSG_LENGTH] = 255;
    ASSERT_TRUE(link.exchange(link.buf));
    EXPECT_EQ(link.buf[0], REPLY_FAIL);
    EXPECT_EQ(sim::counters().bytesProgrammed, 0u);
}

TEST_F(Firmware, FlashWrite64xNTakesNPacketsThenRepliesWithTheCount)
{
    plug("cindercart");
    sim::chip(1).fill(0, 0x10000, 0xFF);
    auto data = pattern(64 * 8, 7);
    Link link;
    uint8_t result = 0, processed = 0;
    sim::Mark m = sim::mark();
    ASSERT_TRUE(link.flashWrite64xN(0x1000, data.data(), 1, 8, 0, &result, &processed));
    EXPECT_EQ(result, REPLY_FLASH_WRITE64XN);
    EXPECT_EQ(processed, 8);
    for (uint32_t i = 0; i < data.size(); ++i)
        ASSERT_EQ(sim::chip(1).peek(0x1000 + i), data[i]) << i;
    // Nothing answers the data packets themselves.
    auto t = sim::transfersSince(m);
    ASSERT_EQ(t.size(), 10u);
    for (size_t i = 0; i < 9; ++i)
        EXPECT_FALSE(t[i].in());
    EXPECT_TRUE(t[9].in());
}

TEST_F(Firmware, FlashWrite64xNStopsProgrammingAtTheFirstFailureButTakesEveryPacket)
{
    plug("cindercart");
    sim::chip(0).fill(0, 0x1000, 0xFF);
    sim::chip(0).poke(0x80 + 5, 0x00);  // packet 2 cannot be written
    std::vector<uint8_t> data(64 * 4, 0x5A);
    Link link;
    uint8_t result = 0, processed = 0;
    ASSERT_TRUE(link.flashWrite64xN(0, data.data(), 0, 4, 1, &result, &processed));
    EXPECT_EQ(result, REPLY_FLASH_WRITE64XN);
    EXPECT_EQ(processed, 2);
    EXPECT_EQ(sim::chip(0).peek(0x7F), 0x5A);
    EXPECT_EQ(sim::chip(0).peek(0xC0), 0xFF) << "packets after the failure are not programmed";
    EXPECT_EQ(sim::pendingPackets(), 0u);
    EXPECT_EQ(sim::chip(0).mode(), sim::FlashChip::Mode::Read);
    // The link is in step: the next command gets its own reply.
    uint8_t major = 0, minor = 0;
    EXPECT_EQ(link.getVersionReplyCode(&major, &minor), REPLY_GETVERSION);
}

TEST_F(Firmware, FlashWrite64xNOfZeroPacketsRepliesAtOnce)
{
    Link link;
    uint8_t result = 0, processed = 9;
    ASSERT_TRUE(link.flashWrite64xN(0, nullptr, 0, 0, 0, &result, &processed));
    EXPECT_EQ(result, REPLY_FLASH_WRITE64XN);
    EXPECT_EQ(processed, 0);
}

TEST_F(Firmware, BlinkLedSucceedsAndKeepsTheSetting)
{
    Link link;
    build_blink_led_command(link.buf, 2);
    ASSERT_TRUE(link.exchange(link.buf));
    EXPECT_EQ(link.buf[0], REPLY_SUCCESS);
    EXPECT_EQ(sim::ledSetting(), 2);
}

TEST_F(Firmware, SpiSendRecvGetsAReply)
{
    Link link;
    build_SPI_send_recv_command(link.buf, 0x3C);
    ASSERT_TRUE(link.exchange(link.buf));
    EXPECT_EQ(link.buf[0], REPLY_SUCCESS);
}

TEST_F(Firmware, UnknownCodesGetAFailReply)
{
    Link link;
    for (uint8_t code : {0x0B, 0x10, 0x11, 0x3F, 0x80, 0xFF}) {
        memset(link.buf, 0, sizeof link.buf);
        link.buf[0] = code;
        ASSERT_TRUE(link.exchange(link.buf)) << int(code);
        EXPECT_EQ(link.buf[0], REPLY_FAIL) << int(code);
    }
}

TEST_F(Firmware, AChipIndexOtherThanZeroOrOneIsRefused)
{
    Link link;
    EXPECT_EQ(link.readByte(0, 2), -1);
    EXPECT_EQ(link.buf[0], REPLY_FAIL);
    EXPECT_EQ(link.writeByte(0, 0, 7), REPLY_FAIL);
    std::vector<uint8_t> data(32, 0);
    EXPECT_EQ(link.flashWrite32(0, data.data(), 2, 0), REPLY_FAIL);
    EXPECT_EQ(sim::counters().busCycles, 0u);
}

TEST_F(Firmware, AHostErasesAndPollsUntilBitSeven)
{
    plug("cindercart");
    Link link;
    link.chipErase(0);
    int prev = -1, polls = 0, v = 0;
    while (((v = link.readByte(0, 0)) & 0x80) == 0) {
        ASSERT_NE(v, prev) << "an erasing chip never reads the same twice";
        prev = v;
        ASSERT_LT(++polls, 100);
    }
    EXPECT_EQ(v, 0xFF);
    EXPECT_GT(polls, 0);
    EXPECT_EQ(sim::chip(0).peek(0x1FFFFF), 0xFF);
    EXPECT_EQ(sim::counters().chipErases, 1u);
}

}  // namespace
