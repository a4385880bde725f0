// Message layouts as the linker reads them: byte for byte, including the
// bytes a builder must leave alone. Replies come from the simulated linker.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "core/link/protocol.h"
#include "messages.h"

using Msg = std::array<uint8_t, 64>;

static Msg filled(uint8_t v)
{
    Msg m;
    m.fill(v);
    return m;
}

TEST(Protocol, AddressTravelsBigEndianInItsLow24Bits)
{
    Msg m = filled(0xEE);
    build_read_command(m.data(), 0x1FFFFF, 1);
    EXPECT_EQ(m[0], 0x01);
    EXPECT_EQ(m[1], 0x1F);
    EXPECT_EQ(m[2], 0xFF);
    EXPECT_EQ(m[3], 0xFF);
    EXPECT_EQ(m[4], 0xEE) << "value byte is not part of a read command";
    EXPECT_EQ(m[5], 1);

    build_write_command(m.data(), 0xAB123456, 0x5A, 0);
    EXPECT_EQ(m[0], 0x02);
    EXPECT_EQ(m[1], 0x12) << "bits above 23 must be dropped";
    EXPECT_EQ(m[2], 0x34);
    EXPECT_EQ(m[3], 0x56);
    EXPECT_EQ(m[4], 0x5A);
    EXPECT_EQ(m[5], 0);
}

TEST(Protocol, Read64IsRead64xNWithCountOne)
{
    Msg a = filled(0x77), b = filled(0x77);
    build_read64_command(a.data(), 0x012345, 1);
    build_read64xN_command(b.data(), 0x012345, 1, 1);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a[0], 0x04);
    EXPECT_EQ(a[6], 1);
}

TEST(Protocol, BuildersKeepStaleBytesOfThePreviousMessage)
{
    Msg m;
    for (int i = 0; i < 64; i++)
        m[i] = uint8_t(i + 100);
    Msg before = m;
    build_getversion_command(m.data());
    EXPECT_EQ(m[0], 0x00);
    for (int i = 1; i < 64; i++)
        EXPECT_EQ(m[i], before[i]) << "byte " << i;

    uint8_t src[32];
    for (int i = 0; i < 32; i++)
        src[i] = uint8_t(0xC0 + i);
    m = filled(0x33);
    build_flash_write_N_command(m.data(), 0x000102, src, 1, 5, 1);
    EXPECT_EQ(m[0], 0x06);
    EXPECT_EQ(m[3], 0x02);
    EXPECT_EQ(m[5], 1);
    EXPECT_EQ(m[7], 5);
    EXPECT_EQ(m[8], 1);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(m[32 + i], src[i]);
    for (int i = 37; i < 64; i++)
        EXPECT_EQ(m[i], 0x33) << "byte " << i << " past the length must stay";
    EXPECT_EQ(m[6], 0x33);
    EXPECT_EQ(m[4], 0x33);
}

TEST(Protocol, FlashWriteCommandsCarryTurboAndData)
{
    uint8_t src[64];
    for (int i = 0; i < 64; i++)
        src[i] = uint8_t(i * 3);
    Msg m = filled(0);
    build_flash_write_32_command(m.data(), 0x1FA000, src, 0, 1);
    EXPECT_EQ(m[0], 0x05);
    EXPECT_EQ(m[1], 0x1F);
    EXPECT_EQ(m[2], 0xA0);
    EXPECT_EQ(m[8], 1);
    EXPECT_EQ(0, memcmp(m.data() + 32, src, 32));

    m = filled(0x44);
    build_flash_write64xN_command(m.data(), 0x200, 1, 8, 0);
    EXPECT_EQ(m[0], 0x07);
    EXPECT_EQ(m[5], 1);
    EXPECT_EQ(m[6], 8);
    EXPECT_EQ(m[7], 0x44);
    EXPECT_EQ(m[8], 0);

    build_flash_write64xN_data_packet(m.data(), src);
    EXPECT_EQ(0, memcmp(m.data(), src, 64));

    m = filled(0);
    build_blink_led_command(m.data(), 2);
    EXPECT_EQ(m[0], 0x09);
    EXPECT_EQ(m[4], 2);
    build_SPI_send_recv_command(m.data(), 0x9F);
    EXPECT_EQ(m[0], 0x0A);
    EXPECT_EQ(m[4], 0x9F);
}

TEST(Protocol, VersionReplyWithAnotherCodeMeansVersionZero)
{
    Msg m = filled(0);
    sim::putVersionReply(m.data(), 0, 13);
    uint8_t major = 9, minor = 9;
    get_getversion_reply(m.data(), &major, &minor);
    EXPECT_EQ(major, 0);
    EXPECT_EQ(minor, 13);

    m[0] = 0x10;
    m[1] = 7;
    m[2] = 7;
    get_getversion_reply(m.data(), &major, &minor);
    EXPECT_EQ(major, 0);
    EXPECT_EQ(minor, 0);
}

TEST(Protocol, ReadReplyOfTheWrongKindLeavesOutputsAlone)
{
    Msg m = filled(0);
    sim::putReadReply(m.data(), 0x1FFFFE, 0x41, 1);
    uint32_t a = 0;
    uint8_t v = 0;
    ASSERT_TRUE(get_read_reply(m.data(), &a, &v));
    EXPECT_EQ(a, 0x1FFFFEu);
    EXPECT_EQ(v, 0x41);
    EXPECT_EQ(m[5], 1);

    sim::putSuccessReply(m.data());
    a = 0xDEAD;
    v = 0x77;
    EXPECT_FALSE(get_read_reply(m.data(), &a, &v));
    EXPECT_EQ(a, 0xDEADu);
    EXPECT_EQ(v, 0x77);
}

TEST(Protocol, FlashWrite64xNReplyIsReportedUnchecked)
{
    Msg m = filled(0);
    sim::putFlashWrite64xNReply(m.data(), 4);
    uint8_t result, count;
    get_flash_write64xN_reply(m.data(), &result, &count);
    EXPECT_EQ(result, 0x08);
    EXPECT_EQ(count, 4);

    sim::putFailReply(m.data());
    get_flash_write64xN_reply(m.data(), &result, &count);
    EXPECT_EQ(result, 0x10);
    EXPECT_EQ(count, 4) << "whatever byte 6 holds";
    get_result_reply(m.data(), &result);
    EXPECT_EQ(result, 0x10);
}
