// The cartridge probe against the simulated cartridges, read back from the
// log, the cartridge globals and the bus.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "cart/detect.h"
#include "ops/commands.h"
#include "ui/input.h"
#include "sim.h"
#include "support/job_fixture.h"

namespace {

using Lines = std::vector<std::string>;

std::string fmt(const char* format, int a, int b = 0)
{
    char line[128];
    snprintf(line, sizeof line, format, a, b);
    return line;
}

// The listing "Protected Blocks" gives for one chip whose blocks are all
// protected except `open` (or all unprotected with everyProtected false).
Lines listing(int chip, int mbit, int open, bool everyProtected = true)
{
    const int boot = mbit == 4 ? 7 : mbit == 8 ? 15 : 31;
    Lines out = {fmt("Chip #%d block protection:", chip)};
    auto add = [&](int block, int addr) {
        bool prot = everyProtected ? block != open : false;
        char line[64];
        snprintf(line, sizeof line, " Block %02d (0x%06X) %s", block, addr,
                 prot ? "Protected" : "Unprotected");
        out.push_back(line);
    };
    for (int b = 0; b <= boot; b++)
        add(b, b * 0x10000);
    add(boot + 1, boot * 0x10000 + 0x8000);
    add(boot + 2, boot * 0x10000 + 0xA000);
    add(boot + 3, boot * 0x10000 + 0xC000);
    return out;
}

Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

using DetectTest = JobTest;

TEST_F(DetectTest, CartInfoOnOneChipOf16Mbit)
{
    ASSERT_TRUE(sim::insertCart("official16"));
    cb_getInfos_button(nullptr, nullptr);
    EXPECT_EQ(logLines(), (Lines{"Chip #0 info:", "  ManufID  = 0x98", "  DeviceID = 0x2F",
                                 "  FactoryProt = 0x81", "16mbit cart detected.",
                                 "ROM name: 'SIM OFFICIAL'"}));
    EXPECT_EQ(G_chipSize[0], 16);
    EXPECT_EQ(G_chipSize[1], 0);
    EXPECT_EQ(G_manufID[0], 0x98);
    EXPECT_EQ(G_deviceID[0], 0x2F);
    EXPECT_EQ(G_factoryProt[0], 0x81);
    EXPECT_EQ(G_bootBlockStartAddr[0], 0x1F0000u);
    EXPECT_EQ(G_bootBlockStartNum[0], 31);
    EXPECT_STREQ(G_cartRomName, "SIM OFFICIAL");
    for (int i = 0; i < BLOCK_SLOTS; i++)
        EXPECT_EQ(G_prot[i], 1) << "no scan, slot " << i;
}

TEST_F(DetectTest, TwoChipsOf16Mbit)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    cb_getInfos_button(nullptr, nullptr);
    EXPECT_EQ(logLines(), (Lines{"Chip #0 info:", "  ManufID  = 0x98", "  DeviceID = 0x2F",
                                 "  FactoryProt = 0x81", "Chip #1 info:", "  ManufID  = 0x98",
                                 "  DeviceID = 0x2F", "  FactoryProt = 0x81",
                                 "32mbit cart detected.", "ROM name: 'SIM BIG GAME'"}));
    EXPECT_EQ(G_chipSize[1], 16);

    clearLog();
    cb_protectedBlocks_button(nullptr, nullptr);
    EXPECT_EQ(logLines(), listing(0, 16, 33) + listing(1, 16, 33));
    EXPECT_EQ(findLine(" Block 00 (0x000000) Protected"), 1);
    EXPECT_EQ(findLine(" Block 00 (0x000000) Protected", 2), 37) << "chip 1 is not offset";
    for (int i = 0; i < BLOCK_SLOTS; i++)
        EXPECT_EQ(G_prot[i] != 0, i != 33 && i != 35 + 33) << "slot " << i;
}

TEST_F(DetectTest, EightMbitListingEndsAtBlock18)
{
    ASSERT_TRUE(sim::insertCart("official8"));
    cb_protectedBlocks_button(nullptr, nullptr);
    Lines log = logLines();
    EXPECT_EQ(log, listing(0, 8, 17));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), " Block 18 (0x0FC000) Protected");
    EXPECT_EQ(G_chipSize[0], 8);
    EXPECT_EQ(G_bootBlockStartAddr[0], 0xF0000u);
    EXPECT_EQ(G_bootBlockStartNum[0], 15);
}

TEST_F(DetectTest, FourMbitScanLeavesTheRestProtected)
{
    ASSERT_TRUE(sim::insertCart("flash4"));
    cb_protectedBlocks_button(nullptr, nullptr);
    EXPECT_EQ(logLines(), listing(0, 4, -1, false));
    EXPECT_EQ(G_chipSize[0], 4);
    EXPECT_EQ(G_bootBlockStartAddr[0], 0x70000u);
    EXPECT_EQ(G_bootBlockStartNum[0], 7);
    for (int i = 0; i <= 10; i++)
        EXPECT_EQ(G_prot[i], 0) << "slot " << i;
    for (int i = 11; i < BLOCK_SLOTS; i++)
        EXPECT_EQ(G_prot[i], 1) << "slot " << i;
}

// A second probe starts from scratch: nothing of a bigger cartridge probed
// before survives in the globals.
TEST_F(DetectTest, EveryProbeStartsFromScratch)
{
    ASSERT_TRUE(sim::insertCart("cindercart"));
    cb_protectedBlocks_button(nullptr, nullptr);
    EXPECT_EQ(G_prot[BLOCK_SLOTS - 1], 0);
    ASSERT_TRUE(sim::insertCart("flash8"));
    uint8_t size = 0;
    checkCart(&size, nullptr, nullptr, nullptr, true, false);
    EXPECT_EQ(size, 8);
    EXPECT_EQ(G_chipSize[1], 0);
    for (int i = 19; i < BLOCK_SLOTS; i++)
        EXPECT_EQ(G_prot[i], 1) << "slot " << i;
}

TEST_F(DetectTest, NoCartridge)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    cb_protectedBlocks_button(nullptr, nullptr);
    ASSERT_TRUE(sim::insertCart("none"));
    clearLog();
    sim::Mark m = sim::mark();
    uint8_t size = 0xAB, manuf = 0xCD;
    checkCart(&size, &manuf, &manuf, &manuf, false, true);
    EXPECT_EQ(logLines(), Lines{"No cart detected!"});
    EXPECT_EQ(size, 0xAB) << "the size is left to the caller";
    EXPECT_EQ(manuf, 0xCD);
    EXPECT_EQ(G_chipSize[0], 0);
    EXPECT_EQ(G_chipSize[1], 0);
    for (int i = 0; i < BLOCK_SLOTS; i++)
        EXPECT_EQ(G_prot[i], 1) << "slot " << i;
    // Per position: six identify writes and three reads, no reset, no name.
    auto cycles = sim::busCyclesSince(m);
    EXPECT_EQ(cycles.size(), 18u);
    EXPECT_EQ(sim::hostWritesSince(m).size(), 12u);
}

TEST_F(DetectTest, RomNameStopsAtItsNul)
{
    ASSERT_TRUE(sim::insertCart("flash4"));
    cb_getInfos_button(nullptr, nullptr);
    EXPECT_EQ(logLines().back(), "ROM name: 'SMALL4'");
    EXPECT_EQ(findLine("4mbit cart detected."), int(logLines().size()) - 2);
}

// Twelve bytes without a NUL are the whole name; what follows in the header
// never leaks into it.
TEST_F(DetectTest, TwelveByteRomNameWithoutNul)
{
    ASSERT_TRUE(sim::insertCart("official16"));
    sim::cartPoke(0x30, 'X');
    sim::cartPoke(0x31, 'Y');
    uint8_t size = 0;
    checkCart(&size, nullptr, nullptr, nullptr, false, true);
    EXPECT_EQ(logLines(), (Lines{"16mbit cart detected.", "ROM name: 'SIM OFFICIAL'"}));
    EXPECT_EQ(G_cartRomName[12], '\0');

    sim::cartPoke(0x24 + 3, 0);
    clearLog();
    checkCart(&size, nullptr, nullptr, nullptr, false, true);
    EXPECT_EQ(logLines().back(), "ROM name: 'SIM'");
}

TEST_F(DetectTest, ScanFillsTheSizeButLogsNoSizeOrName)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    sim::Mark m = sim::mark();
    uint8_t size = 0;
    checkCart(&size, nullptr, nullptr, nullptr, true, false);
    EXPECT_EQ(size, 32);
    EXPECT_TRUE(logLines().empty());
    EXPECT_EQ(G_prot[33], 0);
    EXPECT_EQ(G_prot[35 + 33], 0);
    for (const auto& c : sim::busCyclesSince(m))
        EXPECT_FALSE(!c.write && c.chip == 0 && c.address >= 0x24 && c.address <= 0x2F)
            << "the name is not read during a scan";
}

// Each given output gets its own line; only the ones given.
TEST_F(DetectTest, OnlyGivenOutputsAreLoggedAndStored)
{
    ASSERT_TRUE(sim::insertCart("bung"));
    uint8_t size = 0, device = 0;
    checkCart(&size, nullptr, &device, nullptr, false, true);
    EXPECT_EQ(logLines(), (Lines{"Chip #0 info:", "  DeviceID = 0x2F", "Chip #1 info:",
                                 "  DeviceID = 0x2F", "32mbit cart detected.",
                                 "ROM name: 'BUNG TEST   '"}));
    uint8_t manuf = 0, factory = 0;
    clearLog();
    checkCart(&size, &manuf, nullptr, &factory, false, true);
    EXPECT_EQ(manuf, 0x92) << "two chips: the outputs hold chip 1's bytes";
    EXPECT_EQ(factory, 0x80);
    EXPECT_EQ(G_manufID[0], 0x98);
    EXPECT_EQ(G_factoryProt[0], 0x81);
}

// A position that echoes 0x90 twice but not three times is a chip, sized by
// its unknown device byte as 16 Mbit.
TEST_F(DetectTest, OnlyThreeEchoesMeanAnEmptyPosition)
{
    ASSERT_TRUE(sim::insertCart("official16"));
    sim::chip(1) = sim::FlashChip(0x90, 0x90, 0x81);
    uint8_t size = 0;
    checkCart(&size, nullptr, nullptr, nullptr, false, true);
    EXPECT_EQ(size, 32);
    EXPECT_EQ(G_chipSize[1], 16);
    EXPECT_EQ(logLines().front(), "32mbit cart detected.");
}

using Cycle = std::tuple<int, bool, uint32_t, int>;  // chip, write, address, value (-1: a read)

std::vector<Cycle> identifyCycles(int chip)
{
    return {{chip, true, 0x5555, 0xAA}, {chip, true, 0x2AAA, 0x55}, {chip, true, 0x5555, 0xF0},
            {chip, true, 0x5555, 0xAA}, {chip, true, 0x2AAA, 0x55}, {chip, true, 0x5555, 0x90},
            {chip, false, 0, -1},       {chip, false, 1, -1},       {chip, false, 3, -1}};
}

std::vector<Cycle> resetCycles(int chip)
{
    return {{chip, true, 0x5555, 0xAA},
            {chip, true, 0x2AAA, 0x55},
            {chip, true, 0x5555, 0xF0},
            {chip, false, 0, -1}};
}

std::vector<Cycle> cyclesSince(sim::Mark m)
{
    std::vector<Cycle> got;
    for (const auto& c : sim::busCyclesSince(m))
        got.push_back({c.chip, c.write, c.address, c.write ? c.value : -1});
    return got;
}

TEST_F(DetectTest, BusCyclesOfOneProbe)
{
    ASSERT_TRUE(sim::insertCart("official16"));
    sim::Mark m = sim::mark();
    uint8_t size = 0;
    checkCart(&size, nullptr, nullptr, nullptr, false, true);

    std::vector<Cycle> want = identifyCycles(0);
    for (const Cycle& c : resetCycles(0))
        want.push_back(c);
    for (const Cycle& c : identifyCycles(1))
        want.push_back(c);
    for (uint32_t a = 0x24; a <= 0x2F; a++)
        want.push_back({0, false, a, -1});

    EXPECT_EQ(cyclesSince(m), want);
    for (const auto& c : sim::hostWritesSince(m))
        EXPECT_TRUE(c.fromHost);
    EXPECT_EQ(sim::chip(0).mode(), sim::FlashChip::Mode::Read) << "left in reading mode";
}

// The scan reads each block's protection byte at its start + 2, in
// identify mode, before the chip is put back into reading mode.
TEST_F(DetectTest, ScanReadsBlockStartPlusTwo)
{
    ASSERT_TRUE(sim::insertCart("flash4"));
    sim::Mark m = sim::mark();
    uint8_t size = 0;
    checkCart(&size, nullptr, nullptr, nullptr, true, false);

    std::vector<Cycle> want = identifyCycles(0);
    for (uint32_t a : {0x00000u, 0x10000u, 0x20000u, 0x30000u, 0x40000u, 0x50000u, 0x60000u,
                       0x70000u, 0x78000u, 0x7A000u, 0x7C000u})
        want.push_back({0, false, a + 2, -1});
    for (const Cycle& c : resetCycles(0))
        want.push_back(c);
    for (const Cycle& c : identifyCycles(1))
        want.push_back(c);

    EXPECT_EQ(cyclesSince(m), want);
}

// The inspection commands on every cartridge the simulator knows: the info
// lines match the chips, the listing covers every block of every chip, and a
// byte written and read back through the number window round-trips.
TEST_F(DetectTest, InspectionCommandsOnEveryCartridge)
{
    static std::vector<const char*> typed;
    g_inputHook = [](const char*) -> const char* {
        if (typed.empty())
            return nullptr;
        const char* t = typed.front();
        typed.erase(typed.begin());
        return t;
    };
    for (const std::string& name : sim::cartNames()) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(sim::insertCart(name));
        clearLog();
        cb_getInfos_button(nullptr, nullptr);
        int chips = sim::chip(0).present() + sim::chip(1).present();
        int mbit = (sim::chip(0).size() + sim::chip(1).size()) / 0x20000;
        if (chips == 0) {
            EXPECT_EQ(logLines(), Lines{"No cart detected!"});
        } else {
            EXPECT_EQ(int(logLines().size()), chips * 4 + 2);
            EXPECT_EQ(logLines()[chips * 4], std::to_string(mbit) + "mbit cart detected.");
        }

        clearLog();
        cb_protectedBlocks_button(nullptr, nullptr);
        Lines want;
        for (int c = 0; c < 2; c++) {
            const sim::FlashChip& chip = sim::chip(c);
            if (!chip.present())
                continue;
            Lines one = listing(c, chip.size() / 0x20000, -1, false);
            for (size_t i = 1; i < one.size(); i++)
                if (chip.blockProtected(int(i) - 1))
                    one[i].replace(one[i].find("Unprotected"), 11, "Protected");
            want = want + one;
        }
        EXPECT_EQ(logLines(), chips ? want : Lines{"No cart detected!"});

        if (!chips)
            continue;
        typed = {"0x1234", "0x5A", "0x1234"};
        clearLog();
        cb_writeByte_button(nullptr, nullptr);
        cb_readByte_button(nullptr, nullptr);
        uint8_t now = sim::cartPeek(0x1234);
        char line[64];
        snprintf(line, sizeof line, "Byte at address 0x00001234 is 0x%02x '%c'", now,
                 now >= 0x20 && now < 0x7F ? now : '.');
        EXPECT_EQ(logLines(), (Lines{"Writing 0x5a 'Z' to address 0x00001234", line}));
    }
    g_inputHook = nullptr;
}

}  // namespace
