// Keeping the cartridge between runs, and the demo's configuration from the
// environment.
#include "sim_host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

using namespace simtest;

namespace {

class StateFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::reset();
        path = ::testing::TempDir() + "ptb-sim-state-" + std::to_string(getpid());
        remove(path.c_str());
    }
    void TearDown() override
    {
        remove(path.c_str());
        for (const char* v : {"PTB_SIM_CART", "PTB_SIM_FIRMWARE", "PTB_SIM_FAULT", "PTB_SIM_STATE", "PTB_SIM_PACE"})
            unsetenv(v);
        sim::reset();
    }
    // A new process of the simulated program: the environment is read at init.
    void newRun(const char* cart)
    {
        setenv("PTB_SIM_STATE", path.c_str(), 1);
        cart ? setenv("PTB_SIM_CART", cart, 1) : unsetenv("PTB_SIM_CART");
        sim::readEnvironmentAtNextInit();
    }

    std::string path;
};

TEST_F(StateFile, SaveAndLoadRoundTripTheCartridgeOrAnEmptyLinkerButABrokenFileChangesNothing)
{
    sim::insertCart("official32");
    sim::chip(1).poke(0x1FA010, 0x42);
    sim::chip(1).setBlockProtected(3, false);
    ASSERT_TRUE(sim::saveState(path));
    sim::insertCart("none");
    ASSERT_TRUE(sim::loadState(path));
    EXPECT_EQ(sim::cartName(), "official32");
    EXPECT_EQ(sim::chip(1).peek(0x1FA010), 0x42);
    EXPECT_FALSE(sim::chip(1).blockProtected(3));
    EXPECT_TRUE(sim::chip(1).blockProtected(4));
    EXPECT_EQ(sim::chip(0).manufacturer(), 0x98);
    EXPECT_EQ(sim::chip(0).factory(), 0x81);

    sim::insertCart("none");
    ASSERT_TRUE(sim::saveState(path));
    sim::insertCart("official16");
    ASSERT_TRUE(sim::loadState(path));
    EXPECT_FALSE(sim::chip(0).present());
    EXPECT_FALSE(sim::chip(1).present());

    sim::insertCart("cindercart");
    ASSERT_TRUE(sim::saveState(path));
    // Cut it short, as a full disk or a killed run would.
    ASSERT_EQ(truncate(path.c_str(), std::ifstream(path, std::ios::ate).tellg() / 2), 0);
    sim::insertCart("flash8");
    EXPECT_FALSE(sim::loadState(path));
    EXPECT_EQ(sim::cartName(), "flash8");
    EXPECT_EQ(sim::chip(0).size(), 0x100000u);

    std::ofstream(path, std::ios::binary | std::ios::trunc) << "not a cartridge";
    EXPECT_FALSE(sim::loadState(path));
    EXPECT_FALSE(sim::loadState(path + ".missing"));
    EXPECT_EQ(sim::cartName(), "flash8");
}

TEST_F(StateFile, FlashInOneRunVerifyInTheNextUnlessAnotherCartridgeIsNamed)
{
    setenv("PTB_SIM_CART", "cindercart", 1);
    setenv("PTB_SIM_FIRMWARE", "0.12", 1);
    setenv("PTB_SIM_FAULT", "claim:BUSY", 1);
    {
        Link link;  // a test configured the simulator: the environment waits for a new run
        EXPECT_EQ(sim::cartName(), "official16");
        EXPECT_EQ(link.claimResult, 0);
    }
    newRun("cindercart");
    auto data = pattern(32, 11);
    {
        Link link;
        ASSERT_EQ(link.initResult, 0);
        EXPECT_EQ(sim::cartName(), "cindercart");
        EXPECT_EQ(link.claimResult, LIBUSB_ERROR_BUSY);
        uint8_t major = 9, minor = 9;
        link.version(&major, &minor);
        EXPECT_EQ(major, 0);
        EXPECT_EQ(minor, 12);
        ASSERT_EQ(sim::chip(1).peek(0x100), 0xFF);  // chip 1 starts erased
        ASSERT_EQ(link.flashWrite32(0x100, data.data(), 1, 1), REPLY_SUCCESS);
    }  // close and exit save the cartridge
    sim::insertCart("none");  // whatever happens in between

    unsetenv("PTB_SIM_FAULT");
    newRun(nullptr);
    {
        Link link;
        ASSERT_EQ(link.initResult, 0);
        EXPECT_EQ(sim::cartName(), "cindercart");
        uint8_t got[64];
        ASSERT_TRUE(link.read64xN(got, 0x100, 1, 1));
        EXPECT_EQ(0, memcmp(got, data.data(), 32));
        EXPECT_EQ(got[32], 0xFF);
    }

    newRun("flash8");
    Link link;
    EXPECT_EQ(sim::cartName(), "flash8");
    EXPECT_EQ(sim::chip(0).size(), 0x100000u);
}

TEST_F(StateFile, AMistypedSettingOrAFileThatIsNotOursStopsInit)
{
    std::ofstream(path) << "hello";
    for (auto setting : {std::pair<const char*, const char*>{"PTB_SIM_CART", "offical16"},
                         {"PTB_SIM_FIRMWARE", "013"},
                         {"PTB_SIM_FIRMWARE", "0.x"},
                         {"PTB_SIM_FAULT", "timeout@"},
                         {"PTB_SIM_STATE", path.c_str()}}) {
        setenv(setting.first, setting.second, 1);
        sim::readEnvironmentAtNextInit();
        libusb_context* ctx = nullptr;
        EXPECT_EQ(libusb_init(&ctx), LIBUSB_ERROR_OTHER) << setting.first << "=" << setting.second;
        libusb_exit(ctx);
        unsetenv(setting.first);
    }
    std::ifstream in(path);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "hello") << "the file is left alone";
}

}  // namespace
