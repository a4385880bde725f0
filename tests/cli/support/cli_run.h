// The command line run in-process on the simulated linker: its two streams
// captured, its status returned, and a hook at every breath of a job.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/device.h"

struct CliRun {
    int status;
    std::string out, err;
    Lines outLines() const;
};

class CliTest : public ::testing::Test {
protected:
    // A fresh linker holding `cart`, whose erases finish within a few polls.
    void plug(const std::string& cart);
    // pockettetherbox-cli with these arguments; `columns` > 0 draws the bar
    // as on a terminal that wide, paced by a clock that moves `tick` seconds
    // each time it is read.
    CliRun run(const std::vector<std::string>& args, int columns = 0, double tick = 0.0);
    // Called after the n-th breath (link start-up included), counted from 1.
    std::function<void(int)> atBreath;
    std::string scratch(const std::string& name);
    void TearDown() override;

private:
    std::string folder_;
};
