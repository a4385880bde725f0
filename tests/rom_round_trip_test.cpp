// Backup and Verify together, on every cartridge the simulator knows: what
// one writes the other must accept byte for byte (a 16 Mbit image walked
// whole, an 8 Mbit one ending at 0x100000), a changed save block gives only
// the note at the end, and a changed protected byte fails with its line.

#include <algorithm>
#include <cstdio>

#include "ops/commands.h"
#include "rom_job_helpers.h"

static const char* const CARTRIDGES[] = {"official16", "official32", "official8", "cindercart",
                                         "flash4",     "flash8",     "bung"};

class RomRoundTrip : public JobTest, public ::testing::WithParamInterface<const char*> {};

TEST(RomRoundTripCoverage, EveryCartridgeOfTheSimulatorIsCovered)
{
    for (const std::string& name : sim::cartNames()) {
        if (name != "none") {
            EXPECT_NE(std::find(std::begin(CARTRIDGES), std::end(CARTRIDGES), name),
                      std::end(CARTRIDGES))
                << name;
        }
    }
}

// Verify's verdict on a file that matches the cartridge: the whole walk for
// 16 Mbit chips, or the end of the file where a smaller chip ends.
static std::vector<std::string> cleanEnding(uint32_t size, const std::vector<std::string>& notes)
{
    std::vector<std::string> lines;
    if (size % 0x200000 == 0) {
        lines = notes;
        lines.push_back(timingLine(size));
        return lines;
    }
    char eof[48];
    snprintf(eof, sizeof eof, "End of file reached at addr 0x%06X", size);
    lines.push_back(eof);
    if (notes.empty())
        lines.push_back("No differences found, but cart was larger than file");
    else
        lines.insert(lines.end(), notes.begin(), notes.end());
    return lines;
}

static std::vector<std::string> verifyLog(const std::string& path)
{
    clearLog();
    answerFileChoice(path);
    runJob(cb_verify_button);
    return logFrom("Verifying 'cart.ngp'");
}

static std::vector<std::string> with(std::string first, std::vector<std::string> rest)
{
    rest.insert(rest.begin(), first);
    return rest;
}

// A byte inside the first chip-0 block whose protection is `protectedBlock`,
// or -1 when the cartridge has none.
static int64_t byteInBlock(bool protectedBlock, int* block)
{
    sim::FlashChip& chip0 = sim::chip(0);
    for (int b = 0; b < chip0.blocks(); b++)
        if (chip0.blockProtected(b) == protectedBlock) {
            *block = b;
            return sim::blockStart(chip0.size(), b) + 0x123;
        }
    return -1;
}

TEST_P(RomRoundTrip, BackupVerifiesCleanAndChangesAreJudgedByProtection)
{
    ASSERT_TRUE(sim::insertCart(GetParam()));
    const Bytes image = sim::cartImage();
    const uint32_t size = uint32_t(image.size());
    std::string path = scratchPath("cart.ngp");
    answerFileChoice(path);
    cb_backupROM_button(nullptr, nullptr);
    ASSERT_EQ(logLines().back(), "Backup done. Wrote " + std::to_string(size) + " bytes.");
    ASSERT_TRUE(readFile(path) == image);

    // Each verdict is taken before its expectation is built: the timing
    // line's seconds are read back from the log.
    std::vector<std::string> log = verifyLog(path);
    EXPECT_EQ(log, with("Verifying 'cart.ngp'", cleanEnding(size, {})));

    const std::vector<std::string> note = {"Unprotected blocks differed,",
                                           " but protected blocks verified good.",
                                           "This may be due to changes in savegame data."};
    int block = 0;
    int64_t save = byteInBlock(false, &block);
    ASSERT_GE(save, 0);
    sim::cartPoke(uint32_t(save), uint8_t(~image[save]));
    log = verifyLog(path);
    EXPECT_EQ(log, with("Verifying 'cart.ngp'", cleanEnding(size, note)));
    sim::cartPoke(uint32_t(save), image[save]);

    int64_t game = byteInBlock(true, &block);
    if (game < 0)
        return;  // a flash cartridge: nothing protected to fail on
    uint8_t changed = uint8_t(image[game] ^ 0x10);
    sim::cartPoke(uint32_t(game), changed);
    char mismatch[64], failed[64];
    snprintf(mismatch, sizeof mismatch, "Mismatch at 0x%06X: file=0x%02X cart=0x%02X",
             unsigned(game), image[game], changed);
    snprintf(failed, sizeof failed, "Verification failed in chip 0, block %d.", block);
    uint32_t chunkStart = sim::blockStart(sim::chip(0).size(), block);
    log = verifyLog(path);
    EXPECT_EQ(log, (std::vector<std::string>{"Verifying 'cart.ngp'", mismatch, failed,
                                             timingLine(chunkStart)}));
}

INSTANTIATE_TEST_SUITE_P(EveryCartridge, RomRoundTrip, ::testing::ValuesIn(CARTRIDGES));

// A backup taken from a game, put into a flash cartridge, verifies clean
// there. The image goes in through the simulator's chip contents until the
// flash job lands beside these.
class RomRoundTripFlash : public JobTest {};

TEST_F(RomRoundTripFlash, BackupPutIntoAFlashCartridgeVerifiesClean)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    std::string path = scratchPath("cart.ngp");
    answerFileChoice(path);
    cb_backupROM_button(nullptr, nullptr);
    ASSERT_EQ(logLines().back(), "Backup done. Wrote 4194304 bytes.");

    ASSERT_TRUE(sim::insertCart("cindercart"));
    sim::setEraseTimes(0.01, 0.02);
    clearLog();
    answerFileChoice(path);
    cb_loadROMs_button(nullptr, nullptr);
    ASSERT_EQ(logLines().back(), "Flashing done.");
    EXPECT_EQ(sim::cartImage(), readFile(path));

    std::vector<std::string> log = verifyLog(path);
    EXPECT_EQ(log, (std::vector<std::string>{"Verifying 'cart.ngp'", timingLine(0x400000)}));
}
