// Backup ROM and the file it replaces: nothing is opened without a
// cartridge, and a file already there is replaced only by a whole backup.
#include <sys/stat.h>

#include <filesystem>

#include "core/jobs/jobs.h"
#include "sim.h"
#include "support/core_job.h"
#include "support/sim_job.h"

namespace {

namespace fs = std::filesystem;

PathAsker answer(const std::string& path, bool* asked = nullptr)
{
    return [path, asked](const std::string&, std::string* out) {
        if (asked)
            *asked = true;
        *out = path;
        return true;
    };
}

size_t filesIn(const std::string& folder)
{
    return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// The name offered is the previous cartridge's, so an earlier backup is
// likely to be chosen: with no cartridge it is not even asked for.
TEST_F(CoreJobTest, ABackupOfNoCartridgeLeavesTheOldFileWhole)
{
    std::string path = scratch("game.ngp");
    const Bytes old = pattern(0x200000);
    writeFile(path, old);
    sim::insertCart("none");
    bool asked = false;
    EXPECT_FALSE(backupRom(answer(path, &asked), simJob(report)));
    EXPECT_EQ(report.lines, (Lines{"No cart detected!", "Nothing to back up."}));
    EXPECT_FALSE(asked);
    EXPECT_TRUE(report.titles.empty());
    EXPECT_TRUE(readFile(path) == old);
}

// With chip 0 silent, the image's first 2 MiB would come from its silent
// window and chip 1 would sit at the wrong offset: a dump that is not the
// cartridge, once called done.
TEST_F(CoreJobTest, NoBackupOfACartridgeWhoseChipZeroIsSilent)
{
    std::string path = scratch("game.ngp");
    const Bytes old = pattern(1000);
    writeFile(path, old);
    sim::insertCart("silent0");
    bool asked = false;
    EXPECT_FALSE(backupRom(answer(path, &asked), simJob(report)));
    ASSERT_FALSE(report.lines.empty());
    EXPECT_EQ(report.lines.back(), "Chip 0 did not answer; no backup was made.");
    EXPECT_FALSE(asked);
    EXPECT_TRUE(readFile(path) == old);
}

// A link failing half-way leaves the old bytes and no stray file beside
// them. A whole backup takes the old file's permissions; through a symbolic
// link it replaces the file linked to, and the link stays a link.
TEST_F(CoreJobTest, AFileIsReplacedOnlyByAWholeBackup)
{
    sim::insertCart("flash4");
    std::string path = scratch("game.ngp"), link = scratch("link.ngp");
    const Bytes old = pattern(1000);
    writeFile(path, old);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);

    RecordingReporter failing;
    failing.onBreath = [](int breath) {
        if (breath == 10)
            sim::timeoutOnTransfer(1);
    };
    EXPECT_FALSE(backupRom(answer(path), simJob(failing)));
    EXPECT_EQ(failing.lines.back(), "'game.ngp' is as it was.");
    EXPECT_EQ(failing.lines.end()[-2], "Backup aborted. Deleting the backup file.");
    EXPECT_TRUE(readFile(path) == old);
    EXPECT_EQ(filesIn(fs::path(path).parent_path()), 1u);

    fs::create_symlink(path, link);
    RecordingReporter whole;
    EXPECT_TRUE(backupRom(answer(link), simJob(whole)));
    EXPECT_TRUE(linesEndWith(whole.lines, Lines{"Backup done. Wrote 524288 bytes."} + identityOf(link)));
    EXPECT_TRUE(readFile(path) == sim::cartImage());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(filesIn(fs::path(path).parent_path()), 2u);
}

// Read twice, a byte misread once is caught by the second pass and read
// again until two reads agree: the dump is the cartridge, and the range is
// named. A byte that never reads the same twice fails the backup, and the
// partial file goes. One pass takes the misread byte for the cartridge's.
TEST_F(CoreJobTest, TwoPassesCatchAMisreadAndRefuseARangeThatNeverSettles)
{
    sim::insertCart("official16");
    const Bytes image = sim::cartImage();
    const std::string path = scratch("cart.ngp");
    const struct { std::function<void()> fault; int passes; bool done, right; Lines lines; } cases[] = {
        {[] { sim::misreadOnce(0x12345); }, 2, true, true, {"Unstable: 0x012345-0x012345 took 3 reads."}},
        {[] { sim::neverReadsTrue(0x12345); }, 2, false, false,
         {"0x012345-0x012345 never read the same twice:", "clean the contacts and back up again.",
          "Backup aborted. Deleting the backup file."}},
        {[] { sim::misreadOnce(0x12345); }, 1, true, false, {}},
    };
    for (const auto& c : cases) {
        sim::clearFaults();
        fs::remove(path);
        c.fault();
        report = RecordingReporter();
        WriteSettings s;
        s.readPasses = c.passes;
        EXPECT_EQ(backupRom(answer(path), simJob(report, s)), c.done);
        for (const std::string& line : c.lines)
            EXPECT_NE(std::find(report.lines.begin(), report.lines.end(), line), report.lines.end()) << line;
        EXPECT_EQ(fs::exists(path), c.done);
        if (c.done) {
            EXPECT_EQ(readFile(path) == image, c.right) << c.passes << " passes";
        }
    }
}

}  // namespace
