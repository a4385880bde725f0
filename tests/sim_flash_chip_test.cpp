// The flash chip model on its own: command sequences cycle by cycle, with the
// modelled time passed in explicitly.
#include "clock.h"
#include "flash_chip.h"

#include <gtest/gtest.h>

using namespace sim;

namespace {

using Cycles = std::vector<std::pair<uint32_t, uint8_t>>;

Cycles operator+(Cycles a, const Cycles& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The two unlock cycles, then `cmd` at `at`.
Cycles command(uint8_t cmd, uint32_t at = FLASH_UNLOCK_ADDR1)
{
    return {{FLASH_UNLOCK_ADDR1, FLASH_UNLOCK_DATA1}, {FLASH_UNLOCK_ADDR2, FLASH_UNLOCK_DATA2}, {at, cmd}};
}

class Chip : public ::testing::Test {
protected:
    void SetUp() override { resetCosts(); }

    void run(const Cycles& cycles)
    {
        for (const auto& [a, v] : cycles)
            c.write(a, v, t);
    }
    uint8_t r(uint32_t a) { return c.read(a, t); }

    FlashChip c{0x98, 0x2F, 0x81};
    double t = 0;
};

TEST_F(Chip, CommandSequencesFromReadingMode)
{
    const auto P = FLASH_CMD_PROGRAM;
    const struct {
        const char* what;
        Cycles cycles;
        std::vector<std::pair<uint32_t, uint8_t>> reads;  // a second later
        FlashChip::Mode mode;
    } rows[] = {
        {"nothing", {}, {{0, 0x42}, {0x100, 0xFF}}, FlashChip::Mode::Read},
        {"identify", command(0x90), {{0, 0x98}, {1, 0x2F}, {3, 0x81}, {0, 0x98}}, FlashChip::Mode::Identify},
        {"identify, reset", command(0x90) + command(0xF0), {{0, 0x42}}, FlashChip::Mode::Read},
        {"identify, a lone F0", command(0x90) + Cycles{{0x1234, 0xF0}}, {{0, 0x42}}, FlashChip::Mode::Read},
        {"wrong unlock address", {{0x5555, 0xAA}, {0x2AAB, 0x55}, {0x5555, 0x90}}, {{0, 0x42}}, FlashChip::Mode::Read},
        {"wrong unlock data", {{0x5555, 0xAA}, {0x2AAA, 0x54}, {0x5555, 0x90}}, {{0, 0x42}}, FlashChip::Mode::Read},
        {"a fresh AA restarts", Cycles{{0x5555, 0xAA}} + command(0x90), {{0, 0x98}}, FlashChip::Mode::Identify},
        {"a stray write", {{0x100, 0x00}}, {{0x100, 0xFF}}, FlashChip::Mode::Read},
        {"program", command(P) + Cycles{{0x100, 0xA5}}, {{0x100, 0xA5}}, FlashChip::Mode::Read},
        {"program only clears bits", command(P) + Cycles{{0, 0x81}}, {{0, 0x00}}, FlashChip::Mode::Read},
        {"F0 is data", command(P) + Cycles{{0x10, 0xF0}}, {{0x10, 0xF0}}, FlashChip::Mode::Read},
        {"AA is data", command(P) + Cycles{{0x11, 0xAA}}, {{0x11, 0xAA}}, FlashChip::Mode::Read},
        {"a program during an erase", command(0x80) + command(0x30, 0x10000) + command(P) + Cycles{{0x20010, 0}},
         {{0x20010, 0xFF}}, FlashChip::Mode::Read},
        {"unlock bypass", command(0x20) + Cycles{{0, P}, {0x400, 0x10}, {0, P}, {0x401, 0x11}},
         {{0, 0x42}, {0x400, 0x10}, {0x401, 0x11}}, FlashChip::Mode::UnlockBypass},
        {"bypass keeps other commands out", command(0x20) + command(0x90) + Cycles{{0x5555, 0xF0}, {0x1234, 0xF0}},
         {{0, 0x42}}, FlashChip::Mode::UnlockBypass},
        {"bypass stays after 90 then 01", command(0x20) + Cycles{{0, 0x90}, {0, 0x01}}, {{0, 0x42}},
         FlashChip::Mode::UnlockBypass},
        {"out of bypass, two cycles do not program",
         command(0x20) + Cycles{{0, 0x90}, {0, 0x00}, {0, P}, {0x500, 0x00}}, {{0x500, 0xFF}}, FlashChip::Mode::Read},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        c = FlashChip(0x98, 0x2F, 0x81);
        c.poke(0, 0x42);
        c.poke(1, 0x43);
        t = 0;
        for (const auto& [a, v] : row.cycles) {
            c.write(a, v, t);
            t += 10e-6;  // each program ends before the next cycle
        }
        t += 1;
        for (const auto& [a, v] : row.reads)
            EXPECT_EQ(r(a), v) << std::hex << a;
        EXPECT_EQ(c.mode(), row.mode);
    }
}

TEST_F(Chip, IdentifyGivesEachBlocksProtectionAtItsStartPlusTwo)
{
    for (uint8_t device : {0xAB, 0x2C, 0x2F}) {
        SCOPED_TRACE(int(device));
        c = FlashChip(0x98, device, 0x81);
        for (int b = 0; b < c.blocks(); b += 2)
            c.setBlockProtected(b, true);
        run(command(FLASH_CMD_IDENTIFY));
        EXPECT_EQ(r(1), device);
        for (int b = 0; b < c.blocks(); ++b)
            EXPECT_EQ(r(blockStart(c.size(), b) + 2), b % 2 == 0 ? 1 : 0) << "block " << b;
    }
}

TEST_F(Chip, ProgrammingShowsDataPollingAndLeavesAProtectedBlock)
{
    run(command(FLASH_CMD_PROGRAM) + Cycles{{0x100, 0xA5}});
    uint8_t a = r(0x100), b = r(0x100);
    EXPECT_EQ(a & 0x80, 0x00) << "DQ7 is the complement of the data";
    EXPECT_NE(a & 0x40, b & 0x40) << "DQ6 toggles";
    t += costs().byteProgram;
    EXPECT_EQ(r(0x100), 0xA5);
    EXPECT_EQ(r(0x100), 0xA5);
    EXPECT_EQ(c.bytesProgrammed(), 1u);

    c.setBlockProtected(2, true);
    run(command(FLASH_CMD_PROGRAM) + Cycles{{0x20000, 0x00}});
    EXPECT_EQ(r(0x20000), 0xFF);
    EXPECT_EQ(c.mode(), FlashChip::Mode::Read);
    run(command(FLASH_CMD_PROGRAM) + Cycles{{0x1FFFF, 0x00}});
    t += costs().byteProgram;
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
        run(command(FLASH_CMD_ERASE_SETUP) + (row.blockAddress ? command(FLASH_CMD_BLOCK_ERASE, row.blockAddress)
                                                                : command(FLASH_CMD_CHIP_ERASE)));
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

TEST_F(Chip, AddressesBeyondTheChipWrap)
{
    c = FlashChip(0x98, 0xAB, 0x80);
    c.poke(5, 0x77);
    EXPECT_EQ(r(0x80005), 0x77);
    EXPECT_EQ(r(0x180005), 0x77);
    // Command cycles wrap as well: the chip sees only its own address lines.
    run({{0x85555, 0xAA}, {0x82AAA, 0x55}, {0x85555, 0xA0}, {0x80006, 0x12}});
    t = 1;
    EXPECT_EQ(r(6), 0x12);
    EXPECT_EQ(c.peek(0x80006), 0x12);
}

}  // namespace
