// Backup and Verify together, on every cartridge the simulator knows: what
// one writes the other must accept byte for byte (a 16 Mbit image walked
// whole, a smaller one ending where the file does), a changed save block
// gives only the note at the end, and a changed protected byte fails with
// its line. A flash cartridge has no protected block to tell its save area
// by, so there any changed byte fails. The round trip through Flash ROM is
// in flash_rom_test.cpp.
#include <cstdio>

#include "gui/commands.h"
#include "support/job_helpers.h"

namespace {

const std::string MATCHES = "The cartridge matches the file.";

std::vector<std::string> cartridges()
{
    std::vector<std::string> names;
    // A cartridge whose chip 0 is silent has no image from address 0 to
    // round-trip; its save jobs are tested in core/cart_layout_test.cpp.
    for (const std::string& name : sim::cartNames())
        if (name != "none" && name != "silent0")
            names.push_back(name);
    return names;
}

class RomRoundTrip : public JobTest, public ::testing::WithParamInterface<std::string> {
protected:
    // The log from the verify's first line on, and where its reads ended.
    Lines verifyLog(uint32_t* end = nullptr)
    {
        clearLog();
        std::vector<Command> reads = only(runWithFile("verify", scratchPath("cart.ngp")), CMD_READ64XN);
        if (end && !reads.empty())
            *end = reads.back().chip * 0x200000 + reads.back().addr + reads.back().count * 64;
        Lines lines = logLines();
        int at = findLine("Verifying 'cart.ngp'");
        return at < 0 ? lines : Lines(lines.begin() + at, lines.end());
    }
};

// A byte inside the first chip-0 block whose protection is `protectedBlock`,
// or -1 when the cartridge has none.
int64_t byteInBlock(bool protectedBlock, int* block)
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
    runWithFile("backup", scratchPath("cart.ngp"));
    ASSERT_TRUE(logEndsWith(Lines{"Backup done. Wrote " + std::to_string(size) + " bytes."} +
                            windowIdentityOf(scratchPath("cart.ngp"))));
    ASSERT_TRUE(readFile(scratchPath("cart.ngp")) == image);

    // Verify's verdict on a file that matches: the walk follows each chip's
    // own blocks, so an exact image ends with the usual summary whatever the
    // chips' size. Each verdict is taken before its expectation is built:
    // the timing line's seconds are read back from the log. The file's
    // identity follows a verdict that passed.
    const Lines identity = windowIdentityOf(scratchPath("cart.ngp"));
    auto clean = [&](const Lines& notes) {
        return Lines{"Verifying 'cart.ngp'"} + notes + Lines{timingLine(size), MATCHES} + identity;
    };
    uint32_t end = 0;
    Lines log = verifyLog(&end);
    EXPECT_EQ(log, clean({}));
    EXPECT_EQ(end, size) << "the reads end where the file does";

    // The verdict on one changed byte at the start of a block's first chunk.
    auto failedAt = [&](int64_t at, int inBlock, uint8_t changed) {
        char mismatch[64], failed[64];
        snprintf(mismatch, sizeof mismatch, "Mismatch at 0x%06X: file=0x%02X cart=0x%02X", unsigned(at), image[at],
                 changed);
        snprintf(failed, sizeof failed, "Verification failed in chip 0, block %d.", inBlock);
        return Lines{"Verifying 'cart.ngp'", mismatch, failed, timingLine(sim::blockStart(sim::chip(0).size(), inBlock)),
                     "The cartridge differs from the file."};
    };
    int block = 0, anyProtected = 0;
    const bool flashCart = byteInBlock(true, &anyProtected) < 0;
    int64_t save = byteInBlock(false, &block);
    ASSERT_GE(save, 0);
    sim::cartPoke(uint32_t(save), uint8_t(~image[save]));
    log = verifyLog();
    if (flashCart) {
        EXPECT_EQ(log, failedAt(save, block, uint8_t(~image[save])));
    } else {
        EXPECT_EQ(log, clean({"Unprotected blocks differed,", " but protected blocks verified good.",
                              "This may be due to changes in savegame data."}));
    }
    sim::cartPoke(uint32_t(save), image[save]);

    int64_t game = byteInBlock(true, &block);
    if (game < 0)
        return;  // a flash cartridge: nothing protected to fail on
    uint8_t changed = uint8_t(image[game] ^ 0x10);
    sim::cartPoke(uint32_t(game), changed);
    log = verifyLog();
    EXPECT_EQ(log, failedAt(game, block, changed));
}

INSTANTIATE_TEST_SUITE_P(EveryCartridge, RomRoundTrip, ::testing::ValuesIn(cartridges()),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
