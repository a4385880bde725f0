// Write Savegame against the simulated cartridges.
#include <cstdio>
#include <tuple>

#include "core/cart/detect.h"
#include "gui/log.h"
#include "gui/commands.h"
#include "support/job_helpers.h"
#include "gui/prefs.h"

namespace {

const Lines TURBO_OFF_AUTO = {"", "Turbo Mode OFF for non-Cindercart cartridge!", ""};
const char* const DONE = "Writing a save-game done.";
const Lines NONE_FINISHED = {"Blocks written and compared before the stop:", "none"};

class WriteSaveTest : public JobTest {
protected:
    void SetUp() override
    {
        JobTest::SetUp();
        sim::setEraseTimes(0.001, 0.01);
    }
    // Restores `path`, or these bytes as restore.ngf; the 32-byte units sent.
    std::vector<Command> restore(const std::string& path)
    {
        return only(runWithFile("save-write", path), CMD_FLASH_WRITE_32);
    }
    std::vector<Command> restore(const Bytes& file)
    {
        writeFile(scratchPath("restore.ngf"), file);
        return restore(scratchPath("restore.ngf"));
    }
};

// The whole log of a finished run; its seconds are the wall clock's. A run
// that wrote something names its safety copy last.
void expectDone(unsigned total, const Lines& turbo = TURBO_OFF_AUTO)
{
    char wrote[64];
    snprintf(wrote, sizeof wrote, "Wrote 0x%X bytes in {s} seconds.", total);
    Lines copy = total ? safetyCopyLines() : Lines{};
    EXPECT_TRUE(logIs(turbo + Lines{"Writing a save-game", DONE, wrote} + copy));
    int secs = -1;
    sscanf(logLines().back().c_str(), "Wrote 0x%*X bytes in %d", &secs);
    EXPECT_LE(secs, 5);
}

// The six cycles of a block erase aimed at addr, as the last host writes.
void expectBlockEraseLast(sim::Mark m, int chip, uint32_t addr)
{
    using Cycle = std::tuple<int, uint32_t, int>;
    std::vector<Cycle> got, want = {{chip, 0x5555, 0xAA}, {chip, 0x2AAA, 0x55}, {chip, 0x5555, 0x80},
                                    {chip, 0x5555, 0xAA}, {chip, 0x2AAA, 0x55}, {chip, addr, 0x30}};
    for (const auto& c : sim::hostWritesSince(m))
        got.push_back({c.chip, c.address, c.value});
    EXPECT_EQ(std::vector<Cycle>(got.end() - std::min<size_t>(got.size(), 6), got.end()), want);
}

TEST_F(WriteSaveTest, BackupRestoresByteExactAfterTheSaveChanged)
{
    std::string path = scratchPath("game.ngf");
    runWithFile("save-backup", path);
    ASSERT_EQ(findLine("Save-game backup done."), 1);
    const Bytes original = sim::chip(0).contents();
    Bytes changed = pattern(0x2000, 0x5A);
    std::copy(changed.begin(), changed.end(), sim::chip(0).contents().begin() + 0x1FA000);
    ASSERT_NE(sim::chip(0).contents(), original);
    sim::Mark m = sim::mark();
    auto units = restore(path);
    EXPECT_EQ(sim::chip(0).contents(), original);
    expectDone(0x2000);

    // Erase aimed at the record's first byte, then 256 units in order.
    expectBlockEraseLast(m, 0, 0x1FA000);
    ASSERT_EQ(units.size(), 256u);
    for (uint32_t k = 0; k < units.size(); k++)
        EXPECT_EQ(std::tie(units[k].addr, units[k].chip, units[k].turbo, units[k].data),
                  std::make_tuple(0x1FA000 + 32 * k, 0, 0, slice(original, 0x1FA000 + 32 * k, 32)));
    // The erase wait polls the first byte; one read of address 0 ends the record.
    auto reads = commandsSince(m, CMD_READ);
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(std::tie(reads[reads.size() - 2].addr, reads.back().addr, reads.back().chip), std::make_tuple(0x1FA000u, 0u, 0));
}

TEST_F(WriteSaveTest, FileChoiceAndLoadFailuresTouchNothing)
{
    uint64_t before = sim::counters().transfers;
    answerNoFile();
    clickCommand("save-write");
    EXPECT_EQ(asked(), "Select save-game file|*.{ngf}|0|no name");
    EXPECT_TRUE(logIs({"No file selected."}));

    // Each of the reader's refusals reaches the log with the file's path;
    // the reader's own cases are in ngf_test.cpp.
    std::string path = scratchPath("restore.ngf");
    Bytes file = ngfFile({{0x3FA000, pattern(64, 1)}});
    Bytes version = file, len = file;
    version[0] = 0x54;
    len[7] = 0xFF;
    const std::pair<Bytes, std::string> cases[] = {
        {slice(file, 0, 5), "restoreSaveGameToCart: Bad NGF file '" + path + "'"},
        {version, "restoreSaveGameToCart: Bad NGF file version '" + path + "' 0x54\n"},
        {len, "Bad NGF file '" + path + "':|len=0xFF000050 is more than a save can hold|(at most 0x400808)."},
    };
    for (const auto& [bytes, line] : cases) {
        restore(bytes);
        EXPECT_TRUE(logIs(line.back() == '\n' ? Lines{line} : rows(line)));
    }
    restore(scratchPath("missing.ngf"));
    EXPECT_TRUE(logIs({"restoreSaveGameToCart: Couldn't open '" + scratchPath("missing.ngf") + "': No such file or directory"}));
    EXPECT_EQ(sim::counters().transfers, before);
}

// With a datasheet-typical erase of 0.7 s the window keeps being served:
// the safety copy's two reads, the block's read, 13 or 14 times in the wait,
// then each of the block's 256 units and the read back.
TEST_F(WriteSaveTest, LongPathAndATypicalErase)
{
    sim::setEraseTimes(0.7, 25);
    std::string path = longPath("save.ngf");
    writeFile(path, ngfFile({{0x3FA000, pattern(32, 9)}}));
    restore(path);
    expectDone(32);
    EXPECT_EQ(chipBytes(0, 0x1FA000, 32), pattern(32, 9));
    EXPECT_GE(eventsLetThrough(), 3 + 13 + 256 + 1);
    EXPECT_LE(eventsLetThrough(), 3 + 14 + 256 + 1);
}

TEST_F(WriteSaveTest, EmptyFileWritesNothingButTheProbe)
{
    uint64_t before = sim::counters().transfers;
    Cart probed;
    checkCart(windowReporter(), theLink(), &probed, nullptr, nullptr, nullptr, true, false);
    uint64_t probe = sim::counters().transfers - before;
    before = sim::counters().transfers;
    restore(ngfFile({}));
    expectDone(0);
    EXPECT_EQ(sim::counters().transfers - before, probe);
}

// One block: erased once, waited for once at its first byte.
TEST_F(WriteSaveTest, TwoRecordsInOneEraseBlockEraseItOnce)
{
    sim::Mark m = sim::mark();
    Bytes a = pattern(0x1000, 3), b = pattern(0x1000, 4);
    EXPECT_EQ(restore(ngfFile({{0x3FA000, a}, {0x3FB000, b}})).size(), 256u);
    expectDone(0x2000);
    EXPECT_EQ(sim::counters().blockErases, 1u);
    expectBlockEraseLast(m, 0, 0x1FA000);
    auto reads = commandsSince(m, CMD_READ);
    auto waits = [&](uint32_t a) { return std::count_if(reads.begin(), reads.end(), [&](const Command& r) { return r.addr == a; }); };
    EXPECT_GE(waits(0x1FA000), 1);
    EXPECT_EQ(waits(0x1FB000), 0);
    EXPECT_EQ(chipBytes(0, 0x1FA000, 0x2000), a + b);
}

TEST_F(WriteSaveTest, ChipOneRecordLeavesChipZeroAlone)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    const Bytes chip0 = sim::chip(0).contents();
    sim::Mark m = sim::mark();
    Bytes data = pattern(0x2000, 8);
    auto units = restore(ngfFile({{0x9FA000, data}}));
    expectDone(0x2000);
    expectBlockEraseLast(m, 1, 0x1FA000);
    ASSERT_EQ(units.size(), 256u);
    EXPECT_EQ(std::tie(units.front().addr, units.front().chip, units.back().addr), std::make_tuple(0x1FA000u, 1, 0x1FBFE0u));
    EXPECT_EQ(chipBytes(1, 0x1FA000, 0x2000), data);
    EXPECT_EQ(sim::chip(0).contents(), chip0);
    EXPECT_EQ(commandsSince(m, CMD_READ).back().chip, 1);
}

TEST_F(WriteSaveTest, TurboFlagFollowsTheSetting)
{
    const struct { const char* cart; uint8_t mode; Lines lines; uint8_t flag; } cases[] = {
        {"cindercart", TURBO_AUTO, {"", "Turbo Mode ON for Cindercart cartridge!", ""}, 1},
        {"official16", TURBO_AUTO, TURBO_OFF_AUTO, 0},
        {"official16", TURBO_ON, {"", "Turbo Mode forced ON!", "Verification is recommended!", ""}, 1},
        {"cindercart", TURBO_OFF, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cart) + " mode " + std::to_string(c.mode));
        ASSERT_TRUE(sim::insertCart(c.cart));
        windowSettings().turboMode = c.mode;
        Bytes data = pattern(0x100, c.mode);
        auto units = restore(ngfFile({{0x3FA000, data}}));
        expectDone(0x100, c.lines);
        ASSERT_EQ(units.size(), 0x2000u / 32);
        for (const auto& u : units)
            EXPECT_EQ(u.turbo, c.flag);
        EXPECT_EQ(chipBytes(0, 0x1FA000, 0x100), data);
    }
}

// A record outside the cartridge stops the job before any record is
// written, without wrapping round the chip.
TEST_F(WriteSaveTest, RecordOutsideTheCartridgeStopsTheJob)
{
    Bytes data = pattern(0x40, 5);
    const Bytes original = sim::chip(0).contents();
    const char* const NOTHING = "Nothing was written to the cartridge.";
    EXPECT_EQ(restore(ngfFile({{0x3FA000, data}, {0x400000, pattern(0x40, 6)}, {0x3FB000, pattern(0x40, 7)}})).size(), 0u);
    EXPECT_TRUE(logIs(TURBO_OFF_AUTO + Lines{"Writing a save-game",
                                             "restoreSaveGameToCart: invalid blockHeader->NGPCaddr=0x00400000", NOTHING}));
    EXPECT_EQ(sim::chip(0).contents(), original);

    EXPECT_TRUE(restore(ngfFile({{0x3FFFE0, pattern(0x40, 5)}})).empty());
    Lines log = logLines();
    EXPECT_EQ(Lines(log.end() - std::min<size_t>(log.size(), 3), log.end()),
              (Lines{"Record at 0x003FFFE0, blockLen=0x40,", "runs past the end of the chip.", NOTHING}));
    EXPECT_EQ(sim::chip(0).contents(), original);
}

TEST_F(WriteSaveTest, FortyByteRecordKeepsTheRestOfItsBlock)
{
    Bytes data = pattern(40, 1);
    const Bytes original = sim::chip(0).contents();
    auto units = restore(ngfFile({{0x3FA000, data}}));
    EXPECT_TRUE(logIs(TURBO_OFF_AUTO + Lines{"Writing a save-game", "mod 32 problem..", DONE,
                                             "Wrote 0x28 bytes in {s} seconds."} + safetyCopyLines()));
    ASSERT_EQ(units.size(), 256u);
    EXPECT_EQ(std::tie(units[0].addr, units[1].addr), std::make_tuple(0x1FA000u, 0x1FA020u));
    EXPECT_EQ(units[1].data, slice(data, 32, 8) + slice(original, 0x1FA028, 24));
    EXPECT_EQ(chipBytes(0, 0x1FA000, 0x2000), data + slice(original, 0x1FA028, 0x2000 - 40));
}

// Events go through once for each of the safety copy's two blocks, then
// once per unit. The block being programmed is finished, since it has been
// erased; the next one is left as it was.
TEST_F(WriteSaveTest, CancelWhileARecordIsProgrammed)
{
    sim::chip(0).setBlockProtected(32, false);
    const Bytes original = sim::chip(0).contents();
    Bytes data = pattern(0x4000, 2);
    atEvent(2 + 10);
    EXPECT_EQ(restore(ngfFile({{0x3F8000, data}})).size(), 256u);
    EXPECT_TRUE(logIs(TURBO_OFF_AUTO + Lines{"Writing a save-game", "Writing a save-game cancelled.",
                                             "Blocks written and compared before the stop:", "chip 0 blocks 32"} +
                      undoLines()));
    EXPECT_EQ(chipBytes(0, 0x1F8000, 0x4000), slice(data, 0, 0x2000) + slice(original, 0x1FA000, 0x2000));
}

// Cancel during a block's erase lets that block be finished: stopping there
// would leave the save erased. One block is then the whole write, done; of
// two, the second is left as it was.
TEST_F(WriteSaveTest, CancelDuringAnEraseFinishesTheBlock)
{
    const Bytes data = pattern(0x4000, 2);
    // The sixth time the window is let through falls in the first erase.
    const struct { uint32_t at; Bytes record; bool done; } cases[] = {
        {0x3FA000, slice(data, 0, 0x40), true},
        {0x3F8000, data, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.done ? "one block" : "two blocks");
        ASSERT_TRUE(sim::insertCart("official16"));
        sim::setEraseTimes(0.7, 25);
        sim::chip(0).setBlockProtected(32, false);
        const Bytes original = sim::chip(0).contents();
        clearLog();
        uint64_t erases = sim::counters().blockErases, erasesAtCancel = 0;
        bool erasing = false;
        atEvent(6, [&] {
            erasesAtCancel = sim::counters().blockErases - erases;
            erasing = sim::chip(0).erasing(sim::clockSeconds());
            cb_progress_button(nullptr, nullptr);
        });
        restore(ngfFile({{c.at, c.record}}));
        EXPECT_TRUE(erasesAtCancel == 1 && erasing) << "Cancel came during the first block's erase";
        // The copy's name is known once it is made.
        const Lines tail = c.done ? Lines{DONE, "Wrote 0x40 bytes in {s} seconds."} + safetyCopyLines()
                                  : Lines{"Writing a save-game cancelled.",
                                          "Blocks written and compared before the stop:", "chip 0 blocks 32"} +
                                        undoLines();
        EXPECT_TRUE(logIs(TURBO_OFF_AUTO + Lines{"Writing a save-game"} + tail));
        EXPECT_EQ(chipBytes(0, 0x1F8000, 0x4000),
                  c.done ? slice(original, 0x1F8000, 0x2000) + slice(data, 0, 0x40) + slice(original, 0x1FA040, 0x1FC0)
                         : slice(data, 0, 0x2000) + slice(original, 0x1FA000, 0x2000));
    }
}

// Given up 20 s after the erase, serving the window about every 0.05 s, and
// Cancel still works during an erase that never ends, once a healthy one
// would be over. A protected block is known from the probe: refused before
// anything is erased.
TEST_F(WriteSaveTest, BlockThatNeverErasesIsGivenUp)
{
    const char* const LEFT = "Erased or partly written: chip 0 block 33";
    const struct { const char* what; std::vector<std::pair<uint32_t, Bytes>> records; bool ignoresErase; Lines stop; double seconds; int events; } cases[] = {
        {"chip ignores erase", {{0x3FA000, pattern(64, 1)}}, true,
         {"Chip 0 address 0x1FA000 did not read 0xFF", "within 20 seconds of the erase, giving up."}, 20.5, 390},
        {"protected block", {{0x200000, pattern(64, 1)}}, false,
         {"restoreSaveGameToCart: chip 0 block 0 is protected; nothing was written to the cartridge."}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::clearFaults();
        ASSERT_TRUE(sim::insertCart("official16"));
        const Bytes before = sim::cartImage();
        if (c.ignoresErase)
            sim::chipIgnoresErase(0);
        double start = sim::clockSeconds();
        int eventsBefore = eventsLetThrough();
        uint64_t erases = sim::counters().blockErases;
        EXPECT_EQ(restore(ngfFile(c.records)).size(), 0u);
        Lines tail = c.stop;
        if (c.ignoresErase)
            tail = tail + NONE_FINISHED + Lines{LEFT} + undoLines();
        EXPECT_TRUE(logIs(TURBO_OFF_AUTO + Lines{"Writing a save-game"} + tail));
        EXPECT_NEAR(sim::clockSeconds() - start, c.seconds, 0.5);
        EXPECT_GE(eventsLetThrough() - eventsBefore, c.events);
        EXPECT_EQ(sim::counters().blockErases - erases, c.ignoresErase ? 1u : 0u);
        EXPECT_EQ(sim::cartImage(), before);
    }

    sim::chipEraseNeverEnds(0);
    double start = sim::clockSeconds();
    atEvent(3);
    restore(ngfFile({{0x3FA000, pattern(64, 1)}}));
    Lines log = logLines();
    EXPECT_EQ(Lines(log.end() - std::min<size_t>(log.size(), 7), log.end()),
              (Lines{"Writing a save-game cancelled."} + NONE_FINISHED + Lines{LEFT} + undoLines()));
    EXPECT_NEAR(sim::clockSeconds() - start, 5.0, 0.5) << "Cancel goes through once a healthy erase would be over";
}

}  // namespace
