// The firmware's answer to every message, driven through libusb bulk
// transfers with messages from the host half of the protocol module.
#include "sim_host.h"

#include <gtest/gtest.h>

#include <functional>

using namespace simtest;

namespace {

class Firmware : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::reset();
        ASSERT_TRUE(sim::insertCart("cindercart"));  // two unprotected chips
    }
};

TEST_F(Firmware, EveryMessageGetsItsReplyCodeAndARefusedOneTouchesNoBus)
{
    sim::chip(0).fill(0, 0x1000, 0xFF);
    const auto data = pattern(32, 1);
    // The builder copies `length` bytes: a length the message cannot hold goes in afterwards.
    const auto n = [&](uint8_t length, uint8_t chip) {
        return [=, &data](uint8_t* b) {
            build_flash_write_N_command(b, 0x10, data.data(), chip, std::min<uint8_t>(length, 32), 0);
            b[MSG_LENGTH] = length;
        };
    };
    const auto code = [](uint8_t c) {
        return [c](uint8_t* b) {
            memset(b, 0, MSG_LEN);
            b[0] = c;
        };
    };
    const struct {
        const char* what;
        std::function<void(uint8_t*)> build;
        uint8_t reply;
    } rows[] = {
        {"getversion", [](uint8_t* b) { build_getversion_command(b); }, REPLY_GETVERSION},
        {"read", [](uint8_t* b) { build_read_command(b, 0x24, 1); }, REPLY_READ},
        {"write", [](uint8_t* b) { build_write_command(b, 0x24, 0xFF, 1); }, REPLY_SUCCESS},
        {"flash_write_32", [&](uint8_t* b) { build_flash_write_32_command(b, 0x100, data.data(), 0, 1); },
         REPLY_SUCCESS},
        {"flash_write_N", n(5, 0), REPLY_SUCCESS},
        {"blink_led", [](uint8_t* b) { build_blink_led_command(b, 2); }, REPLY_SUCCESS},
        {"SPI_send_recv", [](uint8_t* b) { build_SPI_send_recv_command(b, 0x3C); }, REPLY_SUCCESS},
        {"read of chip 2", [](uint8_t* b) { build_read_command(b, 0, 2); }, REPLY_FAIL},
        {"write to chip 7", [](uint8_t* b) { build_write_command(b, 0, 0, 7); }, REPLY_FAIL},
        {"read64xN of chip 2", [](uint8_t* b) { build_read64xN_command(b, 0, 2, 1); }, REPLY_FAIL},
        {"flash_write_32 to chip 2",
         [&](uint8_t* b) { build_flash_write_32_command(b, 0, data.data(), 2, 0); }, REPLY_FAIL},
        {"flash_write_N of 0 bytes", n(0, 0), REPLY_FAIL},
        {"flash_write_N to chip 2", n(1, 2), REPLY_FAIL},
        {"flash_write_N of 33 bytes", n(33, 0), REPLY_FAIL},
        {"flash_write_N of 255 bytes", n(255, 0), REPLY_FAIL},
        {"code 0x0B", code(0x0B), REPLY_FAIL}, {"code 0x10", code(0x10), REPLY_FAIL},
        {"code 0x11", code(0x11), REPLY_FAIL}, {"code 0x3F", code(0x3F), REPLY_FAIL},
        {"code 0x80", code(0x80), REPLY_FAIL}, {"code 0xFF", code(0xFF), REPLY_FAIL},
    };
    Link link;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const auto before = sim::counters();
        row.build(link.buf);
        EXPECT_EQ(link.exchange(), row.reply);
        if (row.reply == REPLY_FAIL) {
            EXPECT_EQ(sim::counters().busCycles, before.busCycles);
            EXPECT_EQ(sim::pendingPackets(), 0u);
        }
    }
    EXPECT_EQ(sim::ledSetting(), 2);
    EXPECT_EQ(sim::counters().bytesProgrammed, 32u + 5u);
}

TEST_F(Firmware, ReadEchoesAddressAndChipWithTheByte)
{
    sim::chip(1).poke(0x1ABCDE, 0x5C);
    Link link;
    build_read_command(link.buf, 0x1ABCDE, 1);
    ASSERT_EQ(link.exchange(), REPLY_READ);
    const uint8_t want[6] = {REPLY_READ, 0x1A, 0xBC, 0xDE, 0x5C, 1};
    for (int i = 1; i < 6; ++i)
        EXPECT_EQ(link.buf[i], want[i]) << i;
}

TEST_F(Firmware, AnEmptyPositionReadsBackTheLastValueOnTheBus)
{
    for (const char* cart : {"official16", "none"}) {
        SCOPED_TRACE(cart);
        ASSERT_TRUE(sim::insertCart(cart));
        Link link;
        for (uint8_t c = sim::chip(0).present() ? 1 : 0; c < 2; ++c) {  // the empty positions
            link.command(c, 0xF0);
            link.command(c, 0x90);
            for (uint32_t a : {0, 1, 3})
                EXPECT_EQ(link.readByte(a, c), 0x90) << int(c) << " " << a;
        }
    }
    // A read from a real chip drives the bus; the empty position then echoes it.
    ASSERT_TRUE(sim::insertCart("official16"));
    Link link;
    const int first = link.readByte(0x24, 0);
    EXPECT_EQ(link.readByte(0, 1), first);
}

// Each byte is read back whole before it counts as written.
TEST_F(Firmware, AFlashWriteFailsOnBitsThatWouldRiseOrAProtectedBlockButNotInTheSaveArea)
{
    auto ones = std::vector<uint8_t>(32, 0xFF);
    ones[0] = 0x00;  // the first byte can be written, the second cannot
    const struct {
        const char* cart;
        uint32_t address;
        int fill;  // -1: leave the contents
        std::vector<uint8_t> data;
        uint8_t reply;
    } rows[] = {
        {"cindercart", 0x200, 0x00, ones, REPLY_FAIL},
        {"official16", 0x10000, -1, std::vector<uint8_t>(32, 0x00), REPLY_FAIL},
        {"official16", 0x1FA000, 0xFF, pattern(32, 9), REPLY_SUCCESS},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        ASSERT_TRUE(sim::insertCart(row.cart));
        if (row.fill >= 0)
            sim::chip(0).fill(row.address, 32, uint8_t(row.fill));
        const auto& array = sim::chip(0).contents();
        const std::vector<uint8_t> before(array.begin() + row.address, array.begin() + row.address + 32);
        const std::vector<uint8_t>& want = row.reply == REPLY_SUCCESS ? row.data : before;
        Link link;
        EXPECT_EQ(link.flashWrite32(row.address, row.data.data(), 0, 0), row.reply);
        EXPECT_EQ(std::vector<uint8_t>(array.begin() + row.address, array.begin() + row.address + 32), want);
        EXPECT_EQ(link.readByte(row.address, 0), want[0]) << "the chip is left readable";
    }
}

TEST_F(Firmware, EachByteTakesTheFourCycleProgramCommandOrWithTurboUnlockBypass)
{
    sim::chip(0).fill(0, 0x100, 0xFF);
    const auto data = pattern(32, 1);
    for (uint8_t turbo : {0, 1}) {
        SCOPED_TRACE(int(turbo));
        const uint32_t at = turbo ? 0xC0 : 0x80;
        std::vector<std::pair<uint32_t, uint8_t>> want;
        if (turbo)
            want = {{0x5555, 0xAA}, {0x2AAA, 0x55}, {0x5555, 0x20}};  // into unlock bypass
        for (uint32_t i = 0; i < 32; ++i) {
            if (turbo)
                want.insert(want.end(), {{0, 0xA0}, {at + i, data[i]}});
            else
                want.insert(want.end(), {{0x5555, 0xAA}, {0x2AAA, 0x55}, {0x5555, 0xA0}, {at + i, data[i]}});
        }
        if (turbo)
            want.insert(want.end(), {{0, 0x90}, {0, 0x00}});  // and out again
        Link link;
        sim::Mark m = sim::mark();
        ASSERT_EQ(link.flashWrite32(at, data.data(), 0, turbo), REPLY_SUCCESS);
        std::vector<std::pair<uint32_t, uint8_t>> got;
        for (const auto& c : sim::busWritesSince(m)) {
            got.push_back({c.address, c.value});
            EXPECT_FALSE(c.fromHost);
        }
        EXPECT_EQ(got, want);
        EXPECT_EQ(sim::chip(0).mode(), sim::FlashChip::Mode::Read);
        for (uint32_t i = 0; i < 32; ++i)
            EXPECT_EQ(sim::chip(0).peek(at + i), data[i]);
    }
}

// After a packet that fails (bits that would rise, or a data packet cut
// short) the rest are taken but not programmed, and the reply counts the
// packets written whole.
TEST_F(Firmware, FlashWrite64xNStopsProgrammingAtTheFirstFailureButTakesEveryPacket)
{
    std::vector<uint8_t> data(64 * 4, 0x5A);
    for (int processed : {2, 1}) {
        SCOPED_TRACE(processed);
        sim::chip(0).fill(0, 0x1000, 0xFF);
        Link link;
        if (processed == 2)
            sim::chip(0).poke(0x80 + 5, 0x00);
        else
            sim::shortPacketOnTransfer(3, 16);  // command, packet 0, packet 1
        build_flash_write64xN_command(link.buf, 0, 0, 4, 1);
        ASSERT_EQ(link.send(link.buf), 0);
        for (int k = 0; k < 4; ++k) {
            build_flash_write64xN_data_packet(link.buf, data.data() + 64 * k);
            ASSERT_EQ(link.send(link.buf), 0);
        }
        int n = 0;
        ASSERT_EQ(link.receive(link.buf, &n), 0);
        ASSERT_EQ(n, 64);
        uint8_t result = 0, count = 0;
        get_flash_write64xN_reply(link.buf, &result, &count);
        EXPECT_EQ(result, REPLY_FLASH_WRITE64XN);
        EXPECT_EQ(count, processed);
        EXPECT_EQ(sim::chip(0).peek(64 * processed - 1), 0x5A);
        EXPECT_EQ(sim::chip(0).peek(64 * processed + 0x40), 0xFF) << "packets after the failure are not programmed";
        EXPECT_EQ(sim::pendingPackets(), 0u);
        EXPECT_EQ(sim::chip(0).mode(), sim::FlashChip::Mode::Read);
        EXPECT_EQ(link.readByte(0, 0), 0x5A) << "the link is in step: the next command gets its own reply";
    }
}

}  // namespace
