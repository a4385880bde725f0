// Flash ROM(s) refusing to go on where going on would write over a guess:
// a refused erase command, a probe that met transfer errors, a chip with
// protected blocks. Each ends the job as not done, and the cartridge keeps
// what it held.
#include <filesystem>

#include "core/jobs/jobs.h"
#include "sim.h"
#include "support/core_job.h"
#include "support/sim_job.h"

namespace {

const std::string ABORTED = "Flashing aborted. Cart status unknown.";
const uint32_t MIB = 0x100000;

bool isEraseCycle(const Command& c)
{
    return c.code == CMD_WRITE && c.addr == 0x5555 && (c.value == 0x80 || c.value == 0x10);
}

class FlashRefusals : public CoreJobTest {
protected:
    void SetUp() override
    {
        CoreJobTest::SetUp();
        sim::setEraseTimes(0.001, 0.02);
    }
    std::string romFile(const Bytes& rom)
    {
        writeFile(scratch("game.ngp"), rom);
        return scratch("game.ngp");
    }
};

// The k-th cycle of the erase command refused or timed out: nothing is
// written and no cycle follows it. Cycles 7 to 12 are chip 1's; before
// the last one a chip's command is incomplete and its bytes stay.
TEST_F(FlashRefusals, AFailedEraseCycleAbortsTheJob)
{
    const struct { const char* cart; uint32_t size; int cycle; bool timeout; } cases[] = {
        {"flash4", 4096, 1, false}, {"flash4", 4096, 3, false}, {"flash4", 4096, 6, true},
        {"cindercart", 2 * MIB + 64, 9, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cart) + " cycle " + std::to_string(c.cycle));
        sim::insertCart(c.cart);
        const Bytes before = sim::cartImage();
        std::string path = romFile(pattern(c.size));
        sim::Mark atErase{};
        RecordingReporter job;
        job.onBegin = [&](const std::string& title) {
            if (title != "Erasing Cartridge")
                return;
            atErase = sim::mark();
            c.timeout ? sim::timeoutOnTransfer(2 * c.cycle) : sim::wrongCodeOnTransfer(2 * c.cycle - 1);
        };
        sim::Mark m = sim::mark();
        EXPECT_FALSE(flashRom(path, simJob(job)));
        Lines fault = c.timeout ? TIMED_OUT : Lines{"write_byte: result = 0xEE"};
        ASSERT_GE(job.lines.size(), fault.size() + 1);
        EXPECT_EQ(Lines(job.lines.end() - long(fault.size()) - 1, job.lines.end()), fault + Lines{ABORTED});
        EXPECT_EQ(sim::hostWritesSince(atErase).size(), size_t(c.cycle));
        auto cmds = commandsSince(m);
        EXPECT_TRUE(only(cmds, CMD_FLASH_WRITE64XN).empty());
        EXPECT_TRUE(c.cycle == 6 || sim::cartImage() == before);
        sim::clearFaults();
    }
}

// One timed-out read of the device byte makes this 8 Mbit cartridge look
// like 16 Mbit: nothing is erased on that guess.
TEST_F(FlashRefusals, AProbeThatMetATimeoutStartsNothing)
{
    sim::insertCart("flash8");
    const Bytes before = sim::cartImage();
    std::string path = romFile(pattern(MIB));
    sim::Mark m = sim::mark();
    sim::timeoutOnTransfer(16);
    EXPECT_FALSE(flashRom(path, simJob(report)));
    EXPECT_TRUE(linesAre(Lines(report.lines.begin(), report.lines.begin() + 3), TIMED_OUT));
    EXPECT_EQ(report.lines.back(), "Cart check failed; flashing not started.");
    auto cmds = commandsSince(m);
    EXPECT_EQ(std::count_if(cmds.begin(), cmds.end(), isEraseCycle), 0);
    EXPECT_TRUE(report.titles.empty());
    EXPECT_TRUE(sim::cartImage() == before);
}

// An official cartridge is refused before a single erase cycle, and every
// byte of it, its save blocks included, is as it was. Only the chips the
// job would erase count: with chip 0 skipped an unprotected chip 1 is flashed.
TEST_F(FlashRefusals, ChipsWithProtectedBlocksAreNeverErased)
{
    const struct { bool protect0, protect1; int skip; const char* refusal; } cases[] = {
        {true, true, -1, "Chip 0 has protected blocks: not flashable."},
        {false, true, -1, "Chip 1 has protected blocks: not flashable."},
        {true, false, 0, nullptr}};
    const Bytes rom = pattern(2 * MIB + 4096);
    std::string path = romFile(rom);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.protect0) + std::to_string(c.protect1));
        sim::insertCart("official32");  // everything protected but block 33 of each chip
        if (!c.protect0)
            sim::chip(0).protectAll(false);
        if (!c.protect1)
            sim::chip(1).protectAll(false);
        const Bytes before = sim::cartImage();
        WriteSettings settings;
        settings.skipChip = c.skip;
        RecordingReporter job;
        sim::Mark m = sim::mark();
        bool done = flashRom(path, simJob(job, settings));
        auto cmds = commandsSince(m);
        if (c.refusal) {
            EXPECT_FALSE(done);
            EXPECT_EQ(job.lines, (Lines{"32mbit cart detected.", "ROM name: 'SIM BIG GAME'", "ROM size of 2101248 bytes is",
                                        "smaller than the flash size of 4194304 bytes.", c.refusal,
                                        "An official cartridge? Nothing was erased."}));
            EXPECT_EQ(std::count_if(cmds.begin(), cmds.end(), isEraseCycle), 0);
            EXPECT_TRUE(job.titles.empty());
            EXPECT_TRUE(sim::cartImage() == before);
        } else {
            EXPECT_TRUE(done);
            EXPECT_TRUE(linesEndWith(job.lines, Lines{"Flashing done."} + identityOf(path, true)));
            EXPECT_TRUE(chipBytes(0, 0, 2 * MIB) == slice(before, 0, 2 * MIB));
            EXPECT_EQ(chipBytes(1, 0, 4096), slice(rom, 2 * MIB, 4096));
        }
    }
}

// Sizes past what a signed 32-bit number holds, from sparse files: logged
// whole, never negative.
TEST_F(FlashRefusals, SizesOfGigabytesAreLoggedUnsigned)
{
    sim::insertCart("flash4");
    for (uint64_t size : {0x80000000ull, 0xC0000000ull, 0x140000000ull}) {
        SCOPED_TRACE(size);
        std::string path = romFile({});
        std::filesystem::resize_file(path, size);
        RecordingReporter job;
        job.onBegin = [&](const std::string& title) { job.cancelled = title == "Writing Cartridge"; };
        EXPECT_FALSE(flashRom(path, simJob(job)));
        ASSERT_GE(job.lines.size(), 4u);
        EXPECT_EQ(Lines(job.lines.begin() + 2, job.lines.begin() + 4),
                  (Lines{"Warning! ROM size of " + std::to_string(size) + " bytes is",
                         "larger than the flash size of 524288 bytes."}));
        EXPECT_EQ(job.lines.back(), ABORTED);
    }
}

// An empty file is refused before the probe; one larger than the cartridge
// is cut to it, noted after "Flashing done.", or, asked for, refused after
// the probe. Either refusal erases nothing.
TEST_F(FlashRefusals, EmptyAndOversizedFiles)
{
    const std::string fit = "Flashing done.";
    const Lines probe = {"4mbit cart detected.", "ROM name: 'SMALL4'"};
    const Lines pair = {"Warning! ROM size of 525288 bytes is", "larger than the flash size of 524288 bytes."};
    const struct { uint32_t size; bool refuse; Lines lines; bool done; } cases[] = {
        {0, false, {"'game.ngp' is empty; nothing was erased."}, false},
        {0, true, {"'game.ngp' is empty; nothing was erased."}, false},
        {512 * 1024 + 1000, true,
         probe + pair +
             Lines{"Not flashing 'game.ngp':", "1000 of its bytes would not fit the cart.", "Nothing was erased."},
         false},
        {512 * 1024 + 1000, false,
         probe + pair + Lines{"Flashing 'game.ngp'", "Wrote 524288 bytes in {s} seconds", fit,
                              "1000 bytes of the file did not fit on the cartridge and were not written."},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines.back());
        sim::insertCart("flash4");
        const Bytes before = sim::cartImage();
        Bytes rom = pattern(c.size, 5);
        std::string path = romFile(rom);
        WriteSettings settings;
        settings.refuseOversized = c.refuse;
        settings.turboMode = TURBO_OFF;
        RecordingReporter job;
        sim::Mark m = sim::mark();
        EXPECT_EQ(flashRom(path, simJob(job, settings)), c.done);
        EXPECT_TRUE(linesAre(beforeIdentity(job.lines), c.lines));
        EXPECT_EQ(commandsSince(m).empty(), c.size == 0);
        EXPECT_TRUE(sim::cartImage() == (c.done ? slice(rom, 0, before.size()) : before));
    }
}

}  // namespace
