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
        std::string pattern = ::testing::TempDir() + "ptb-sim-state-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        int fd = mkstemp(name.data());
        ASSERT_GE(fd, 0);
        close(fd);
        path = name.data();
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
    void newRun() { sim::readEnvironmentAtNextInit(); }

    std::string path;
};

TEST_F(StateFile, SaveAndLoadRoundTripTheCartridge)
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
}

TEST_F(StateFile, AnEmptyLinkerRoundTrips)
{
    sim::insertCart("none");
    ASSERT_TRUE(sim::saveState(path));
    sim::insertCart("official16");
    ASSERT_TRUE(sim::loadState(path));
    EXPECT_FALSE(sim::chip(0).present());
    EXPECT_FALSE(sim::chip(1).present());
}

TEST_F(StateFile, ABrokenFileIsRefusedAndChangesNothing)
{
    sim::insertCart("cindercart");
    ASSERT_TRUE(sim::saveState(path));
    // Cut it short, as a full disk or a killed run would.
    std::ifstream in(path, std::ios::binary);
    std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << whole.substr(0, whole.size() / 2);
    sim::insertCart("flash8");
    EXPECT_FALSE(sim::loadState(path));
    EXPECT_EQ(sim::cartName(), "flash8");
    EXPECT_EQ(sim::chip(0).size(), 0x100000u);

    std::ofstream(path, std::ios::binary | std::ios::trunc) << "not a cartridge";
    EXPECT_FALSE(sim::loadState(path));
    EXPECT_FALSE(sim::loadState(path + ".missing"));
    EXPECT_EQ(sim::cartName(), "flash8");
}

TEST_F(StateFile, FlashInOneRunVerifyInTheNext)
{
    setenv("PTB_SIM_STATE", path.c_str(), 1);
    setenv("PTB_SIM_CART", "cindercart", 1);
    newRun();
    {
        Link link;
        ASSERT_EQ(link.initResult, 0);
        EXPECT_EQ(sim::cartName(), "cindercart");
        sim::setEraseTimes(0.001, 0.002);
        link.chipErase(0);
        while ((link.readByte(0, 0) & 0x80) == 0) {
        }
        auto data = pattern(32, 11);
        ASSERT_EQ(link.flashWrite32(0x100, data.data(), 0, 1), REPLY_SUCCESS);
    }  // close and exit save the cartridge
    sim::insertCart("none");  // whatever happens in between

    unsetenv("PTB_SIM_CART");
    newRun();
    Link link;
    ASSERT_EQ(link.initResult, 0);
    EXPECT_EQ(sim::cartName(), "cindercart");
    auto data = pattern(32, 11);
    uint8_t got[64];
    ASSERT_TRUE(link.read64xN(got, 0x100, 0, 1));
    EXPECT_EQ(0, memcmp(got, data.data(), 32));
    EXPECT_EQ(got[32], 0xFF);
}

TEST_F(StateFile, NamingAnotherCartridgePlugsItInFresh)
{
    sim::insertCart("official16");
    sim::chip(0).poke(0x1FA000, 0x00);
    ASSERT_TRUE(sim::saveState(path));
    setenv("PTB_SIM_STATE", path.c_str(), 1);
    setenv("PTB_SIM_CART", "flash8", 1);
    newRun();
    Link link;
    EXPECT_EQ(sim::cartName(), "flash8");
    EXPECT_EQ(sim::chip(0).size(), 0x100000u);
}

TEST_F(StateFile, TheEnvironmentChoosesFirmwareFaultsAndPacing)
{
    setenv("PTB_SIM_CART", "bung", 1);
    setenv("PTB_SIM_FIRMWARE", "0.12", 1);
    setenv("PTB_SIM_FAULT", "claim:BUSY", 1);
    newRun();
    Link link;
    ASSERT_EQ(link.initResult, 0);
    EXPECT_EQ(link.claimResult, LIBUSB_ERROR_BUSY);
    EXPECT_EQ(sim::chip(1).manufacturer(), 0x92);
    uint8_t major = 9, minor = 9;
    link.getVersionReplyCode(&major, &minor);
    EXPECT_EQ(major, 0);
    EXPECT_EQ(minor, 12);
    EXPECT_FALSE(sim::pacing());
}

TEST_F(StateFile, AMistypedSettingStopsInitInsteadOfRunningAnotherScenario)
{
    for (auto setting : {std::pair<const char*, const char*>{"PTB_SIM_CART", "offical16"},
                         {"PTB_SIM_FIRMWARE", "013"},
                         {"PTB_SIM_FIRMWARE", "0.x"},
                         {"PTB_SIM_FAULT", "timeout@"}}) {
        setenv(setting.first, setting.second, 1);
        newRun();
        libusb_context* ctx = nullptr;
        EXPECT_EQ(libusb_init(&ctx), LIBUSB_ERROR_OTHER) << setting.first << "=" << setting.second;
        unsetenv(setting.first);
    }
}

TEST_F(StateFile, AStateFileThatIsNotOursStopsInit)
{
    std::ofstream(path) << "hello";
    setenv("PTB_SIM_STATE", path.c_str(), 1);
    newRun();
    libusb_context* ctx = nullptr;
    EXPECT_EQ(libusb_init(&ctx), LIBUSB_ERROR_OTHER);
    libusb_exit(ctx);
    std::ifstream in(path);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "hello") << "the file is left alone";
}

}  // namespace
