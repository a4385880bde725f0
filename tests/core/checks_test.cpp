// What every command checks before it starts: files that are files, and a
// linker that is still there.
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "core/jobs/jobs.h"
#include "core/link/linker.h"
#include "sim.h"
#include "support/core_job.h"
#include "support/sim_job.h"

namespace {

const std::string GONE_LINE = "The linker is gone. Plug it in again.";

using JobRun = std::function<bool(Reporter&)>;

// A FIFO, a folder and a device are refused by name before the cartridge is
// touched, as inputs and as outputs; opening the FIFO would block the
// program until some writer came. Write Savegame alone reads a pipe as it
// comes (the command line feeds one), so only the other two reach it.
TEST_F(CoreJobTest, OnlyRegularFilesAreReadOrWritten)
{
    std::string fifo = scratch("pipe.ngp"), folder = scratch("folder.ngf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(folder);
    for (const std::string& path : {fifo, folder, std::string("/dev/null")}) {
        SCOPED_TRACE(path);
        const Lines refused = {"'" + std::string(displayName(path.c_str())) + "' is not a regular file; nothing done."};
        const JobRun jobs[] = {
            [&](Reporter& r) { return flashRom(path, simJob(r)); },
            [&](Reporter& r) { return verifyRom(path, simJob(r)); },
            [&](Reporter& r) { return writeSaveGame(path, simJob(r)); },
            [&](Reporter& r) { return backupSaveGame(path, simJob(r)); },
        };
        for (const JobRun& job : jobs) {
            if (path == fifo && &job == &jobs[2])
                continue;
            RecordingReporter r;
            sim::Mark m = sim::mark();
            EXPECT_FALSE(job(r));
            EXPECT_EQ(r.lines, refused);
            EXPECT_TRUE(sim::transfersSince(m).empty());
        }
        // Backup ROM asks for its file only after the probe, and reads no
        // cartridge byte into anything but a file.
        RecordingReporter r;
        sim::Mark m = sim::mark();
        EXPECT_FALSE(backupRom(
            [&](const std::string&, std::string* out) {
                *out = path;
                return true;
            },
            simJob(r)));
        EXPECT_EQ(r.lines.back(), refused[0]);
        EXPECT_TRUE(commandsSince(m, CMD_READ64XN).empty());
    }
    struct stat st;
    EXPECT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced";
}

// The linker unplugged before the command that meets it: one pair of libusb
// lines, and no cartridge made of reads that never came back.
TEST_F(CoreJobTest, TheCommandThatMeetsAnUnplugSaysNoMore)
{
    const JobRun firsts[] = {[](Reporter& r) { return cartInfo(simJob(r)); },
                          [](Reporter& r) { return protectedBlocks(simJob(r)); },
                          [](Reporter& r) { return readByte(0x20, simJob(r)); }};
    for (const JobRun& first : firsts) {
        closeLink();
        sim::clearFaults();
        sim::usbReset();
        ASSERT_TRUE(openLink(report));
        sim::insertCart("flash4");
        sim::unplugAfterTransfers(0);
        RecordingReporter r;
        EXPECT_FALSE(first(r));
        EXPECT_EQ(r.lines, GONE);
    }
}

// Once libusb has said the linker is gone, every command says so in one
// line, sends nothing, opens no bar and asks for no file.
TEST_F(CoreJobTest, AfterAnUnplugEveryCommandSaysSoOnce)
{
    sim::insertCart("official16");
    std::string rom = scratch("game.ngp"), save = scratch("game.ngf");
    writeFile(rom, sim::cartImage());
    writeFile(save, ngfFile({{0x3FA000, Bytes(32, 0x11)}}));
    sim::unplugAfterTransfers(0);
    EXPECT_FALSE(cartInfo(simJob(report)));
    ASSERT_TRUE(linker().link().gone());
    bool asked = false;
    const JobRun jobs[] = {
        [](Reporter& r) { return cartInfo(simJob(r)); },
        [](Reporter& r) { return protectedBlocks(simJob(r)); },
        [](Reporter& r) { return readByte(0x20, simJob(r)); },
        [](Reporter& r) { return writeByte(0x20, 0x41, simJob(r)); },
        [&](Reporter& r) { return flashRom(rom, simJob(r)); },
        [&](Reporter& r) { return verifyRom(rom, simJob(r)); },
        [&](Reporter& r) {
            return backupRom([&](const std::string&, std::string*) { return asked = true; }, simJob(r));
        },
        [&](Reporter& r) { return backupSaveGame(save, simJob(r)); },
        [&](Reporter& r) { return writeSaveGame(save, simJob(r)); },
    };
    for (const JobRun& job : jobs) {
        RecordingReporter r;
        sim::Mark m = sim::mark();
        EXPECT_FALSE(job(r));
        EXPECT_EQ(r.lines, Lines{GONE_LINE});
        EXPECT_TRUE(r.titles.empty());
        EXPECT_TRUE(sim::transfersSince(m).empty());
    }
    EXPECT_FALSE(asked);
    EXPECT_EQ(readFile(save), ngfFile({{0x3FA000, Bytes(32, 0x11)}})) << "the save file was rewritten";
}

}  // namespace
