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
    void unlock()
    {
        w(FLASH_UNLOCK_ADDR1, FLASH_UNLOCK_DATA1);
        w(FLASH_UNLOCK_ADDR2, FLASH_UNLOCK_DATA2);
    }
    void command(uint8_t cmd)
    {
        unlock();
        w(FLASH_UNLOCK_ADDR1, cmd);
    }
    void program(uint32_t a, uint8_t v)
    {
        command(FLASH_CMD_PROGRAM);
        w(a, v);
        t += costs().byteProgram;
    }
    void chipErase()
    {
        command(FLASH_CMD_ERASE_SETUP);
        unlock();
        w(FLASH_UNLOCK_ADDR1, FLASH_CMD_CHIP_ERASE);
    }
    void blockErase(uint32_t inside)
    {
        command(FLASH_CMD_ERASE_SETUP);
        unlock();
        w(inside, FLASH_CMD_BLOCK_ERASE);
    }

    FlashChip c{0x98, 0x2F, 0x81};
    double t = 0;
};

TEST(FlashGeometry, SizeFollowsTheDeviceByte)
{
    EXPECT_EQ(chipSizeForDevice(0xAB), 0x80000u);
    EXPECT_EQ(chipSizeForDevice(0x2C), 0x100000u);
    EXPECT_EQ(chipSizeForDevice(0x2F), 0x200000u);
    EXPECT_EQ(chipSizeForDevice(0x00), 0x200000u);
    EXPECT_EQ(chipSizeForDevice(0x90), 0x200000u);
}

TEST(FlashGeometry, TopBootLayoutForEverySize)
{
    EXPECT_EQ(blockCount(0x80000), 11);
    EXPECT_EQ(blockCount(0x100000), 19);
    EXPECT_EQ(blockCount(0x200000), 35);
    EXPECT_EQ(blockStart(0x200000, 31), 0x1F0000u);
    EXPECT_EQ(blockStart(0x200000, 32), 0x1F8000u);
    EXPECT_EQ(blockStart(0x200000, 33), 0x1FA000u);
    EXPECT_EQ(blockStart(0x200000, 34), 0x1FC000u);
    EXPECT_EQ(blockStart(0x100000, 18), 0xFC000u);
    EXPECT_EQ(blockStart(0x80000, 7), 0x70000u);
    for (uint32_t size : {0x80000u, 0x100000u, 0x200000u}) {
        uint32_t total = 0;
        for (int b = 0; b < blockCount(size); ++b) {
            EXPECT_EQ(blockStart(size, b), total) << size << " block " << b;
            EXPECT_EQ(blockContaining(size, total), b);
            EXPECT_EQ(blockContaining(size, total + blockLength(size, b) - 1), b);
            total += blockLength(size, b);
        }
        EXPECT_EQ(total, size);
    }
}

TEST_F(Chip, StartsInReadingModeShowingTheArray)
{
    c.poke(0x1234, 0x5A);
    EXPECT_EQ(r(0x1234), 0x5A);
    EXPECT_EQ(r(0), 0xFF);
    EXPECT_EQ(c.mode(), FlashChip::Mode::Read);
}

TEST_F(Chip, IdentifyGivesManufacturerDeviceAndFactoryBytes)
{
    c.poke(0, 0x11);
    c.poke(1, 0x22);
    command(FLASH_CMD_IDENTIFY);
    EXPECT_EQ(r(0), 0x98);
    EXPECT_EQ(r(1), 0x2F);
    EXPECT_EQ(r(3), 0x81);
    // Reads do not leave identify mode.
    EXPECT_EQ(r(0), 0x98);
}

TEST_F(Chip, IdentifyGivesEachBlocksProtectionAtBlockStartPlusTwo)
{
    c.protectAll(true);
    c.setBlockProtected(33, false);
    c.setBlockProtected(0, false);
    command(FLASH_CMD_IDENTIFY);
    for (int b = 0; b < 35; ++b)
        EXPECT_EQ(r(blockStart(c.size(), b) + 2), (b == 33 || b == 0) ? 0 : 1) << "block " << b;
}

TEST_F(Chip, ProtectionOfTheBootBlocksOfAnEightMegabitChip)
{
    FlashChip eight(0x98, 0x2C, 0x81);
    eight.setBlockProtected(16, true);
    eight.setBlockProtected(18, true);
    eight.write(0x5555, 0xAA, 0);
    eight.write(0x2AAA, 0x55, 0);
    eight.write(0x5555, 0x90, 0);
    EXPECT_EQ(eight.read(0xF0002, 0), 0);
    EXPECT_EQ(eight.read(0xF8002, 0), 1);
    EXPECT_EQ(eight.read(0xFA002, 0), 0);
    EXPECT_EQ(eight.read(0xFC002, 0), 1);
}

TEST_F(Chip, ResetLeavesIdentifyModeWithTheUnlockedCommandOrALoneF0)
{
    c.poke(0, 0x42);
    command(FLASH_CMD_IDENTIFY);
    ASSERT_EQ(r(0), 0x98);
    command(FLASH_CMD_RESET);
    EXPECT_EQ(r(0), 0x42);

    command(FLASH_CMD_IDENTIFY);
    ASSERT_EQ(r(0), 0x98);
    w(0x1234, FLASH_CMD_RESET);
    EXPECT_EQ(r(0), 0x42);
}

TEST_F(Chip, TheProgramsSixCycleProbeWorksFromAnyMode)
{
    // Reset then identify, as the cartridge probe sends it, also when the chip
    // was left in identify mode by an earlier probe.
    for (int round = 0; round < 2; ++round) {
        command(FLASH_CMD_RESET);
        command(FLASH_CMD_IDENTIFY);
        EXPECT_EQ(r(0), 0x98);
        EXPECT_EQ(r(1), 0x2F);
        EXPECT_EQ(r(3), 0x81);
    }
}

TEST_F(Chip, AWrongCycleAbandonsTheSequence)
{
    c.poke(0, 0x42);
    w(0x5555, 0xAA);
    w(0x2AAB, 0x55);  // one off
    w(0x5555, 0x90);
    EXPECT_EQ(r(0), 0x42);

    w(0x5555, 0xAA);
    w(0x2AAA, 0x54);
    w(0x5555, 0x90);
    EXPECT_EQ(r(0), 0x42);

    // A fresh 0xAA restarts the sequence straight after an abandoned one.
    w(0x5555, 0xAA);
    w(0x5555, 0xAA);
    w(0x2AAA, 0x55);
    w(0x5555, 0x90);
    EXPECT_EQ(r(0), 0x98);
}

TEST_F(Chip, AStrayWriteInReadingModeChangesNothing)
{
    c.poke(0x100, 0xFF);
    w(0x100, 0x00);
    EXPECT_EQ(r(0x100), 0xFF);
    EXPECT_EQ(c.bytesProgrammed(), 0u);
}

TEST_F(Chip, ProgrammingOnlyClearsBits)
{
    program(0x100, 0xA5);
    EXPECT_EQ(r(0x100), 0xA5);
    program(0x100, 0x5A);  // would need bits to rise
    EXPECT_EQ(r(0x100), 0x00);
    program(0x100, 0xFF);
    EXPECT_EQ(r(0x100), 0x00);
    EXPECT_EQ(c.bytesProgrammed(), 3u);
}

TEST_F(Chip, ADataByteOfF0IsProgrammedNotTakenAsReset)
{
    program(0x10, FLASH_CMD_RESET);
    EXPECT_EQ(r(0x10), 0xF0);
    program(0x11, FLASH_UNLOCK_DATA1);
    EXPECT_EQ(r(0x11), 0xAA);
}

TEST_F(Chip, WhileProgrammingReadsShowDataPollingStatus)
{
    command(FLASH_CMD_PROGRAM);
    w(0x20, 0x80);
    uint8_t a = r(0x20), b = r(0x20);
    EXPECT_EQ(a & 0x80, 0x00) << "DQ7 is the complement of the data";
    EXPECT_NE(a & 0x40, b & 0x40) << "DQ6 toggles";
    t += costs().byteProgram;
    EXPECT_EQ(r(0x20), 0x80);
    EXPECT_EQ(r(0x20), 0x80);
}

TEST_F(Chip, ProgrammingAProtectedBlockChangesNothing)
{
    c.setBlockProtected(2, true);
    c.poke(0x20000, 0xFF);
    program(0x20000, 0x00);
    EXPECT_EQ(r(0x20000), 0xFF);
    EXPECT_EQ(c.mode(), FlashChip::Mode::Read);
    // Its neighbours are still programmable.
    program(0x1FFFF, 0x00);
    EXPECT_EQ(r(0x1FFFF), 0x00);
}

TEST_F(Chip, ChipEraseTogglesStatusUntilItsTimeThenReadsFF)
{
    c.fill(0, c.size(), 0x00);
    chipErase();
    const double end = costs().chipErase16;
    uint8_t prev = r(0);
    int reads = 0;
    for (double when : {0.0, 1e-6, 1.0, 12.5, end - 0.001}) {
        t = when;
        uint8_t s = r(0x1234);
        EXPECT_EQ(s & 0x80, 0) << "bit 7 clear while erasing, t=" << when;
        EXPECT_NE(s & 0x40, prev & 0x40) << "bit 6 toggles on every read, t=" << when;
        EXPECT_NE(s, prev) << "two successive reads never look alike";
        prev = s;
        ++reads;
    }
    t = end;
    EXPECT_EQ(r(0), 0xFF);
    EXPECT_EQ(r(c.size() - 1), 0xFF);
    EXPECT_EQ(r(0x123456), 0xFF);
    EXPECT_EQ(c.chipErases(), 1u);
}

TEST_F(Chip, ChipEraseLeavesProtectedBlocksAndTakesLessTime)
{
    c.fill(0, c.size(), 0x00);
    c.protectAll(true);
    c.setBlockProtected(33, false);
    chipErase();
    t = 0.1;  // an 8 KB share of a 25 s chip erase is done by now
    EXPECT_EQ(r(blockStart(c.size(), 33)), 0xFF);
    EXPECT_EQ(r(blockStart(c.size(), 33) + 0x1FFF), 0xFF);
    EXPECT_EQ(r(blockStart(c.size(), 33) - 1), 0x00);
    EXPECT_EQ(r(blockStart(c.size(), 34)), 0x00);
    EXPECT_EQ(r(0), 0x00);
}

TEST_F(Chip, ChipEraseOfAFullyProtectedChipEndsAtOnceWithoutChange)
{
    c.fill(0, c.size(), 0x12);
    c.protectAll(true);
    chipErase();
    EXPECT_EQ(r(0) & 0x80, 0);  // it does start
    t = 0.01;
    EXPECT_EQ(r(0), 0x12);
    EXPECT_EQ(r(0x1FFFFF), 0x12);
}

TEST_F(Chip, BlockEraseClearsOnlyTheBlockHoldingTheAddress)
{
    c.fill(0, c.size(), 0x00);
    blockErase(0x1FB123);  // inside block 33, 0x1FA000..0x1FBFFF
    t = costs().blockErase - 1e-6;
    EXPECT_EQ(r(0x1FA000) & 0x80, 0);
    t = costs().blockErase;
    EXPECT_EQ(r(0x1FA000), 0xFF);
    EXPECT_EQ(r(0x1FBFFF), 0xFF);
    EXPECT_EQ(r(0x1F9FFF), 0x00);
    EXPECT_EQ(r(0x1FC000), 0x00);
    EXPECT_EQ(c.blockErases(), 1u);
}

TEST_F(Chip, BlockEraseOfAProtectedBlockEndsWithoutChange)
{
    c.fill(0, c.size(), 0x00);
    c.setBlockProtected(5, true);
    blockErase(0x50000);
    t = costs().protectedErase;
    EXPECT_EQ(r(0x50000), 0x00);
    EXPECT_EQ(r(0x5FFFF), 0x00);
}

TEST_F(Chip, WritesDuringAnEraseAreIgnored)
{
    blockErase(0);
    command(FLASH_CMD_PROGRAM);
    w(0x10, 0x00);
    t = costs().blockErase;
    EXPECT_EQ(r(0x10), 0xFF);
    EXPECT_EQ(c.bytesProgrammed(), 0u);
}

TEST_F(Chip, UnlockBypassProgramsWithTwoCyclesUntilLeft)
{
    command(FLASH_CMD_UNLOCK_BYPASS);
    EXPECT_EQ(c.mode(), FlashChip::Mode::UnlockBypass);
    for (uint32_t a = 0; a < 4; ++a) {
        w(0, FLASH_CMD_PROGRAM);
        w(0x400 + a, static_cast<uint8_t>(0x10 + a));
        t += costs().byteProgram;
    }
    for (uint32_t a = 0; a < 4; ++a)
        EXPECT_EQ(r(0x400 + a), 0x10 + a);

    w(0, FLASH_CMD_IDENTIFY);
    w(0, FLASH_CMD_BYPASS_RESET);
    EXPECT_EQ(c.mode(), FlashChip::Mode::Read);
    // Out of bypass, two cycles no longer program.
    w(0, FLASH_CMD_PROGRAM);
    w(0x500, 0x00);
    t += costs().byteProgram;
    EXPECT_EQ(r(0x500), 0xFF);
}

TEST_F(Chip, UnlockBypassIgnoresOtherCommandsAndReadsTheArray)
{
    c.poke(0, 0x42);
    command(FLASH_CMD_UNLOCK_BYPASS);
    EXPECT_EQ(r(0), 0x42);
    command(FLASH_CMD_IDENTIFY);  // not a bypass command: the 0x90 only arms the exit
    w(0x5555, FLASH_CMD_RESET);
    EXPECT_EQ(c.mode(), FlashChip::Mode::UnlockBypass);
    w(0x1234, FLASH_CMD_RESET);
    EXPECT_EQ(c.mode(), FlashChip::Mode::UnlockBypass);
    w(0, FLASH_CMD_IDENTIFY);
    w(0, 0x01);  // anything but 0x00 keeps bypass
    EXPECT_EQ(c.mode(), FlashChip::Mode::UnlockBypass);
}

TEST_F(Chip, AddressesBeyondTheChipWrap)
{
    FlashChip four(0x98, 0xAB, 0x80);
    ASSERT_EQ(four.size(), 0x80000u);
    four.poke(5, 0x77);
    EXPECT_EQ(four.read(0x80005, 0), 0x77);
    EXPECT_EQ(four.read(0x180005, 0), 0x77);
    // Command cycles wrap as well: the chip sees only its own address lines.
    four.write(0x85555, 0xAA, 0);
    four.write(0x82AAA, 0x55, 0);
    four.write(0x85555, 0xA0, 0);
    four.write(0x80006, 0x12, 0);
    EXPECT_EQ(four.read(6, 1), 0x12);
    EXPECT_EQ(four.peek(0x80006), 0x12);
}

TEST_F(Chip, IgnoresEraseFaultKeepsShowingTheArray)
{
    c.poke(0, 0x20);
    c.setIgnoresErase(true);
    chipErase();
    EXPECT_EQ(r(0), 0x20);
    EXPECT_EQ(r(0), 0x20);
    blockErase(0);
    t = 100;
    EXPECT_EQ(r(0), 0x20);
}

TEST_F(Chip, NeverEndingEraseTogglesForever)
{
    c.setEraseNeverEnds(true);
    chipErase();
    t = 1e6;
    uint8_t a = r(0), b = r(0);
    EXPECT_EQ(a & 0x80, 0);
    EXPECT_EQ(b & 0x80, 0);
    EXPECT_NE(a, b);
    w(0, FLASH_CMD_RESET);  // a running erase ignores the bus
    EXPECT_TRUE(c.erasing(t));
}

TEST_F(Chip, AStuckByteReportsTimeOutUntilReset)
{
    c.addStuckByte(0x300);
    program(0x300, 0x00);
    uint8_t s = r(0x300);
    EXPECT_EQ(s & 0x20, 0x20) << "DQ5 says the program failed";
    EXPECT_EQ(s & 0x80, 0x80) << "DQ7 still shows the complement of the data";
    EXPECT_NE(r(0x300) & 0x40, s & 0x40);
    w(0, FLASH_CMD_RESET);
    EXPECT_EQ(r(0x300), 0xFF);
    program(0x301, 0x00);
    EXPECT_EQ(r(0x301), 0x00);
}

TEST(FlashEmpty, AnEmptyPositionHasNoSizeAndIgnoresCycles)
{
    FlashChip none;
    EXPECT_FALSE(none.present());
    EXPECT_EQ(none.size(), 0u);
    none.write(0x5555, 0xAA, 0);
    none.poke(0, 0);
    EXPECT_EQ(none.peek(0), 0xFF);
}

}  // namespace
