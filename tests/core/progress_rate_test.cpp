// The bar's words: percent, rate and time left from the bytes, the fraction
// and the seconds so far, at the edges a job's fractions reach.
#include <gtest/gtest.h>

#include <cmath>

#include "core/link/clock.h"
#include "core/progress_rate.h"

namespace {

const uint64_t MIB = 1 << 20;

TEST(ProgressText, PercentRateAndTimeLeft)
{
    EXPECT_EQ(progressText(2 * MIB, 0.42f, 1.0), "42%  860 KiB/s  0:02 left");
    EXPECT_EQ(progressText(2 * MIB, 0.5f, 61.0), "50%  17 KiB/s  1:01 left");
    EXPECT_EQ(progressText(4 * MIB, 0.25f, 1500.0), "25%  0.7 KiB/s  1:15:00 left") << "one byte at a time";
    EXPECT_EQ(progressText(4 * MIB, 0.999f, 10.0), "99%  409 KiB/s  0:01 left") << "never 100% before the end";
    EXPECT_EQ(progressText(4 * MIB, 1.0f, 10.0), "100%  410 KiB/s  0:00 left");
}

TEST(ProgressText, WhatCannotBeToldYetIsLeftOut)
{
    EXPECT_EQ(progressText(MIB, 0.0f, 5.0), "0%") << "nothing moved: no rate";
    EXPECT_EQ(progressText(MIB, 0.3f, 0.0), "30%") << "no time passed";
    EXPECT_EQ(progressText(MIB, 0.3f, -2.0), "30%") << "a clock that went back";
    EXPECT_EQ(progressText(MIB, 1e-6f, 1.0), "0%  0.0 KiB/s") << "over 99 hours left";
    EXPECT_EQ(progressText(MIB, 1.7f, 2.0), "100%  512 KiB/s  0:00 left") << "fractions are not clamped by jobs";
    EXPECT_EQ(progressText(MIB, -0.5f, 2.0), "0%");
    EXPECT_EQ(progressText(MIB, NAN, 2.0), "0%");
    EXPECT_EQ(progressText(0, 0.999f, 12.5), "0:13 elapsed") << "an erase cannot count its bytes";
    EXPECT_EQ(progressText(0, 0.5f, 1e12), "99:59:59 elapsed");
}

double g_now = 100.0;
double fakeClock()
{
    return g_now;
}

TEST(ProgressRate, CountsFromItsStartOnTheLinkClock)
{
    double (*saved)() = g_linkClock;
    g_linkClock = fakeClock;
    ProgressRate rate;
    rate.start(MIB);
    g_now += 4.0;
    EXPECT_EQ(rate.text(0.5f), "50%  128 KiB/s  0:04 left");
    g_linkClock = saved;
}

}  // namespace
