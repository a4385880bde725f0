// A job speaks only through the reporter it is handed, the link layer's
// failures included, and hands the default back when it ends.
#include <filesystem>

#include "core/jobs/jobs.h"
#include "core/link/linker.h"
#include "sim.h"
#include "support/core_job.h"
#include "support/sim_job.h"

namespace {

PathAsker answer(const std::string& path)
{
    return [path](const std::string&, std::string* out) {
        *out = path;
        return true;
    };
}

}  // namespace

TEST_F(CoreJobTest, ABackupWithNoWindowWritesTheCartridgeAndSaysDone)
{
    sim::insertCart("flash4");
    std::string path = scratch("cart.ngp");
    RecordingReporter job;
    ASSERT_TRUE(backupRom(answer(path), simJob(job)));
    EXPECT_EQ(readFile(path), sim::cartImage());
    EXPECT_TRUE(linesEndWith(job.lines, Lines{"Backup done. Wrote 524288 bytes."} + identityOf(path)));
    EXPECT_EQ(job.titles, std::vector<std::string>{"Backing up a ROM"});
    EXPECT_EQ(job.totals, std::vector<uint64_t>{524288});
    EXPECT_FALSE(job.open) << "the bar was left open";
    EXPECT_TRUE(report.lines.empty()) << "a job line went past the job's reporter";
}

TEST_F(CoreJobTest, CancelFromTheReporterDeletesThePartialBackup)
{
    sim::insertCart("flash4");
    std::string path = scratch("cart.ngp");
    RecordingReporter job;
    job.cancelAtBreath(3);
    EXPECT_FALSE(backupRom(answer(path), simJob(job)));
    EXPECT_EQ(job.lines.back(), "Backup aborted. Deleting the backup file.");
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(job.open);
}

TEST_F(CoreJobTest, LinkFailuresReachTheJobsReporterAndTheDefaultComesBack)
{
    RecordingReporter job;
    sim::timeoutOnTransfer(2);
    EXPECT_FALSE(cartInfo(simJob(job)));
    ASSERT_GE(job.lines.size(), 3u);
    EXPECT_TRUE(linesAre(Lines(job.lines.begin(), job.lines.begin() + 3), TIMED_OUT));
    EXPECT_TRUE(report.lines.empty());

    EXPECT_EQ(&linker().link().reporter(), &report) << "the link's failures go back to the default";
}

TEST_F(CoreJobTest, NumbersComeBackAsTheJobsOwnVerdict)
{
    sim::insertCart("flash4");
    RecordingReporter job;
    EXPECT_FALSE(cartAddressValid(0x400000, job));
    EXPECT_EQ(job.lines, Lines{"Invalid address 0x400000"});
    // A byte that reads back as written is done; one a flash chip did not
    // take is not.
    sim::cartPoke(0x1234, 0x5A);
    EXPECT_TRUE(writeByte(0x1234, 0x5A, simJob(job)));
    EXPECT_FALSE(writeByte(0x1234, 0x5B, simJob(job)));
    EXPECT_EQ(job.lines.back(), "Flash needs an erase and a program command.");
    EXPECT_TRUE(readByte(0x1234, simJob(job)));
    EXPECT_FALSE(writeByte(0x1234, -1, simJob(job)));
    EXPECT_EQ(job.lines.back(), "Invalid byte value");
}
