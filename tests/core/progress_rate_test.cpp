// The bar's words from the bytes, the fraction and the seconds so far, at the
// edges a job's fractions and clocks reach.
#include <gtest/gtest.h>

#include <cmath>

#include "core/progress_rate.h"

TEST(ProgressText, PercentRateAndTimeLeftOnlyWhereTheyCanBeTold)
{
    const uint64_t MIB = 1 << 20;
    const struct {
        uint64_t total;
        float fraction;
        double seconds;
        const char* shown;
    } cases[] = {
        {2 * MIB, 0.42f, 1.0, "42%  860 KiB/s  0:02 left"},  // 0.42f is a hair under 0.42
        {2 * MIB, 0.5f, 61.0, "50%  17 KiB/s  1:01 left"},
        {4 * MIB, 0.25f, 1500.0, "25%  0.7 KiB/s  1:15:00 left"},  // one byte at a time
        {4 * MIB, 0.999f, 10.0, "99%  409 KiB/s  0:01 left"},      // never 100% before the end
        {MIB, 1.7f, 2.0, "100%  512 KiB/s  0:00 left"},            // jobs do not clamp
        {MIB, 0.0f, 5.0, "0%"},                                    // nothing moved yet
        {MIB, 0.3f, 0.0, "30%"},
        {MIB, 0.3f, -2.0, "30%"},
        {MIB, -0.5f, 2.0, "0%"},
        {MIB, NAN, 2.0, "0%"},
        {MIB, 1e-6f, 1.0, "0%  0.0 KiB/s"},  // over 99 hours left
        {0, 0.999f, 12.5, "0:13 elapsed"},   // an erase cannot count its bytes
        {0, 0.5f, 1e12, "99:59:59 elapsed"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progressText(c.total, c.fraction, c.seconds), c.shown) << c.fraction << " after " << c.seconds;
}
