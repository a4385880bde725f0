// The flash chip model on its own: command sequences cycle by cycle, with the
// modelled time passed in explicitly.
#include "clock.h"
#include "flash_chip.h"

#include <gtest/gtest.h>

using namespace sim;

namespace {

class Chip : public ::testing::Test {
protected:
    void SetUp() override { resetCosts(); }

    void w(uint32_t a, uint8_t v) { c.write(a, v, t); }
    uint8_t r(uint32_t a) { return c.read(a, t); }
    // The two unlock cycles, then `cmd` at `at`.
    void command(uint8_t cmd, uint32_t at = FLASH_UNLOCK_ADDR1)
    {
        w(FLASH_UNLOCK_ADDR1, FLASH_UNLOCK_DATA1);
        w(FLASH_UNLOCK_ADDR2, FLASH_UNLOCK_DATA2);
        w(at, cmd);
    }
    void program(uint32_t a, uint8_t v)
    {
        command(FLASH_CMD_PROGRAM);
        w(a, v);
        t += costs().byteProgram;
    }

    FlashChip c{0x98, 0x2F, 0x81};
    double t = 0;
};

TEST_F(Chip, IdentifyShowsTheIdsAndEachBlocksProtectionUntilReset)
{
    for (uint8_t device : {0xAB, 0x2C, 0x2F}) {
        SCOPED_TRACE(int(device));
        c = FlashChip(0x98, device, 0x81);
        for (int b = 0; b < c.blocks(); b += 2)
            c.setBlockProtected(b, true);
        c.poke(0, 0x42);
        c.poke(1, 0x43);
        EXPECT_EQ(r(0), 0x42);
        EXPECT_EQ(c.mode(), FlashChip::Mode::Read);
        command(FLASH_CMD_IDENTIFY);
        for (int b = 0; b < c.blocks(); ++b)
            EXPECT_EQ(r(blockStart(c.size(), b) + 2), b % 2 == 0 ? 1 : 0) << "block " << b;
        EXPECT_EQ(r(0), 0x98);
        EXPECT_EQ(r(1), device);
        EXPECT_EQ(r(3), 0x81);
        EXPECT_EQ(r(0), 0x98) << "reads do not leave identify mode";

        command(FLASH_CMD_RESET);
        EXPECT_EQ(r(0), 0x42);
        command(FLASH_CMD_IDENTIFY);
        ASSERT_EQ(r(0), 0x98);
        w(0x1234, FLASH_CMD_RESET);  // a lone 0xF0 resets as well
        EXPECT_EQ(r(0), 0x42);
        // The program's probe (reset, then identify) from reading and from identify mode.
        for (int round = 0; round < 2; ++round) {
            command(FLASH_CMD_RESET);
            command(FLASH_CMD_IDENTIFY);
            EXPECT_EQ(r(0), 0x98);
            EXPECT_EQ(r(1), device);
            EXPECT_EQ(r(3), 0x81);
        }
    }
}

TEST_F(Chip, AWrongOrStrayCycleOrAWriteDuringAnEraseChangesNothing)
{
    c.poke(0, 0x42);
    c.poke(0x100, 0xFF);
    w(0x100, 0x00);  // a stray write in reading mode
    EXPECT_EQ(r(0x100), 0xFF);
    EXPECT_EQ(c.bytesProgrammed(), 0u);
    const uint32_t addr[] = {0x2AAB, 0x2AAA};
    const uint8_t data[] = {0x55, 0x54};
    for (int k = 0; k < 2; ++k) {
        w(0x5555, 0xAA);
        w(addr[k], data[k]);
        w(0x5555, 0x90);
        EXPECT_EQ(r(0), 0x42) << k;
    }
    // A fresh 0xAA restarts the sequence straight after an abandoned one.
    w(0x5555, 0xAA);
    command(FLASH_CMD_IDENTIFY);
    EXPECT_EQ(r(0), 0x98);

    command(FLASH_CMD_RESET);
    command(FLASH_CMD_ERASE_SETUP);
    command(FLASH_CMD_BLOCK_ERASE, 0x10000);
    command(FLASH_CMD_PROGRAM);  // a running erase ignores the bus
    w(0x10010, 0x00);
    t = costs().blockErase;
    EXPECT_EQ(r(0x10010), 0xFF);
    EXPECT_EQ(c.bytesProgrammed(), 0u);
}

TEST_F(Chip, ProgrammingPollsThenOnlyClearsBitsOutsideProtectedBlocks)
{
    command(FLASH_CMD_PROGRAM);
    w(0x100, 0xA5);
    uint8_t a = r(0x100), b = r(0x100);
    EXPECT_EQ(a & 0x80, 0x00) << "DQ7 is the complement of the data";
    EXPECT_NE(a & 0x40, b & 0x40) << "DQ6 toggles";
    t += costs().byteProgram;
    EXPECT_EQ(r(0x100), 0xA5);
    EXPECT_EQ(r(0x100), 0xA5);
    program(0x100, 0x5A);  // would need bits to rise
    EXPECT_EQ(r(0x100), 0x00);
    program(0x100, 0xFF);
    EXPECT_EQ(r(0x100), 0x00);
    EXPECT_EQ(c.bytesProgrammed(), 3u);
    // Command bytes in the data cycle are data.
    program(0x10, FLASH_CMD_RESET);
    EXPECT_EQ(r(0x10), 0xF0);
    program(0x11, FLASH_UNLOCK_DATA1);
    EXPECT_EQ(r(0x11), 0xAA);

    c.setBlockProtected(2, true);
    program(0x20000, 0x00);
    EXPECT_EQ(r(0x20000), 0xFF);
    EXPECT_EQ(c.mode(), FlashChip::Mode::Read);
    program(0x1FFFF, 0x00);
    EXPECT_EQ(r(0x1FFFF), 0x00) << "the neighbour is still programmable";
}

TEST_F(Chip, ErasesToggleTheStatusUntilTheirTimeThenReadFFOutsideProtectedBlocks)
{
    const Costs& k = costs();
    const struct {
        const char* what;
        void (*protect)(FlashChip&);
        uint32_t blockAddress;  // 0: a chip erase
        std::vector<double> busy;
        double done;
        std::vector<uint32_t> erased, kept;
    } rows[] = {
        {"chip erase", [](FlashChip&) {}, 0, {0, 1e-6, 1, 12.5, k.chipErase16 - 0.001}, k.chipErase16,
         {0, 0x1FFFFF, 0x123456}, {}},
        {"chip erase around protected blocks",
         [](FlashChip& f) {
             f.protectAll(true);
             f.setBlockProtected(33, false);
         },
         0, {0}, 0.1 /* an 8 KB share of 25 s */, {0x1FA000, 0x1FBFFF}, {0x1F9FFF, 0x1FC000, 0}},
        {"chip erase of a fully protected chip", [](FlashChip& f) { f.protectAll(true); }, 0, {0}, 0.01, {},
         {0, 0x1FFFFF}},
        {"block erase", [](FlashChip&) {}, 0x1FB123, {0, k.blockErase - 1e-6}, k.blockErase, {0x1FA000, 0x1FBFFF},
         {0x1F9FFF, 0x1FC000}},
        {"block erase of a protected block", [](FlashChip& f) { f.setBlockProtected(5, true); }, 0x50000, {0},
         k.protectedErase, {}, {0x50000, 0x5FFFF}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        c = FlashChip(0x98, 0x2F, 0x81);
        c.fill(0, c.size(), 0x00);
        row.protect(c);
        t = 0;
        command(FLASH_CMD_ERASE_SETUP);
        if (row.blockAddress)
            command(FLASH_CMD_BLOCK_ERASE, row.blockAddress);
        else
            command(FLASH_CMD_CHIP_ERASE);
        for (double when : row.busy) {
            t = when;
            uint8_t a = r(0x1234), b = r(0x1234);
            EXPECT_EQ(a & 0x80, 0) << "bit 7 clear while erasing, t=" << when;
            EXPECT_EQ(b & 0x80, 0) << when;
            EXPECT_NE(a & 0x40, b & 0x40) << "bit 6 toggles on every read, t=" << when;
        }
        t = row.done;
        for (uint32_t a : row.erased)
            EXPECT_EQ(r(a), 0xFF) << std::hex << a;
        for (uint32_t a : row.kept)
            EXPECT_EQ(r(a), 0x00) << std::hex << a;
        EXPECT_EQ(c.chipErases(), row.blockAddress ? 0u : 1u);
        EXPECT_EQ(c.blockErases(), row.blockAddress ? 1u : 0u);
    }
}

TEST_F(Chip, UnlockBypassProgramsWithTwoCyclesUntilNinetyThenZero)
{
    c.poke(0, 0x42);
    command(FLASH_CMD_UNLOCK_BYPASS);
    EXPECT_EQ(c.mode(), FlashChip::Mode::UnlockBypass);
    EXPECT_EQ(r(0), 0x42);
    for (uint32_t a = 0; a < 4; ++a) {
        w(0, FLASH_CMD_PROGRAM);
        w(0x400 + a, static_cast<uint8_t>(0x10 + a));
        t += costs().byteProgram;
    }
    for (uint32_t a = 0; a < 4; ++a)
        EXPECT_EQ(r(0x400 + a), 0x10 + a);

    // Other commands do not leave it: an unlocked 0x90 only arms the exit.
    command(FLASH_CMD_IDENTIFY);
    w(0x5555, FLASH_CMD_RESET);
    EXPECT_EQ(c.mode(), FlashChip::Mode::UnlockBypass);
    w(0x1234, FLASH_CMD_RESET);
    EXPECT_EQ(c.mode(), FlashChip::Mode::UnlockBypass);
    w(0, FLASH_CMD_IDENTIFY);
    w(0, 0x01);
    EXPECT_EQ(c.mode(), FlashChip::Mode::UnlockBypass);

    w(0, FLASH_CMD_IDENTIFY);
    w(0, FLASH_CMD_BYPASS_RESET);
    EXPECT_EQ(c.mode(), FlashChip::Mode::Read);
    w(0, FLASH_CMD_PROGRAM);
    w(0x500, 0x00);
    t += costs().byteProgram;
    EXPECT_EQ(r(0x500), 0xFF) << "out of bypass, two cycles no longer program";
}

TEST_F(Chip, AddressesBeyondTheChipWrap)
{
    c = FlashChip(0x98, 0xAB, 0x80);
    c.poke(5, 0x77);
    EXPECT_EQ(r(0x80005), 0x77);
    EXPECT_EQ(r(0x180005), 0x77);
    // Command cycles wrap as well: the chip sees only its own address lines.
    w(0x85555, 0xAA);
    w(0x82AAA, 0x55);
    w(0x85555, 0xA0);
    w(0x80006, 0x12);
    t = 1;
    EXPECT_EQ(r(6), 0x12);
    EXPECT_EQ(c.peek(0x80006), 0x12);
}

}  // namespace
