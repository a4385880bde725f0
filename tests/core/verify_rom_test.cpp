// Verify ROM's verdict, which a script will read as the job's result.
#include <cstdio>

#include "core/jobs/jobs.h"
#include "sim.h"
#include "support/core_job.h"
#include "support/sim_job.h"

namespace {

std::string mismatch(uint32_t addr, uint8_t file)
{
    char line[80];
    snprintf(line, sizeof line, "Mismatch at 0x%06X: file=0x%02X cart=0x%02X", addr, file, sim::cartPeek(addr));
    return line;
}

// On a chip with no protected block nothing tells a save from the game:
// a wrong byte anywhere fails as one in a protected block does. A wrong
// ROM fails at its first chunk.
TEST_F(CoreJobTest, AFlashCartridgeFailsOnAnyDifference)
{
    sim::insertCart("flash4");
    std::string path = scratch("game.ngp");
    Bytes image = sim::cartImage();
    image[0x30123] ^= 0x40;  // block 3
    writeFile(path, image);
    EXPECT_FALSE(verifyRom(path, simJob(report)));
    EXPECT_TRUE(linesAre(report.lines, {"Verifying 'game.ngp'", mismatch(0x30123, image[0x30123]),
                                        "Verification failed in chip 0, block 3.", "Verified 196608 bytes in {s} seconds.",
                                        "The cartridge differs from the file."}));

    RecordingReporter wrongRom;
    writeFile(path, Bytes(100, 0x00));
    EXPECT_FALSE(verifyRom(path, simJob(wrongRom)));
    ASSERT_GE(wrongRom.lines.size(), 3u);
    EXPECT_EQ(wrongRom.lines[wrongRom.lines.size() - 3], "Verification failed in chip 0, block 0.");
}

// A chunk wrong in many bytes names the first 16 and counts the rest in one
// line; the verdict, timing and outcome lines stay.
TEST_F(CoreJobTest, AWrongChunkNamesSixteenBytesAndCountsTheRest)
{
    sim::insertCart("flash4");
    std::string path = scratch("game.ngp");
    Bytes image = sim::cartImage();
    Lines want = {"Verifying 'game.ngp'"};
    for (uint32_t i = 0; i < 40; i++) {
        uint32_t at = 0x32000 + i * 97;
        image[at] ^= 0x81;
        if (i < 16)
            want.push_back(mismatch(at, image[at]));
    }
    want = want + Lines{"… and 24 more in this chunk, last at 0x032EC7.",
                        "Verification failed in chip 0, block 3.", "Verified 204800 bytes in {s} seconds.",
                        "The cartridge differs from the file."};
    writeFile(path, image);
    EXPECT_FALSE(verifyRom(path, simJob(report)));
    EXPECT_TRUE(linesAre(report.lines, want));
}

// A cartridge with protected blocks keeps calling a difference in its save
// blocks a note, and that verdict passes; no cartridge is no verdict.
TEST_F(CoreJobTest, SaveBlocksOfAnOfficialCartridgeStillOnlyGiveANote)
{
    std::string path = scratch("game.ngp");
    Bytes image = sim::cartImage();
    image[0x1FA010] ^= 0x01;  // block 33, the save area
    writeFile(path, image);
    EXPECT_TRUE(verifyRom(path, simJob(report)));
    EXPECT_TRUE(linesAre(report.lines, Lines{"Verifying 'game.ngp'", "Unprotected blocks differed,",
                                        " but protected blocks verified good.",
                                        "This may be due to changes in savegame data.",
                                        "Verified 2097152 bytes in {s} seconds.",
                                        "The cartridge matches the file."} +
                                           identityOf(path)));

    sim::insertCart("none");
    RecordingReporter none;
    EXPECT_FALSE(verifyRom(path, simJob(none)));
    EXPECT_EQ(none.lines.front(), "No cart detected!");
}

// A byte that reads wrong once, through dirty contacts, is read again before
// it counts: it is named as an unstable read, and the cartridge matches.
TEST_F(CoreJobTest, AMisreadIsUnstableNotADifference)
{
    sim::insertCart("flash4");
    std::string path = scratch("game.ngp");
    writeFile(path, sim::cartImage());
    sim::misreadOnce(0x30123);
    EXPECT_TRUE(verifyRom(path, simJob(report)));
    EXPECT_TRUE(linesAre(Lines(report.lines.begin(), report.lines.begin() + 3),
                         {"Verifying 'game.ngp'", "Unstable read at 0x030123: 1 bytes read",
                          "otherwise the second time. Clean the contacts."}));
}

}  // namespace
