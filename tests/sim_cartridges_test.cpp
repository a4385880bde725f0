// The cartridges on offer. What each one identifies as is the cartridge
// probe's business (its tests run on every cartridge); here, what the
// catalogue and the cartridge addresses promise the tests themselves.
#include "sim.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class Cartridges : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
};

TEST_F(Cartridges, EveryNameInTheCatalogueCanBeInsertedAndAnUnknownOneLeavesItEmpty)
{
    ASSERT_GE(sim::cartNames().size(), 7u);
    for (const std::string& name : sim::cartNames()) {
        EXPECT_TRUE(sim::insertCart(name)) << name;
        EXPECT_EQ(sim::cartName(), name);
    }
    EXPECT_TRUE(sim::insertCart("official16"));
    EXPECT_FALSE(sim::insertCart("official64"));
    EXPECT_EQ(sim::cartName(), "none");
    EXPECT_FALSE(sim::chip(0).present());
    EXPECT_FALSE(sim::chip(1).present());
}

TEST_F(Cartridges, ContentsAreTheSameOnEveryInsertionButNotAConstantFill)
{
    sim::insertCart("official32");
    auto first = sim::cartImage();
    EXPECT_EQ(first.size(), 0x400000u);
    sim::cartPoke(0x100, first[0x100] ^ 0xFF);
    sim::insertCart("cindercart");
    sim::insertCart("official32");
    EXPECT_EQ(sim::cartImage(), first);
    bool seen[256] = {};
    for (size_t i = 0x100; i < 0x10100; ++i)
        seen[first[i]] = true;
    EXPECT_EQ(std::count(std::begin(seen), std::end(seen), true), 256) << "every byte value turns up";
}

TEST_F(Cartridges, CartridgeAddressesSplitAtTwoMegabytes)
{
    sim::insertCart("cindercart");
    sim::cartPoke(0x200000, 0x12);
    sim::cartPoke(0x1FFFFF, 0x34);
    EXPECT_EQ(sim::chip(1).peek(0), 0x12);
    EXPECT_EQ(sim::chip(0).peek(0x1FFFFF), 0x34);
    EXPECT_EQ(sim::cartPeek(0x200000), 0x12);
    auto image = sim::cartImage();
    EXPECT_EQ(image[0x200000], 0x12);
    EXPECT_EQ(image[0x1FFFFF], 0x34);
}

}  // namespace
