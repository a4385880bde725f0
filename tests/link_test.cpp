// The transfer primitives against the simulated linker: what goes over the
// wire, what comes back, and exactly what the log says when it goes wrong.
#include <gtest/gtest.h>

#include <libusb.h>

#include <functional>
#include <vector>

#include "core/link/linker.h"
#include "sim.h"
#include "support/job_fixture.h"
#include "gui/log.h"

// The fixture is named after what it tests; the program's own Link is
// reached through theLink().
namespace {

using Lines = std::vector<std::string>;

static Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Link : public JobTest {
protected:
    // A new device and a link opened to it, as if the program had restarted.
    void freshLink()
    {
        closeLink();
        sim::reset();
        ASSERT_TRUE(openLink(windowReporter()));
        clearLog();
    }
};

static const Lines TIMEOUT_LINES = {"", "Error: LIBUSB_ERROR_TIMEOUT", "Operation timed out."};

TEST_F(Link, EachPrimitiveDoesItsOneThingWhenAllGoesWell)
{
    sim::insertCart("cindercart");
    uint8_t major = 9, minor = 9;
    EXPECT_EQ(theLink().checkLinker(&major, &minor), 0);
    EXPECT_EQ(major, 0);
    EXPECT_EQ(minor, 13);
    EXPECT_EQ(logLines(), Lines({"Checking for the linker and the cart..\n"}));
    clearLog();

    sim::chip(1).poke(0x1FFFFF, 0x5A);
    EXPECT_EQ(theLink().read_byte(0x1FFFFF, 1).value_or(0), 0x5A);

    auto m = sim::mark();
    theLink().write_byte(0x5555, 0xAA, 1);
    auto writes = sim::hostWritesSince(m);
    ASSERT_EQ(writes.size(), 1u) << "one raw bus write";
    EXPECT_EQ(writes[0].chip, 1);
    EXPECT_EQ(writes[0].address, 0x5555u);
    EXPECT_EQ(writes[0].value, 0xAA);

    sim::chip(1).fill(0x1000, 0x100, 0xFF);
    uint8_t data[64];
    for (int i = 0; i < 64; i++)
        data[i] = uint8_t(i ^ 0x5C);
    theLink().flash_write_32_bytes(0x1000, data, 1, 0);
    theLink().flash_write_N_bytes(0x1020, data + 32, 1, 5, 1);
    for (int i = 0; i < 37; i++)
        EXPECT_EQ(sim::chip(1).peek(0x1000 + i), data[i]) << i;
    EXPECT_EQ(sim::chip(1).peek(0x1025), 0xFF) << "past the length nothing is programmed";

    theLink().build_tetherbox_led(2);
    EXPECT_EQ(sim::ledSetting(), 2);
    EXPECT_TRUE(logLines().empty());

    // A version reply with another code is still a success: version 0.00.
    sim::setFirmware(1, 7);
    sim::wrongCodeOnTransfer(2, 0x10);
    EXPECT_EQ(theLink().checkLinker(&major, &minor), 0);
    EXPECT_EQ(major, 0);
    EXPECT_EQ(minor, 0);
}

// Every way a request can fail, for every primitive: the result the caller
// gets, the exact lines logged, and how many transfers were attempted.
TEST_F(Link, EveryFailureIsWordedByThePrimitiveThatMetIt)
{
    enum Fault { TIMEOUT, SHORT, CODE };
    static uint8_t buf[4 * 64];
    static uint8_t major, minor;
    static bool told;  // the primitive said it failed
    const Lines CHECKING = {"Checking for the linker and the cart..\n"};
    const struct {
        const char* what;
        Fault fault;
        int transfer, arg;  // arg: a short packet's length, or the wrong code
        std::function<int()> call;
        int result;         // what the caller gets back (writers: 0)
        Lines lines;
        int transfers;      // attempted, or -1 when not the point
    } cases[] = {
        {"checkLinker, reply times out", TIMEOUT, 2, 0, [] { int r = theLink().checkLinker(&major, &minor); told = r == -1; return r; }, -1,
         CHECKING + TIMEOUT_LINES, 2},
        {"checkLinker, short reply", SHORT, 2, 10, [] { int r = theLink().checkLinker(&major, &minor); told = r == -1; return r; }, -1,
         CHECKING + Lines{"check_firmware_version: received 10 byted, expected 64"}, 2},
        {"read_byte, command times out", TIMEOUT, 1, 0, [] { auto v = theLink().read_byte(0x100, 0); told = !v; return int(v.value_or(0)); }, 0,
         TIMEOUT_LINES, 1},
        {"read_byte, reply times out", TIMEOUT, 2, 0, [] { auto v = theLink().read_byte(0x100, 0); told = !v; return int(v.value_or(0)); }, 0,
         TIMEOUT_LINES, 2},
        {"read_byte, short reply", SHORT, 2, 63, [] { auto v = theLink().read_byte(0x100, 0); told = !v; return int(v.value_or(0)); }, 0,
         {"Timeout waiting for reply (addr=0x100)"}, 2},
        {"read_byte, wrong code", CODE, 2, 0x11, [] { auto v = theLink().read_byte(0x100, 0); told = !v; return int(v.value_or(0)); }, 0,
         {"read_byte: get_read_reply failure"}, 2},
        {"write_byte, command times out", TIMEOUT, 1, 0, [] { told = !theLink().write_byte(0x2AAA, 0x55, 0); return 0; }, 0,
         TIMEOUT_LINES, 1},
        {"write_byte, short reply", SHORT, 2, 1, [] { told = !theLink().write_byte(0x2AAA, 0x55, 0); return 0; }, 0,
         {"write_byte: libusb_bulk_transfer fail (addr=0x2AAA)"}, 2},
        {"write_byte, wrong code", CODE, 2, 0x10, [] { told = !theLink().write_byte(0x2AAA, 0x55, 0); return 0; }, 0,
         {"write_byte: result = 0x10"}, 2},
        {"flash_write_32_bytes, short reply", SHORT, 2, 3,
         [] { told = !theLink().flash_write_32_bytes(0x1040, buf, 1, 0); return 0; }, 0,
         {"flash_write_32_bytes: libusb_bulk_transfer fail (addr=0x1040)"}, 2},
        {"flash_write_32_bytes, wrong code", CODE, 2, 0x03,
         [] { told = !theLink().flash_write_32_bytes(0x10A0, buf, 1, 0); return 0; }, 0,
         {"flash_write_32_bytes: result = 0x03"}, 2},
        {"flash_write_N_bytes, short reply", SHORT, 2, 3,
         [] { told = !theLink().flash_write_N_bytes(0x1080, buf, 1, 2, 0); return 0; }, 0,
         {"flash_write_N_bytes: libusb_bulk_transfer fail (addr=0x1080)"}, 2},
        {"flash_write_N_bytes, wrong code", CODE, 2, 0x10,
         [] { told = !theLink().flash_write_N_bytes(0x1060, buf, 1, 2, 0); return 0; }, 0,
         {"flash_write_N_bytes: result = 0x10"}, 2},
        {"build_tetherbox_led, short reply", SHORT, 2, 0, [] { told = !theLink().build_tetherbox_led(2); return 0; }, 0,
         {"build_tetherbox_led: libusb_bulk_transfer fail"}, 2},
        {"build_tetherbox_led, wrong code", CODE, 2, 0x10, [] { told = !theLink().build_tetherbox_led(2); return 0; }, 0,
         {"build_tetherbox_led: result = 0x10"}, 2},
        {"flash_write_64xN_bytes, a data packet times out: no reply is awaited", TIMEOUT, 3, 0,
         [] { told = !theLink().flash_write_64xN_bytes(0, buf, 0, 4, 0); return 0; }, 0, TIMEOUT_LINES, 3},
        {"flash_write_64xN_bytes, short reply", SHORT, 6, 8,
         [] { told = !theLink().flash_write_64xN_bytes(0, buf, 0, 4, 0); return 0; }, 0,
         {"flash_write_64xN_bytes: libusb_bulk_transfer ENDPOINT_BULK_IN fail (addr=0x0)"}, 6},
        {"read_64xN_bytes, command times out", TIMEOUT, 1, 0,
         [] { told = !theLink().read_64xN_bytes(buf, 0x2000, 1, 4); return int(!told); }, 0, TIMEOUT_LINES, 1},
        {"read_64xN_bytes, third packet short: the request's start is named", SHORT, 4, 20,
         [] { told = !theLink().read_64xN_bytes(buf, 0x2000, 1, 4); return int(!told); }, 0,
         {"libusb_bulk_transfer fail (addr=0x2000)"}, 4},
        {"read_64_bytes, short packet", SHORT, 2, 1, [] { told = !theLink().read_64_bytes(0x40, 0); return int(!told); },
         0, {"libusb_bulk_transfer fail (addr=0x40)"}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        freshLink();
        sim::insertCart("cindercart");
        if (c.fault == TIMEOUT)
            sim::timeoutOnTransfer(c.transfer);
        else if (c.fault == SHORT)
            sim::shortPacketOnTransfer(c.transfer, c.arg);
        else
            sim::wrongCodeOnTransfer(c.transfer, uint8_t(c.arg));
        told = false;
        auto m = sim::mark();
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(logLines(), c.lines);
        EXPECT_EQ(int(sim::transfersSince(m).size()), c.transfers);
        EXPECT_TRUE(told) << "each failure is told to its caller";
    }
}

TEST_F(Link, FlashWrite64xNSendsCountPacketsThenReadsOneReply)
{
    sim::insertCart("cindercart");
    sim::chip(0).fill(0, 0x400, 0xFF);
    std::vector<uint8_t> data(256);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = uint8_t(i * 7);

    auto m = sim::mark();
    theLink().flash_write_64xN_bytes(0x100, data.data(), 0, 4, 0);
    EXPECT_TRUE(logLines().empty());
    auto t = sim::transfersSince(m);
    ASSERT_EQ(t.size(), 6u) << "command, 4 packets, reply";
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(t[i].endpoint, EP_OUT);
    EXPECT_EQ(t[5].endpoint, EP_IN);
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(sim::chip(0).peek(0x100 + i), data[i]) << i;

    // Count 0: the command, then straight to the reply.
    m = sim::mark();
    theLink().flash_write_64xN_bytes(0x300, data.data(), 0, 0, 0);
    EXPECT_EQ(sim::transfersSince(m).size(), 2u);
}

TEST_F(Link, FlashWrite64xNFailedReplyLogsResultAndProcessedCount)
{
    sim::insertCart("cindercart");
    sim::chip(0).fill(0, 0x400, 0xFF);
    sim::byteNeverPrograms(0, 0x000);
    sim::wrongCodeOnTransfer(6, 0x10);  // the reply after command and four packets
    std::vector<uint8_t> data(256, 0x12);
    theLink().flash_write_64xN_bytes(0, data.data(), 0, 4, 0);
    EXPECT_EQ(logLines(), Lines({"flash_write_64xN_bytes: result = 0x10",
                                 "flash_write_64xN_bytes: processed 0 packets, but sent 4"}));
}

TEST_F(Link, Read64xNFillsTheCallersBufferPacketByPacket)
{
    std::vector<uint8_t> buf(128 * 64, 0xEE);
    auto m = sim::mark();
    EXPECT_TRUE(theLink().read_64xN_bytes(buf.data(), 0x1000, 0, 0));
    EXPECT_EQ(sim::transfersSince(m).size(), 1u) << "count 0 sends the command only";
    EXPECT_EQ(buf[0], 0xEE);

    ASSERT_TRUE(theLink().read_64xN_bytes(buf.data(), 0x1FE000, 0, 128));
    for (int i = 0; i < 128 * 64; i++)
        ASSERT_EQ(buf[i], sim::chip(0).peek(0x1FE000 + i)) << i;
    const uint8_t* packet = theLink().read_64_bytes(0x40, 0);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet[0], sim::chip(0).peek(0x40));
    EXPECT_TRUE(logLines().empty());
}

TEST_F(Link, AVanishedDeviceIsWordedAsNoDeviceAndRemembered)
{
    EXPECT_FALSE(theLink().gone());
    sim::timeoutOnTransfer(1);
    theLink().read_byte(0, 0).value_or(0);
    EXPECT_FALSE(theLink().gone()) << "a time-out is not a vanished device";

    clearLog();
    sim::unplugAfterTransfers(0);
    EXPECT_EQ(theLink().read_byte(0, 0).value_or(0), 0);
    EXPECT_EQ(logLines(), Lines({"", "Error: LIBUSB_ERROR_NO_DEVICE",
                                 "No such device (it may have been disconnected)."}));
    EXPECT_TRUE(theLink().gone());

    // Once is enough: every later primitive fails at once, without a word.
    clearLog();
    auto m = sim::mark();
    std::vector<uint8_t> buf(64);
    EXPECT_FALSE(theLink().write_byte(0x5555, 0xAA, 0));
    EXPECT_FALSE(theLink().read_64xN_bytes(buf.data(), 0, 0, 1));
    EXPECT_EQ(theLink().read_64_bytes(0, 0), nullptr);
    EXPECT_FALSE(theLink().flash_write_64xN_bytes(0, buf.data(), 0, 1, 0));
    EXPECT_TRUE(logLines().empty());
    EXPECT_TRUE(sim::transfersSince(m).empty());
}

TEST_F(Link, EveryLibusbErrorIsWordedAsTwoLinesAfterAnEmptyOne)
{
    struct Case {
        int code;
        Lines lines;
    } cases[] = {
        {-1, {"", "Error: LIBUSB_ERROR_IO", "Input/output error."}},
        {-2, {"", "Error: LIBUSB_ERROR_INVALID_PARAM", "Invalid parameter."}},
        {-3, {"", "Error: LIBUSB_ERROR_ACCESS", "Access denied (insufficient permissions)."}},
        {-4, {"", "Error: LIBUSB_ERROR_NO_DEVICE", "No such device (it may have been disconnected)."}},
        {-5, {"", "Error: LIBUSB_ERROR_NOT_FOUND", "Entity not found."}},
        {-6, {"", "Error: LIBUSB_ERROR_BUSY", "Resource busy."}},
        {-7, {"", "Error: LIBUSB_ERROR_TIMEOUT", "Operation timed out."}},
        {-8, {"", "Error: LIBUSB_ERROR_OVERFLOW", "Overflow."}},
        {-9, {"", "Error: LIBUSB_ERROR_PIPE", "Pipe error."}},
        {-10, {"", "Error:LIBUSB_ERROR_INTERRUPTED", "System call interrupted (perhaps due to signal)."}},
        {-11, {"", "Error: LIBUSB_ERROR_NO_MEM", "Insufficient memory."}},
        {-12, {"", "Error: LIBUSB_ERROR_NOT_SUPPORTED",
               "Operation not supported or unimplemented on this platform."}},
        {-99, {"", "Error: LIBUSB_ERROR_OTHER\nOther error."}},
        {-13, {"", "Error: unkown error."}},
        {-98, {"", "Error: unkown error."}},
    };
    for (const auto& c : cases) {
        clearLog();
        theLink().print_libusb_error(c.code);
        EXPECT_EQ(logLines(), c.lines) << "code " << c.code;
    }
}

TEST_F(Link, ALateReplyIsNeverTakenForTheNextRequestsAnswer)
{
    sim::chip(0).poke(0x24, 0x11);
    sim::chip(0).poke(0x25, 0x22);
    sim::timeoutOnTransfer(2);
    EXPECT_EQ(theLink().read_byte(0x24, 0).value_or(0), 0);
    EXPECT_EQ(theLink().read_byte(0x25, 0).value_or(0), 0x22);

    // The same after a multi-packet read that stopped with packets owed.
    std::vector<uint8_t> buf(8 * 64);
    sim::shortPacketOnTransfer(3, 5);
    EXPECT_FALSE(theLink().read_64xN_bytes(buf.data(), 0x1000, 0, 8));
    EXPECT_EQ(theLink().read_byte(0x24, 0).value_or(0), 0x11);
    EXPECT_EQ(sim::pendingPackets(), 0u);

    // Nothing is drained when nothing went wrong.
    auto m = sim::mark();
    theLink().read_byte(0x25, 0).value_or(0);
    EXPECT_EQ(sim::transfersSince(m).size(), 2u);
}

TEST_F(Link, ALinkerLeftWaitingForDataIsResetBeforeTheNextCommand)
{
    sim::insertCart("cindercart");
    sim::chip(1).fill(0, 0x400, 0xFF);
    std::vector<uint8_t> data(4 * 64, 0x12);
    sim::timeoutOnTransfer(3);  // the second of four data packets
    theLink().flash_write_64xN_bytes(0, data.data(), 1, 4, 0);

    // Taken for data, these would be programmed into the chip at 0x40 on.
    theLink().write_byte(0x5555, 0xAA, 1);
    EXPECT_EQ(theLink().read_byte(0x100, 1).value_or(0), 0xFF);
    for (uint32_t a = 0x40; a < 0x100; a++)
        ASSERT_EQ(sim::chip(1).peek(a), 0xFF) << std::hex << a;
    EXPECT_EQ(logLines(), TIMEOUT_LINES) << "nothing failed after the reset";
}

}  // namespace
