// Write Savegame against the simulated cartridges.
#include <cstdio>

#include "cart/detect.h"
#include "cart/flash_commands.h"
#include "ngf_files.h"
#include "ops/commands.h"
#include "support/job_fixture.h"
#include "ui/prefs.h"
#include "ui/progress.h"

using namespace ngftest;

namespace {

class WriteSaveTest : public JobTest {
protected:
    void restore(const std::string& path)
    {
        answerFileChoice(path);
        cb_writeSaveGame_button(nullptr, nullptr);
    }
    void restore(const std::vector<uint8_t>& file)
    {
        std::string path = scratchPath("restore.ngf");
        writeFile(path, file);
        restore(path);
    }
    // Transfers a probe of the inserted cartridge takes.
    uint64_t probeTransfers()
    {
        uint64_t before = sim::counters().transfers;
        uint8_t size = 0;
        checkCart(&size, nullptr, nullptr, nullptr, true, false);
        uint64_t n = sim::counters().transfers - before;
        clearLog();
        return n;
    }
};

// "Wrote 0x%X bytes in %d seconds." for this total, with the seconds the
// line gives if they are a plausible wall-clock duration.
bool isWroteLine(const std::string& line, unsigned total)
{
    unsigned got;
    int secs;
    char tail[32];
    if (sscanf(line.c_str(), "Wrote 0x%X bytes in %d seconds%31s", &got, &secs, tail) != 3)
        return false;
    char rebuilt[96];
    snprintf(rebuilt, sizeof rebuilt, "Wrote 0x%X bytes in %d seconds.", total, secs);
    return line == rebuilt && secs >= 0 && secs <= 5;
}

// The log of a whole run on an official cartridge with Turbo Mode Auto.
void expectDoneOnOfficialCart(unsigned total)
{
    std::vector<std::string> log = logLines();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 5),
              (std::vector<std::string>{"", "Turbo Mode OFF for non-Cindercart cartridge!", "",
                                        "Writing a save-game", "Writing a save-game done."}));
    EXPECT_TRUE(isWroteLine(log[5], total)) << log[5];
}

// The six cycles of a block erase aimed at addr.
void expectBlockErase(const std::vector<sim::BusCycle>& w, size_t at, int chip, uint32_t addr)
{
    ASSERT_GE(w.size(), at + 6);
    const uint32_t addrs[6] = {0x5555, 0x2AAA, 0x5555, 0x5555, 0x2AAA, addr};
    const uint8_t values[6] = {0xAA, 0x55, 0x80, 0xAA, 0x55, 0x30};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(w[at + i].chip, chip) << i;
        EXPECT_EQ(w[at + i].address, addrs[i]) << i;
        EXPECT_EQ(w[at + i].value, values[i]) << i;
    }
}

}  // namespace

TEST_F(WriteSaveTest, BackupRestoresByteExactAfterTheSaveChanged)
{
    std::string path = scratchPath("game.ngf");
    answerFileChoice(path);
    cb_backupSaveGame_button(nullptr, nullptr);
    ASSERT_EQ(findLine("Save-game backup done."), 1);
    const std::vector<uint8_t> original = sim::chip(0).contents();

    std::vector<uint8_t> changed = pattern(0x2000, 0x5A);
    for (uint32_t i = 0; i < 0x2000; i++)
        sim::chip(0).poke(0x1FA000 + i, changed[i]);
    ASSERT_NE(sim::chip(0).contents(), original);
    clearLog();
    sim::Mark m = sim::mark();
    restore(path);

    EXPECT_EQ(sim::chip(0).contents(), original);
    expectDoneOnOfficialCart(0x2000);
    EXPECT_EQ(progress_window, nullptr);

    // Erase aimed at the record's first byte, then 256 units in order.
    std::vector<sim::BusCycle> w = sim::hostWritesSince(m);
    expectBlockErase(w, w.size() - 6, 0, 0x1FA000);
    auto units = commandsSince(m, CMD_FLASH_WRITE_32);
    ASSERT_EQ(units.size(), 256u);
    for (size_t k = 0; k < units.size(); k++) {
        EXPECT_EQ(units[k].addr, 0x1FA000 + 32 * k);
        EXPECT_EQ(units[k].chip, 0);
        EXPECT_EQ(units[k].turbo, 0);
        EXPECT_EQ(units[k].data,
                  std::vector<uint8_t>(original.begin() + 0x1FA000 + 32 * k,
                                       original.begin() + 0x1FA000 + 32 * k + 32));
    }
    // The erase wait polls the first byte; one read of address 0 ends the record.
    auto reads = commandsSince(m, CMD_READ);
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(reads[reads.size() - 2].addr, 0x1FA000u);
    EXPECT_EQ(reads.back().addr, 0u);
    EXPECT_EQ(reads.back().chip, 0);
}

TEST_F(WriteSaveTest, FileChoiceAndLoadFailuresTouchNothing)
{
    uint64_t before = sim::counters().transfers;
    answerNoFile();
    cb_writeSaveGame_button(nullptr, nullptr);
    EXPECT_EQ(lastFileRequest().title, "Select save-game file");
    EXPECT_EQ(lastFileRequest().pattern, "*.{ngf}");
    EXPECT_EQ(lastFileRequest().mode, 0);
    EXPECT_FALSE(lastFileRequest().hadInitial);
    EXPECT_EQ(logLines(), std::vector<std::string>{"No file selected."});

    std::string missing = scratchPath("missing.ngf");
    clearLog();
    restore(missing);
    EXPECT_EQ(logLines(),
              std::vector<std::string>{"restoreSaveGameToCart: Couldn't open '" + missing + "'"});

    std::string path = scratchPath("restore.ngf");
    std::vector<uint8_t> file = ngfFile({{0x3FA000, pattern(64, 1)}});
    struct Case {
        std::vector<uint8_t> bytes;
        std::string message;
    } cases[] = {
        {std::vector<uint8_t>(file.begin(), file.begin() + 5),
         "restoreSaveGameToCart: Bad NGF file '" + path + "'"},
        {[&] { auto f = file; f[0] = 0x54; return f; }(),
         "restoreSaveGameToCart: Bad NGF file version '" + path + "' 0x54\n"},
        {[&] { auto f = file; f[4] = 3; f[5] = f[6] = f[7] = 0; return f; }(),
         "restoreSaveGameToCart: Bad NGF file '" + path + "': len=0x3 is shorter than its header"},
        {[&] { auto f = file; f[7] = 0xFF; return f; }(),
         "restoreSaveGameToCart: read 0x48, but exptected 0xFF000048 bytes"},
        {ngfFile(std::vector<Record>(36, {0x3FA000, pattern(32, 2)})),
         "restoreSaveGameToCart: numBlocks=36 overflow"},
        {[&] { auto f = file; f[2] = 2; return f; }(),
         "restoreSaveGameToCart: blockHeader 2 at 0x50 runs past len=0x50"},
        {[&] { auto f = file; f[12] = 65; return f; }(),
         "restoreSaveGameToCart: block 1 at 0x8 with blockLen=0x41 runs past len=0x50"},
    };
    for (const Case& c : cases) {
        clearLog();
        writeFile(path, c.bytes);
        restore(path);
        EXPECT_EQ(logLines(), std::vector<std::string>{c.message});
    }
    EXPECT_EQ(sim::counters().transfers, before);
    EXPECT_EQ(progress_window, nullptr);
}

TEST_F(WriteSaveTest, LongPathIsHeldWhole)
{
    std::string dir = scratchPath("");
    for (int i = 0; i < 5; i++) {
        dir += std::string(70, char('k' + i)) + "/";
        mkdir(dir.c_str(), 0755);
    }
    std::string path = dir + "save.ngf";
    writeFile(path, ngfFile({{0x3FA000, pattern(64, 9)}}));
    restore(path);
    EXPECT_EQ(findLine("Writing a save-game done."), 4);
    EXPECT_EQ(chipBytes(0, 0x1FA000, 64), pattern(64, 9));
}

TEST_F(WriteSaveTest, EmptyFileWritesNothing)
{
    uint64_t probe = probeTransfers();
    uint64_t before = sim::counters().transfers;
    restore(ngfFile({}));
    expectDoneOnOfficialCart(0);
    EXPECT_EQ(sim::counters().transfers - before, probe);
}

TEST_F(WriteSaveTest, TwoRecordsInOneEraseBlockEraseItOnce)
{
    sim::setEraseTimes(0.001, 0.01);
    sim::Mark m = sim::mark();
    std::vector<uint8_t> a = pattern(0x1000, 3), b = pattern(0x1000, 4);
    restore(ngfFile({{0x3FA000, a}, {0x3FB000, b}}));
    EXPECT_EQ(findLine("Writing a save-game done."), 4);
    EXPECT_EQ(sim::counters().blockErases, 1u);
    std::vector<sim::BusCycle> w = sim::hostWritesSince(m);
    expectBlockErase(w, w.size() - 6, 0, 0x1FA000);
    // Both records wait for their own first byte.
    int waits[2] = {0, 0};
    for (const auto& r : commandsSince(m, CMD_READ)) {
        waits[0] += r.addr == 0x1FA000;
        waits[1] += r.addr == 0x1FB000;
    }
    EXPECT_GE(waits[0], 1);
    EXPECT_EQ(waits[1], 1);
    EXPECT_EQ(chipBytes(0, 0x1FA000, 0x1000), a);
    EXPECT_EQ(chipBytes(0, 0x1FB000, 0x1000), b);
    EXPECT_EQ(commandsSince(m, CMD_FLASH_WRITE_32).size(), 256u);
}

TEST_F(WriteSaveTest, ChipOneRecord)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    sim::setEraseTimes(0.001, 0.01);
    const std::vector<uint8_t> chip0 = sim::chip(0).contents();
    sim::Mark m = sim::mark();
    std::vector<uint8_t> data = pattern(0x2000, 8);
    restore(ngfFile({{0x9FA000, data}}));
    EXPECT_EQ(findLine("Writing a save-game done."), 4);
    std::vector<sim::BusCycle> w = sim::hostWritesSince(m);
    expectBlockErase(w, w.size() - 6, 1, 0x1FA000);
    auto units = commandsSince(m, CMD_FLASH_WRITE_32);
    ASSERT_EQ(units.size(), 256u);
    EXPECT_EQ(units.front().addr, 0x1FA000u);
    EXPECT_EQ(units.front().chip, 1);
    EXPECT_EQ(units.back().addr, 0x1FBFE0u);
    EXPECT_EQ(chipBytes(1, 0x1FA000, 0x2000), data);
    EXPECT_EQ(sim::chip(0).contents(), chip0);
    EXPECT_EQ(commandsSince(m, CMD_READ).back().chip, 1);
}

TEST_F(WriteSaveTest, TurboFlagFollowsTheSetting)
{
    struct Case {
        const char* cart;
        uint8_t mode;
        std::vector<std::string> lines;
        uint8_t flag;
    } cases[] = {
        {"cindercart", TURBO_AUTO, {"", "Turbo Mode ON for Cindercart cartridge!", ""}, 1},
        {"official16", TURBO_AUTO, {"", "Turbo Mode OFF for non-Cindercart cartridge!", ""}, 0},
        {"official16", TURBO_ON, {"", "Turbo Mode forced ON!", "Verification is recommended!", ""}, 1},
        {"cindercart", TURBO_OFF, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cart) + " mode " + std::to_string(c.mode));
        ASSERT_TRUE(sim::insertCart(c.cart));
        sim::setEraseTimes(0.001, 0.01);
        G_unlockBypassMode = c.mode;
        clearLog();
        sim::Mark m = sim::mark();
        std::vector<uint8_t> data = pattern(0x100, c.mode);
        restore(ngfFile({{0x3FA000, data}}));
        std::vector<std::string> expected = c.lines;
        expected.push_back("Writing a save-game");
        expected.push_back("Writing a save-game done.");
        std::vector<std::string> log = logLines();
        ASSERT_EQ(log.size(), expected.size() + 1);
        EXPECT_EQ(std::vector<std::string>(log.begin(), log.end() - 1), expected);
        auto units = commandsSince(m, CMD_FLASH_WRITE_32);
        ASSERT_EQ(units.size(), 8u);
        for (const auto& u : units)
            EXPECT_EQ(u.turbo, c.flag);
        EXPECT_EQ(chipBytes(0, 0x1FA000, 0x100), data);
    }
}

TEST_F(WriteSaveTest, InvalidAddressStopsAfterTheRecordsBefore)
{
    sim::setEraseTimes(0.001, 0.01);
    sim::Mark m = sim::mark();
    std::vector<uint8_t> data = pattern(0x40, 5);
    restore(ngfFile({{0x3FA000, data}, {0x400000, pattern(0x40, 6)}, {0x3FB000, pattern(0x40, 7)}}));
    std::vector<std::string> log = logLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "restoreSaveGameToCart: invalid blockHeader->NGPCaddr=0x00400000");
    EXPECT_EQ(findLine("Writing a save-game done."), -1);
    EXPECT_EQ(findLine("Writing a save-game cancelled."), -1);
    EXPECT_EQ(chipBytes(0, 0x1FA000, 0x40), data);
    EXPECT_EQ(commandsSince(m, CMD_FLASH_WRITE_32).size(), 2u);
    EXPECT_EQ(progress_window, nullptr);
}

TEST_F(WriteSaveTest, RecordPastTheChipEndIsNotWrapped)
{
    sim::setEraseTimes(0.001, 0.01);
    const std::vector<uint8_t> original = sim::chip(0).contents();
    sim::Mark m = sim::mark();
    restore(ngfFile({{0x3FFFE0, pattern(0x40, 5)}}));
    EXPECT_EQ(logLines().back(),
              "restoreSaveGameToCart: blockHeader->NGPCaddr=0x003FFFE0 blockLen=0x40 runs past the "
              "end of the chip");
    EXPECT_TRUE(commandsSince(m, CMD_FLASH_WRITE_32).empty());
    EXPECT_EQ(sim::chip(0).contents(), original);
    EXPECT_EQ(progress_window, nullptr);
}

TEST_F(WriteSaveTest, CancelWhileARecordIsProgrammed)
{
    sim::setEraseTimes(0.001, 0.01);
    sim::Mark m = sim::mark();
    std::vector<uint8_t> data = pattern(0x2000, 2);
    // The first time is the record's start; each unit lets events through once.
    cancelAfterEvents(1 + 10);
    restore(ngfFile({{0x3FA000, data}}));
    std::vector<std::string> log = logLines();
    EXPECT_EQ(log.back(), "Writing a save-game cancelled.");
    EXPECT_EQ(findLine("Writing a save-game done."), -1);
    for (const auto& line : log)
        EXPECT_NE(line.rfind("Wrote ", 0), 0u) << line;
    EXPECT_EQ(commandsSince(m, CMD_FLASH_WRITE_32).size(), 10u);
    EXPECT_EQ(chipBytes(0, 0x1FA000, 320), std::vector<uint8_t>(data.begin(), data.begin() + 320));
    EXPECT_EQ(chipBytes(0, 0x1FA000 + 320, 0x2000 - 320), std::vector<uint8_t>(0x2000 - 320, 0xFF));
    EXPECT_EQ(progress_window, nullptr);
}

TEST_F(WriteSaveTest, FortyByteRecordIsPaddedWithErasedBytes)
{
    sim::setEraseTimes(0.001, 0.01);
    sim::Mark m = sim::mark();
    std::vector<uint8_t> data = pattern(40, 1);
    restore(ngfFile({{0x3FA000, data}}));
    EXPECT_TRUE(logHasInOrder({"Writing a save-game", "mod 32 problem..", "Writing a save-game done."}));
    std::vector<std::string> log = logLines();
    EXPECT_TRUE(isWroteLine(log.back(), 40)) << log.back();
    auto units = commandsSince(m, CMD_FLASH_WRITE_32);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].addr, 0x1FA000u);
    EXPECT_EQ(units[1].addr, 0x1FA020u);
    std::vector<uint8_t> tail(data.begin() + 32, data.end());
    tail.resize(32, 0xFF);
    EXPECT_EQ(units[1].data, tail);
    EXPECT_EQ(chipBytes(0, 0x1FA000, 40), data);
    EXPECT_EQ(chipBytes(0, 0x1FA000 + 40, 24), std::vector<uint8_t>(24, 0xFF));
}

TEST_F(WriteSaveTest, EraseWaitLetsEventsThrough)
{
    // A datasheet-typical erase of 0.7 s: the window keeps being served.
    restore(ngfFile({{0x3FA000, pattern(32, 1)}}));
    EXPECT_EQ(findLine("Writing a save-game done."), 4);
    // The record's start, 13 or 14 times in the wait, then the one unit.
    EXPECT_GE(eventsLetThrough(), 1 + 13 + 1);
    EXPECT_LE(eventsLetThrough(), 1 + 14 + 1);
}

TEST_F(WriteSaveTest, BlockThatNeverErasesIsGivenUp)
{
    struct Case {
        const char* what;
        std::vector<Record> records;
        std::string message;
    } cases[] = {
        {"chip ignores erase", {{0x3FA000, pattern(64, 1)}},
         "restoreSaveGameToCart: chip 0 address 0x1FA000 did not read 0xFF within 20 seconds of "
         "the erase, giving up"},
        {"protected block", {{0x200000, pattern(64, 1)}},
         "restoreSaveGameToCart: chip 0 address 0x000000 did not read 0xFF within 20 seconds of "
         "the erase, giving up"},
        {"first byte programmed earlier in the job", {{0x3FA000, pattern(64, 1)}, {0x3FA000, pattern(64, 2)}},
         "restoreSaveGameToCart: chip 0 address 0x1FA000 did not read 0xFF within 20 seconds of "
         "the erase, giving up"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::clearFaults();
        ASSERT_TRUE(sim::insertCart("official16"));
        if (std::string(c.what) == "chip ignores erase")
            sim::chipIgnoresErase(0);
        sim::setEraseTimes(0.001, 0.01);
        clearLog();
        sim::Mark m = sim::mark();
        double start = sim::clockSeconds();
        int eventsBefore = eventsLetThrough();
        restore(ngfFile(c.records));
        std::vector<std::string> log = logLines();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), c.message);
        EXPECT_EQ(findLine("Writing a save-game done."), -1);
        EXPECT_EQ(commandsSince(m, CMD_FLASH_WRITE_32).size(), c.records.size() == 2 ? 2u : 0u);
        double waited = sim::clockSeconds() - start;
        EXPECT_GT(waited, 20.0);
        EXPECT_LT(waited, 21.0);
        // Served about every 0.05 s of the wait.
        EXPECT_GE(eventsLetThrough() - eventsBefore, 390);
        EXPECT_EQ(progress_window, nullptr);
    }
}

TEST_F(WriteSaveTest, CancelDuringAnEndlessErase)
{
    sim::chipEraseNeverEnds(0);
    double start = sim::clockSeconds();
    cancelAfterEvents(3);
    restore(ngfFile({{0x3FA000, pattern(64, 1)}}));
    EXPECT_EQ(logLines().back(), "Writing a save-game cancelled.");
    EXPECT_LT(sim::clockSeconds() - start, 1.0);
    EXPECT_EQ(progress_window, nullptr);
}
