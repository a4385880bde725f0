// The cartridge probe against the simulated cartridges, read back from the
// log, the Cart it fills and the bus.
#include <cstdio>
#include <set>
#include <tuple>

#include "core/cart/detect.h"
#include "gui/log.h"
#include "gui/commands.h"
#include "support/job_helpers.h"

namespace {

// The listing "Protected Blocks" gives for one chip: `prot(b)` tells
// whether block b is protected.
Lines listing(int chip, int mbit, std::function<bool(int)> prot)
{
    const int boot = mbit == 4 ? 7 : mbit == 8 ? 15 : 31;
    char line[64];
    snprintf(line, sizeof line, "Chip #%d block protection:", chip);
    Lines out = {line};
    for (int b = 0; b <= boot + 3; b++) {
        uint32_t addr = b <= boot ? b * 0x10000 : boot * 0x10000 + 0x8000 + (b - boot - 1) * 0x2000;
        snprintf(line, sizeof line, " Block %02d (0x%06X) %s", b, addr, prot(b) ? "Protected" : "Unprotected");
        out.push_back(line);
    }
    return out;
}

Lines info(const char* manuf, const char* device, const char* factory, int chip = 0)
{
    return {"Chip #" + std::to_string(chip) + " info:", std::string("  ManufID  = ") + manuf,
            std::string("  DeviceID = ") + device, std::string("  FactoryProt = ") + factory};
}

// A cart's protection as '0' and '1', one a slot.
std::string prot(const Cart& cart)
{
    std::string s;
    for (int i = 0; i < BLOCK_SLOTS; i++)
        s += char('0' + cart.prot[i]);
    return s;
}

// What a probe of the cartridge finds now, its lines kept out of the log.
Cart probed(bool scan)
{
    struct Quiet : Reporter {
        void line(const char*) override {}
    } quiet;
    Cart cart;
    checkCart(quiet, theLink(), &cart, nullptr, nullptr, nullptr, scan, false);
    return cart;
}
const std::string ALL_PROTECTED(BLOCK_SLOTS, '1');

using DetectTest = JobTest;

// Cart Info's last lines: the simulated cartridges' header, decoded.
Lines header(const std::string& title)
{
    return {"Cart header:", "  Licence  = ' LICENSED BY SNK CORPORATION'", "  Entry    = 0x00200040",
            "  Serial   = 1234", "  Version  = 0x00", "  System   = colour (0x10)", "  Title    = '" + title + "'"};
}

TEST_F(DetectTest, CartInfoOfOneAndTwoChips)
{
    ASSERT_TRUE(sim::insertCart("official16"));
    clickCommand("info");
    EXPECT_TRUE(logIs(info("0x98", "0x2F", "0x81") + Lines{"16mbit cart detected.", "ROM name: 'SIM OFFICIAL'"} +
                      header("SIM OFFICIAL")));
    Cart cart = probed(false);
    EXPECT_EQ(cart.chipSize[0], 16);
    EXPECT_EQ(cart.chipSize[1], 0);
    EXPECT_STREQ(cart.cartRomName, "SIM OFFICIAL");
    EXPECT_EQ(prot(cart), ALL_PROTECTED) << "no scan";

    ASSERT_TRUE(sim::insertCart("official32"));
    clearLog();
    clickCommand("info");
    EXPECT_TRUE(logIs(info("0x98", "0x2F", "0x81") + info("0x98", "0x2F", "0x81", 1) +
                      Lines{"32mbit cart detected.", "ROM name: 'SIM BIG GAME'"} + header("SIM BIG GAME")));
    EXPECT_EQ(probed(false).chipSize[1], 16);
}

// Both chips' listings start at 0x000000; smaller chips end their listing
// at their own top block and leave every other slot protected.
TEST_F(DetectTest, ProtectionListings)
{
    // `open`: the unprotected slots.
    const struct { const char* cart; int mbit; std::set<int> open; } cases[] = {
        {"official32", 16, {33, 35 + 33}},
        {"official8", 8, {17}},
        {"flash4", 4, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cart);
        ASSERT_TRUE(sim::insertCart(c.cart));
        clearLog();
        clickCommand("protected");
        Lines want;
        for (int chip = 0; chip < (c.mbit == 16 ? 2 : 1); chip++)
            want = want + listing(chip, c.mbit, [&](int b) { return !c.open.count(35 * chip + b); });
        EXPECT_TRUE(logIs(want));
        Cart cart = probed(true);
        EXPECT_EQ(cart.chipSize[0], c.mbit);
        std::string slots = ALL_PROTECTED;
        for (int i : c.open)
            slots[i] = '0';
        EXPECT_EQ(prot(cart), slots);
        if (c.mbit == 8) {
            EXPECT_EQ(logLines().back(), " Block 18 (0x0FC000) Protected");
        }
    }
}

// A second probe into the same Cart starts from scratch: nothing of a
// bigger cartridge probed before survives in it. The scan alone fills the
// size but logs neither size nor name.
TEST_F(DetectTest, EveryProbeStartsFromScratch)
{
    ASSERT_TRUE(sim::insertCart("cindercart"));
    Cart cart;
    checkCart(windowReporter(), theLink(), &cart, nullptr, nullptr, nullptr, true, true);
    EXPECT_EQ(cart.prot[BLOCK_SLOTS - 1], 0);
    ASSERT_TRUE(sim::insertCart("flash8"));
    clearLog();
    checkCart(windowReporter(), theLink(), &cart, nullptr, nullptr, nullptr, true, false);
    EXPECT_EQ(cart.megabits(), 8);
    EXPECT_TRUE(logLines().empty());
    EXPECT_EQ(cart.chipSize[1], 0);
    EXPECT_EQ(prot(cart).substr(19), ALL_PROTECTED.substr(19));

    ASSERT_TRUE(sim::insertCart("none"));
    clearLog();
    sim::Mark m = sim::mark();
    uint8_t manuf = 0xCD;
    checkCart(windowReporter(), theLink(), &cart, &manuf, &manuf, &manuf, false, true);
    EXPECT_TRUE(logIs({"No cart detected!"}));
    EXPECT_EQ(manuf, 0xCD) << "no chip, no output";
    EXPECT_EQ(cart.chipSize[0] + cart.chipSize[1], 0);
    EXPECT_EQ(prot(cart), ALL_PROTECTED);
    // Per position: six identify writes and three reads, no reset, no name.
    EXPECT_EQ(sim::busCyclesSince(m).size(), 18u);
    EXPECT_EQ(sim::hostWritesSince(m).size(), 12u);
}

// The name stops at a NUL; twelve bytes without one are the whole name,
// and what follows in the header never leaks into it.
TEST_F(DetectTest, RomName)
{
    const struct { const char* cart; std::vector<std::pair<uint32_t, uint8_t>> pokes; const char* line; } cases[] = {
        {"flash4", {}, "ROM name: 'SMALL4'"},
        {"official16", {{0x30, 'X'}, {0x31, 'Y'}}, "ROM name: 'SIM OFFICIAL'"},
        {"official16", {{0x27, 0}}, "ROM name: 'SIM'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_TRUE(sim::insertCart(c.cart));
        for (auto [addr, value] : c.pokes)
            sim::cartPoke(addr, value);
        clearLog();
        Cart cart;
        checkCart(windowReporter(), theLink(), &cart, nullptr, nullptr, nullptr, false, true);
        EXPECT_EQ(logLines().back(), c.line);
        EXPECT_EQ(cart.cartRomName[12], '\0');
    }
}

// Each given output gets its own line, only the ones given, and with two
// chips the outputs hold chip 1's bytes. A position that echoes 0x90 twice
// but not three times is a chip, sized by its unknown device byte as 16 Mbit.
TEST_F(DetectTest, OutputsAndEchoes)
{
    ASSERT_TRUE(sim::insertCart("bung"));
    Cart cart;
    uint8_t device = 0, manuf = 0, factory = 0;
    checkCart(windowReporter(), theLink(), &cart, nullptr, &device, nullptr, false, true);
    EXPECT_TRUE(logIs({"Chip #0 info:", "  DeviceID = 0x2F", "Chip #1 info:", "  DeviceID = 0x2F",
                       "32mbit cart detected.", "ROM name: 'BUNG TEST   '"}));
    checkCart(windowReporter(), theLink(), &cart, &manuf, nullptr, &factory, false, true);
    EXPECT_EQ(manuf, 0x92);
    EXPECT_EQ(factory, 0x80);
    EXPECT_EQ(cart.manufID[0], 0x98);
    EXPECT_EQ(cart.factoryProt[0], 0x81);

    ASSERT_TRUE(sim::insertCart("official16"));
    sim::chip(1) = sim::FlashChip(0x90, 0x90, 0x81);
    clearLog();
    checkCart(windowReporter(), theLink(), &cart, nullptr, nullptr, nullptr, false, true);
    EXPECT_EQ(cart.megabits(), 32);
    EXPECT_EQ(cart.chipSize[1], 16);
    EXPECT_EQ(logLines().front(), "32mbit cart detected.");
}

using Cycle = std::tuple<int, bool, uint32_t, int>;  // chip, write, address, value (-1: a read)

// Reset and identify (with its reads of the IDs) unless `resetOnly`.
void addIdentify(std::vector<Cycle>* to, int chip, bool resetOnly = false)
{
    const std::pair<uint32_t, int> reset[] = {{0x5555, 0xAA}, {0x2AAA, 0x55}, {0x5555, 0xF0}},
                                   identify[] = {{0x5555, 0xAA}, {0x2AAA, 0x55}, {0x5555, 0x90}, {0, -1}, {1, -1}, {3, -1}};
    for (auto [addr, value] : reset)
        to->push_back({chip, true, addr, value});
    for (auto [addr, value] : identify)
        if (!resetOnly)
            to->push_back({chip, value >= 0, addr, value});
}

// The exact bus cycles of a probe: identify, the scan's reads of each
// block's start + 2 in identify mode, the reset sequence, chip 1's identify,
// then the name; the chip is left in reading mode.
TEST_F(DetectTest, BusCyclesOfOneProbe)
{
    for (bool scan : {false, true}) {
        SCOPED_TRACE(scan ? "scan" : "info");
        ASSERT_TRUE(sim::insertCart(scan ? "flash4" : "official16"));
        sim::Mark m = sim::mark();
        Cart cart;
        checkCart(windowReporter(), theLink(), &cart, nullptr, nullptr, nullptr, scan, !scan);
        std::vector<Cycle> want;
        addIdentify(&want, 0);
        if (scan)
            for (uint32_t a : {0x00000u, 0x10000u, 0x20000u, 0x30000u, 0x40000u, 0x50000u, 0x60000u,
                               0x70000u, 0x78000u, 0x7A000u, 0x7C000u})
                want.push_back({0, false, a + 2, -1});
        addIdentify(&want, 0, true);
        want.push_back({0, false, 0, -1});
        addIdentify(&want, 1);
        if (!scan)
            for (uint32_t a = 0x24; a <= 0x2F; a++)
                want.push_back({0, false, a, -1});
        std::vector<Cycle> got;
        for (const auto& c : sim::busCyclesSince(m))
            got.push_back({c.chip, c.write, c.address, c.write ? c.value : -1});
        EXPECT_EQ(got, want);
        for (const auto& c : sim::hostWritesSince(m))
            EXPECT_TRUE(c.fromHost);
        EXPECT_EQ(sim::chip(0).mode(), sim::FlashChip::Mode::Read);
    }
}

}  // namespace
