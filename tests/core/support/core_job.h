// Jobs run on the core alone: no toolkit, no window, no X server. The job's
// reporter is a recorder the test reads back and can make cancel.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/report.h"
#include "support/device.h"

class RecordingReporter : public Reporter {
public:
    Lines lines;
    std::vector<std::string> titles;      // every bar opened, in order
    std::vector<uint64_t> totals;         // the bytes each bar was opened with
    std::vector<float> fractions;
    std::vector<size_t> firstFraction;   // where each bar's fractions begin in `fractions`
    int breaths = 0;
    bool open = false;                    // a bar is open now
    bool cancelled = false;
    // Called after every breath with its number; may set `cancelled`.
    std::function<void(int)> onBreath;
    // Called as each bar opens, with its title: the moment to cancel or to
    // strike a fault at a given step of a job.
    std::function<void(const std::string&)> onBegin;
    // Called as each bar closes, with its title.
    std::function<void(const std::string&)> onEnd;

    void line(const char* text) override { lines.push_back(text); }
    void beginProgress(const char* title, uint64_t totalBytes) override;
    void progress(float fraction) override { fractions.push_back(fraction); }
    bool goingOn() override { return !cancelled; }
    void endProgress() override
    {
        open = false;
        if (onEnd && !titles.empty())
            onEnd(titles.back());
    }
    void breathe() override;

    // Cancels at the n-th breath from now.
    void cancelAtBreath(int n);
};

// A fresh simulated linker, opened as start-up does, with its start-up lines
// left out of `report`.
class CoreJobTest : public ::testing::Test {
protected:
    RecordingReporter report;
    void SetUp() override;
    void TearDown() override;
    // A file in a scratch folder removed with the test.
    std::string scratch(const std::string& name);

private:
    std::string folder_;
};
