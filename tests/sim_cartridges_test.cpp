// The cartridges on offer. What each one identifies as, and how cartridge
// addresses split between the chips, the probe's and the flash job's tests
// show on every cartridge; here, what the catalogue promises the tests.
#include "sim.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(Cartridges, InsertionGivesTheSameFreshContentsAndAnUnknownNameLeavesTheLinkerEmpty)
{
    sim::reset();
    ASSERT_TRUE(sim::insertCart("official32"));
    auto first = sim::cartImage();
    EXPECT_EQ(first.size(), 0x400000u);
    sim::cartPoke(0x100, first[0x100] ^ 0xFF);
    ASSERT_GE(sim::cartNames().size(), 7u);
    for (const std::string& name : sim::cartNames()) {
        EXPECT_TRUE(sim::insertCart(name)) << name;
        EXPECT_EQ(sim::cartName(), name);
    }
    sim::insertCart("official32");
    EXPECT_EQ(sim::cartImage(), first);
    bool seen[256] = {};
    for (size_t i = 0x100; i < 0x10100; ++i)
        seen[first[i]] = true;
    EXPECT_EQ(std::count(std::begin(seen), std::end(seen), true), 256) << "not a constant fill";

    EXPECT_FALSE(sim::insertCart("official64"));
    EXPECT_EQ(sim::cartName(), "none");
    EXPECT_FALSE(sim::chip(0).present());
    EXPECT_FALSE(sim::chip(1).present());
}

}  // namespace
