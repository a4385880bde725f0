// The program's messages as the simulated linker reads them, and the
// linker's replies as the program reads them. The two sides state their codes
// and byte positions apart, so a code or a field the program gets wrong shows
// here as a command the device misreads or a reply the program refuses.
#include "core/link/protocol.h"
#include "messages.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using Kind = sim::Command::Kind;
using Msg = std::array<uint8_t, 64>;

// Bytes a builder leaves alone hold this, so a field written to the wrong
// byte is read back as 0xA5 where the device looks for it.
Msg leftovers()
{
    Msg m;
    m.fill(0xA5);
    return m;
}

TEST(SimMessages, EveryCommandTheProgramBuildsIsTheCommandTheDeviceReads)
{
    std::vector<uint8_t> data(32);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(0x40 + i);
    const uint8_t* src = data.data();
    const struct {
        const char* what;
        std::function<void(uint8_t*)> build;
        sim::Command want;  // data points at the bytes expected in the message's data field
    } rows[] = {
        {"getversion", [](uint8_t* m) { build_getversion_command(m); }, {Kind::GetVersion}},
        {"read", [](uint8_t* m) { build_read_command(m, 0x1FFFFF, 1); }, {Kind::Read, 0x1FFFFF, 0, 1}},
        {"write", [](uint8_t* m) { build_write_command(m, 0x1A2B3C, 0x5E, 1); },
         {Kind::Write, 0x1A2B3C, 0x5E, 1}},
        {"read64xN", [](uint8_t* m) { build_read64xN_command(m, 0x0C0, 1, 0x7F); },
         {Kind::Read64xN, 0x0C0, 0, 1, 0x7F}},
        {"read64", [](uint8_t* m) { build_read64_command(m, 0x1FFFC0, 0); }, {Kind::Read64xN, 0x1FFFC0, 0, 0, 1}},
        {"flash_write_32", [&](uint8_t* m) { build_flash_write_32_command(m, 0x100, src, 1, 1); },
         {Kind::FlashWrite32, 0x100, 0, 1, 0, 32, 1, src}},
        {"flash_write_N", [&](uint8_t* m) { build_flash_write_N_command(m, 0x10305, src, 0, 5, 1); },
         {Kind::FlashWriteN, 0x10305, 0, 0, 0, 5, 1, src}},
        {"flash_write64xN", [](uint8_t* m) { build_flash_write64xN_command(m, 0x2000, 1, 255, 0); },
         {Kind::FlashWrite64xN, 0x2000, 0, 1, 255, 0, 0}},
        {"blink_led", [](uint8_t* m) { build_blink_led_command(m, 2); }, {Kind::BlinkLed, 0, 2}},
        {"SPI_send_recv", [](uint8_t* m) { build_SPI_send_recv_command(m, 0x3C); }, {Kind::SpiSendRecv, 0, 0x3C}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Msg m = leftovers();
        row.build(m.data());
        const sim::Command got = sim::parseCommand(m.data());
        EXPECT_EQ(got.kind, row.want.kind);
        EXPECT_EQ(got.address, row.want.address);
        EXPECT_EQ(got.value, row.want.value);
        EXPECT_EQ(got.chip, row.want.chip);
        EXPECT_EQ(got.count, row.want.count);
        EXPECT_EQ(got.length, row.want.length);
        EXPECT_EQ(got.turbo, row.want.turbo);
        ASSERT_EQ(got.data != nullptr, row.want.data != nullptr);
        if (got.data) {
            EXPECT_EQ(memcmp(got.data, row.want.data, got.length), 0);
        }
    }
}

TEST(SimMessages, ReplyCodesAndStrayBytesAreNoCommand)
{
    for (uint8_t code : {0x03, 0x08, 0x0B, 0x10, 0x11, 0x80, 0xFF}) {
        SCOPED_TRACE(code);
        Msg m = leftovers();
        m[0] = code;
        const sim::Command got = sim::parseCommand(m.data());
        EXPECT_EQ(got.kind, Kind::Unknown);
        EXPECT_EQ(got.address | got.value | got.chip | got.count | got.length | got.turbo, 0u);
        EXPECT_EQ(got.data, nullptr);
    }
}

TEST(SimMessages, EveryReplyTheDeviceBuildsIsTheReplyTheProgramAccepts)
{
    Msg m = leftovers();
    sim::putVersionReply(m.data(), 0, 13);
    uint8_t major = 0xFF, minor = 0xFF;
    get_getversion_reply(m.data(), &major, &minor);
    EXPECT_EQ(major, 0);
    EXPECT_EQ(minor, 13) << "a version reply the program does not know reads as v0.00";

    sim::putReadReply(m.data(), 0x1A2B3C, 0x5E, 1);
    uint32_t address = 0;
    uint8_t value = 0;
    ASSERT_TRUE(get_read_reply(m.data(), &address, &value));
    EXPECT_EQ(address, 0x1A2B3Cu);
    EXPECT_EQ(value, 0x5E);

    sim::putFlashWrite64xNReply(m.data(), 7);
    uint8_t result = 0, processed = 0;
    get_flash_write64xN_reply(m.data(), &result, &processed);
    EXPECT_EQ(result, REPLY_FLASH_WRITE64XN);
    EXPECT_EQ(processed, 7);

    sim::putSuccessReply(m.data());
    get_result_reply(m.data(), &result);
    EXPECT_EQ(result, REPLY_SUCCESS);
    sim::putFailReply(m.data());
    get_result_reply(m.data(), &result);
    EXPECT_EQ(result, REPLY_FAIL);
    EXPECT_NE(result, REPLY_SUCCESS);
}

}  // namespace
