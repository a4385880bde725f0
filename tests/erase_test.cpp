#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "core/cart/erase.h"
#include "core/link/linker.h"
#include "sim.h"
#include "support/job_fixture.h"

namespace {

using Write = std::tuple<int, uint32_t, int>;  // chip, address, value
using EraseTest = JobTest;

// Each chip alone, both (chip 0 first), and nothing for any other value;
// erased flash then reads 0xFF, the caller's completion test.
TEST_F(EraseTest, SendsTheChipEraseToTheChipsAsked)
{
    ASSERT_TRUE(sim::insertCart("cindercart"));
    sim::setEraseTimes(0.001, 0.05);
    for (int chips : {int(ERASE_CHIP0), int(ERASE_CHIP1), int(ERASE_BOTH), 3, 4, 0x80, 0xFF}) {
        SCOPED_TRACE(chips);
        std::vector<Write> want;
        bool erases[2] = {chips == ERASE_CHIP0 || chips == ERASE_BOTH,
                          chips == ERASE_CHIP1 || chips == ERASE_BOTH};
        for (int c : {0, 1})
            if (erases[c])
                want.insert(want.end(), {{c, 0x5555, 0xAA}, {c, 0x2AAA, 0x55}, {c, 0x5555, 0x80},
                                         {c, 0x5555, 0xAA}, {c, 0x2AAA, 0x55}, {c, 0x5555, 0x10}});
        sim::cartPoke(0, 0x12);
        sim::cartPoke(0x200000, 0x34);
        sim::Mark m = sim::mark();
        EXPECT_EQ(erase_cart_checked(theLink(), uint8_t(chips)), true);
        std::vector<Write> got;
        for (const auto& c : sim::hostWritesSince(m))
            got.push_back({c.chip, c.address, c.value});
        EXPECT_EQ(got, want);
        if (want.empty()) {
            EXPECT_TRUE(sim::transfersSince(m).empty());
        }
        for (int c : {0, 1})
            EXPECT_EQ(sim::chip(c).erasing(sim::clockSeconds()), erases[c]) << "chip " << c;
        sim::advanceClock(1.0);
        EXPECT_EQ(theLink().read_byte(0, 0).value_or(0), erases[0] ? 0xFF : 0x12);
        EXPECT_EQ(theLink().read_byte(0, 1).value_or(0), erases[1] ? 0xFF : 0x34);
    }
    EXPECT_EQ(sim::cartPeek(0x1FFFFF), 0xFF);
    EXPECT_TRUE(logLines().empty());
}

}  // namespace
