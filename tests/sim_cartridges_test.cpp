// The cartridges on offer, as the program's probe would see them.
#include "cartridges.h"
#include "sim_host.h"

#include <gtest/gtest.h>

using namespace simtest;

namespace {

struct Ids {
    int manuf, device, factory;
};

Ids probe(Link& link, uint8_t chip)
{
    link.identify(chip);
    Ids ids{link.readByte(0, chip), link.readByte(1, chip), link.readByte(3, chip)};
    link.resetChip(chip);
    return ids;
}

std::string romName(Link& link)
{
    std::string name;
    for (uint32_t a = 0x24; a <= 0x2F; ++a)
        name += static_cast<char>(link.readByte(a, 0));
    return name;
}

class Cartridges : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
};

TEST_F(Cartridges, EveryNameInTheCatalogueCanBeInserted)
{
    ASSERT_GE(sim::cartNames().size(), 7u);
    for (const std::string& name : sim::cartNames()) {
        EXPECT_TRUE(sim::insertCart(name)) << name;
        EXPECT_EQ(sim::cartName(), name);
    }
    EXPECT_FALSE(sim::insertCart("official64"));
    EXPECT_EQ(sim::cartName(), "none");
    EXPECT_FALSE(sim::chip(0).present());
}

TEST_F(Cartridges, Official16IsOneProtectedChipWithAnOpenSaveBlock)
{
    sim::insertCart("official16");
    Link link;
    Ids c0 = probe(link, 0);
    EXPECT_EQ(c0.manuf, 0x98);
    EXPECT_EQ(c0.device, 0x2F);
    EXPECT_EQ(c0.factory, 0x81);
    Ids c1 = probe(link, 1);
    EXPECT_EQ(c1.manuf, 0x90);
    EXPECT_EQ(c1.device, 0x90);
    EXPECT_EQ(c1.factory, 0x90);
    for (int b = 0; b < 35; ++b)
        EXPECT_EQ(sim::chip(0).blockProtected(b), b != 33) << b;
    EXPECT_EQ(romName(link), "SIM OFFICIAL");
}

TEST_F(Cartridges, Official32HasTwoChips)
{
    sim::insertCart("official32");
    Link link;
    for (uint8_t c = 0; c < 2; ++c) {
        Ids ids = probe(link, c);
        EXPECT_EQ(ids.manuf, 0x98);
        EXPECT_EQ(ids.factory, 0x81);
        EXPECT_EQ(sim::chip(c).size(), 0x200000u);
    }
    EXPECT_EQ(sim::cartImage().size(), 0x400000u);
}

TEST_F(Cartridges, CindercartIsTwoUnprotectedChipsWithFactoryByte85)
{
    sim::insertCart("cindercart");
    Link link;
    for (uint8_t c = 0; c < 2; ++c) {
        EXPECT_EQ(probe(link, c).factory, 0x85);
        EXPECT_EQ(sim::chip(c).size(), 0x200000u);
        for (int b = 0; b < 35; ++b)
            EXPECT_FALSE(sim::chip(c).blockProtected(b));
    }
}

TEST_F(Cartridges, SmallFlashCartridgesTakeTheirSizeFromTheDeviceByte)
{
    sim::insertCart("flash4");
    {
        Link link;
        EXPECT_EQ(probe(link, 0).device, 0xAB);
        EXPECT_EQ(sim::chip(0).size(), 0x80000u);
        EXPECT_EQ(sim::chip(0).blocks(), 11);
        // A name shorter than 12 bytes, NUL-padded.
        std::string name = romName(link);
        EXPECT_EQ(std::string(name.c_str()), "SMALL4");
    }
    sim::insertCart("flash8");
    Link link;
    EXPECT_EQ(probe(link, 0).device, 0x2C);
    EXPECT_EQ(sim::chip(0).size(), 0x100000u);
}

TEST_F(Cartridges, BungHasItsOwnIdentificationBytes)
{
    sim::insertCart("bung");
    Link link;
    Ids c0 = probe(link, 0);
    Ids c1 = probe(link, 1);
    EXPECT_EQ(c0.factory, 0x81);
    EXPECT_EQ(c0.manuf, 0x98);
    EXPECT_EQ(c0.device, 0x2F);
    EXPECT_EQ(c1.manuf, 0x92);
}

TEST_F(Cartridges, ContentsAreTheSameOnEveryInsertion)
{
    sim::insertCart("official32");
    auto first = sim::cartImage();
    sim::insertCart("cindercart");
    sim::insertCart("official32");
    EXPECT_EQ(sim::cartImage(), first);
    // And they are not a constant fill: every byte value turns up.
    int distinct[256] = {};
    for (size_t i = 0x100; i < 0x10100; ++i)
        distinct[first[i]] = 1;
    int count = 0;
    for (int d : distinct)
        count += d;
    EXPECT_EQ(count, 256);
}

TEST_F(Cartridges, TheHeaderCarriesTheLicenceLine)
{
    sim::insertCart("official16");
    std::string licence;
    for (uint32_t a = 0; a < 28; ++a)
        licence += static_cast<char>(sim::cartPeek(a));
    EXPECT_EQ(licence, " LICENSED BY SNK CORPORATION");
}

TEST_F(Cartridges, CartridgeAddressesSplitAtTwoMegabytes)
{
    sim::insertCart("cindercart");
    sim::cartPoke(0x200000, 0x12);
    sim::cartPoke(0x1FFFFF, 0x34);
    EXPECT_EQ(sim::chip(1).peek(0), 0x12);
    EXPECT_EQ(sim::chip(0).peek(0x1FFFFF), 0x34);
    auto image = sim::cartImage();
    EXPECT_EQ(image[0x200000], 0x12);
    EXPECT_EQ(image[0x1FFFFF], 0x34);
}

}  // namespace
