// Write Savegame and Backup Savegame where a save could still be lost: a
// record on a protected block, copies of the wrong blocks, a stop half-way,
// a backup that fails over an older one.
#include <unistd.h>

#include <regex>
#include <thread>

#include "core/jobs/jobs.h"
#include "core/link/linker.h"
#include "core/saves/safety_copy.h"
#include "core/saves/vault.h"
#include "support/saves.h"
#include "support/sim_job.h"

namespace {

class SaveFaultsTest : public CoreJobTest {
protected:
    RecordingReporter job;
    SaveWriteRun run;
    void SetUp() override
    {
        CoreJobTest::SetUp();
        sim::setEraseTimes(0.001, 0.01);
    }
    bool write(const std::string& path)
    {
        job = RecordingReporter();
        return writeSaveGame(path, simJob(job), &run);
    }
    bool write(const Bytes& file)
    {
        writeFile(scratch("in.ngf"), file);
        return write(scratch("in.ngf"));
    }
    Lines lastLines(size_t n) { return Lines(job.lines.end() - std::min(n, job.lines.size()), job.lines.end()); }
};

const std::string NOTHING = "; nothing was written to the cartridge.";

// Refused whole before the first erase: nothing changes, no copy is made.
TEST_F(SaveFaultsTest, RefusedBeforeAnythingIsErased)
{
    const struct { const char* cart; std::vector<std::pair<uint32_t, Bytes>> records; const char* game; std::string line; } cases[] = {
        {"official16", {{0x3FA000, pattern(0x100)}, {0x3F8000, pattern(0x100)}}, "",
         "restoreSaveGameToCart: chip 0 block 32 is protected" + NOTHING},
        {"official24", {{0x8FA000, pattern(0x2000)}, {0x8F7F00, pattern(0x200)}}, "",
         "restoreSaveGameToCart: chip 1 block 15 is protected" + NOTHING},
        {"official16", {{0x3FA000, pattern(0x100)}}, "SONIC-0061",
         "'{in}':|a save of SONIC-0061,|and the cartridge is SIM_OFFICIAL-1234;|nothing was written to the cartridge."},
        {"silent0", {{0x8FA010, pattern(0x20)}}, "IIIIIIIIIIII-4949",
         "'{in}':|a save of IIIIIIIIIIII-4949,|and the cartridge is unknown: its chip 0 does not answer;|"
         "nothing was written to the cartridge."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_TRUE(sim::insertCart(c.cart));
        const Bytes before = sim::cartImage();
        run.sameGameAs = c.game;
        EXPECT_FALSE(write(ngfFile(c.records)));
        const Lines want = rows(std::regex_replace(c.line, std::regex("\\{in\\}"), scratch("in.ngf")));
        EXPECT_EQ(lastLines(want.size()), want);
        EXPECT_EQ(sim::cartImage(), before);
        EXPECT_EQ(sim::counters().blockErases, 0u);
        EXPECT_TRUE(vaultEntries().empty());
    }
}

// A face that can ask asks before a save goes to another game's cartridge,
// or to one whose game is unknown; declined, nothing is written.
TEST_F(SaveFaultsTest, ARestoreAsksUnlessTheGameIsKnownTheSame)
{
    std::string backup = scratch("game.ngf");
    ASSERT_TRUE(backupSaveGame(backup, simJob(job)));
    const struct { const char* cart; std::string asked; } cases[] = {
        {"official16", ""},
        {"official8", "SIM_OFFICL_8-1234"},
        {"silent0", "unknown: its chip 0 does not answer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cart);
        ASSERT_TRUE(sim::insertCart(c.cart));
        const Bytes before = sim::cartImage();
        std::string asked;
        job = RecordingReporter();
        bool written = restoreSaveAsking(backup, [&](const std::string& save, const std::string& cart) {
            EXPECT_EQ(save, "SIM_OFFICIAL-1234");
            asked = cart;
            return false;
        }, &run, simJob(job));
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(written, c.asked.empty());
        if (!written) {
            EXPECT_EQ(sim::cartImage(), before);
        }
    }
}

// A silent chip 0's header is a floating bus: the name offered for a
// backup, the backup's game and the copy's folder all say the game is unknown.
TEST_F(SaveFaultsTest, ASilentChipZeroIsOfNoKnownGame)
{
    ASSERT_TRUE(sim::insertCart("silent0"));
    EXPECT_EQ(proposeSaveBackup(scratch(""), simJob(job)).rfind(std::string(UNKNOWN_GAME_FOLDER) + "-2", 0), 0u);
    ASSERT_TRUE(backupSaveGame(scratch("game.ngf"), simJob(job)));
    ASSERT_TRUE(write(ngfFile({{0x8FA010, pattern(0x20)}})));
    std::vector<VaultEntry> entries = vaultEntries();
    ASSERT_EQ(entries.size(), 2u);
    for (const VaultEntry& e : entries)
        EXPECT_EQ(e.game, UNKNOWN_GAME_FOLDER) << e.path;
}

// The copy is the blocks the write erases, each whole, where its own chip
// has it; written back it undoes the write byte for byte. "-" is standard
// input.
TEST_F(SaveFaultsTest, TheCopyHoldsExactlyTheErasedBlocks)
{
    const struct { const char* cart; std::vector<std::pair<uint32_t, Bytes>> records; std::vector<uint32_t> blocks; bool fromStdin; } cases[] = {
        {"official24", {{0x8FA100, pattern(0x40, 1)}, {0x3FA000, pattern(0x2000, 2)}}, {0x1FA000, 0x2FA000}, false},
        {"silent0", {{0x8FA010, pattern(0x20, 3)}}, {0x2FA000}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cart);
        ASSERT_TRUE(sim::insertCart(c.cart));
        const Bytes before = sim::cartImage();
        std::vector<std::pair<uint32_t, Bytes>> blocks;
        for (uint32_t start : c.blocks)
            blocks.push_back({consoleAddrFromCart(start), chipBytes(chipOf(start), start & CHIP_ADDR_MASK, 0x2000)});
        if (c.fromStdin) {
            int fds[2];
            ASSERT_EQ(pipe(fds), 0);
            int saved = dup(STDIN_FILENO);
            dup2(fds[0], STDIN_FILENO);
            close(fds[0]);
            std::thread feeder([&] {
                Bytes f = ngfFile(c.records);
                EXPECT_EQ(::write(fds[1], f.data(), f.size()), ssize_t(f.size()));
                close(fds[1]);
            });
            EXPECT_TRUE(write("-"));
            feeder.join();
            dup2(saved, STDIN_FILENO);
            close(saved);
        } else {
            EXPECT_TRUE(write(ngfFile(c.records)));
        }
        EXPECT_EQ(lastLines(2), (Lines{"Safety copy of the blocks this write erases:", "'" + run.copy + "'"}));
        EXPECT_EQ(readFile(run.copy), ngfFile(blocks));
        EXPECT_NE(sim::cartImage(), before);
        std::string copy = run.copy;
        EXPECT_TRUE(write(copy));
        EXPECT_EQ(sim::cartImage(), before);
    }
}

// A stop half-way in a folder whose name needs quoting: the face's command
// to write the copy back, ready to paste, and it puts everything back.
TEST_F(SaveFaultsTest, AStopHalfWayNamesTheWayBack)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    const Bytes before = sim::cartImage();
    EnvVar data("XDG_DATA_HOME", scratch("it's data").c_str());
    sim::chipEraseNeverEnds(1);
    run.undoCommand = "pockettetherbox-cli saves restore";
    EXPECT_FALSE(write(ngfFile({{0x3FA000, pattern(0x100, 1)}, {0x9FA000, pattern(0x100, 2)}})));
    EXPECT_TRUE(run.changed);
    std::string quoted = std::regex_replace(run.copy, std::regex("'"), "'\\''");
    EXPECT_EQ(lastLines(5), (Lines{"Erased or partly written: chip 1 block 33",
                                  "Safety copy of the blocks this write erases:", "'" + run.copy + "'",
                                  "To put those blocks back as they were:",
                                  "pockettetherbox-cli saves restore '" + quoted + "'"}));
    // An erase that never ends holds the chip until its power goes.
    sim::clearFaults();
    closeLink();
    sim::unplugNow();
    sim::plugInNow();
    ASSERT_TRUE(openLink(report));
    std::string copy = run.copy;
    EXPECT_TRUE(write(copy));
    EXPECT_EQ(sim::cartImage(), before);
}

// With the folder full, pruning spares the copy just made, even when copies
// named by a clock set ahead sort after it, and the copy being written back,
// the oldest, even when its write stops half-way.
TEST_F(SaveFaultsTest, PruningSparesTheNewCopyAndTheOneWrittenBack)
{
    const struct { const char* what; bool writeOldestBack; bool stops; } cases[] = {
        {"every copy named later than now", false, false},
        {"the oldest copy written back", true, false},
        {"the oldest copy written back, stopped", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(safetyCopyRoot());
        std::string folder = safetyCopyRoot() + "/SIM_OFFICIAL-1234", oldest, path;
        const Bytes file = ngfFile({{0x3FA000, pattern(0x100, 1)}});
        if (c.writeOldestBack) {
            ASSERT_TRUE(write(file));
            oldest = run.copy;
        }
        time_t later = time(nullptr) + 3600;
        while (vaultEntries().size() < size_t(SAFETY_COPIES_KEPT))
            ASSERT_TRUE(storeSafetyCopy(report, folder, pattern(16), later += 60, &path, 2 * SAFETY_COPIES_KEPT));
        const Bytes oldBytes = oldest.empty() ? Bytes() : readFile(oldest);
        if (c.stops)
            sim::chipEraseNeverEnds(0);
        EXPECT_EQ(c.writeOldestBack ? write(oldest) : write(file), !c.stops);
        EXPECT_TRUE(fs::exists(run.copy)) << run.copy;
        if (!oldest.empty()) {
            EXPECT_EQ(readFile(oldest), oldBytes);
        }
        EXPECT_EQ(vaultEntries().size(), size_t(SAFETY_COPIES_KEPT));
        for (const std::string& line : job.lines)
            EXPECT_EQ(line.find("couldn't remove"), std::string::npos) << line;
        sim::clearFaults();
        closeLink();
        sim::unplugNow();
        sim::plugInNow();
        ASSERT_TRUE(openLink(report));
    }
}

// Backup Savegame reads 8 KB a request, writes beside the file it replaces
// and renames at the end: a read or a disk that fails leaves the older
// backup whole. A backup that was made is in the vault.
TEST_F(SaveFaultsTest, ABackupThatFailsKeepsTheOldOne)
{
    std::string path = scratch("game.ngf");
    sim::Mark m = sim::mark();
    uint64_t start = sim::counters().transfers;
    ASSERT_TRUE(backupSaveGame(path, simJob(job)));
    uint64_t transfers = sim::counters().transfers - start;
    auto reads = commandsSince(m, CMD_READ64XN);
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(std::make_tuple(reads.back().addr, reads.back().count), std::make_tuple(0x1FA000u, 128));
    std::vector<VaultEntry> vault = vaultEntries("SIM_OFFICIAL-1234");
    ASSERT_EQ(vault.size(), 1u);
    EXPECT_EQ(std::make_tuple(vault[0].path, vault[0].kind), std::make_tuple(fs::canonical(path).string(), SaveKind::Backup));

    const Bytes old = pattern(0x3000);
    for (int fault = 0; fault < 2; fault++) {
        SCOPED_TRACE(fault ? "disk full" : "time-out in the last read");
        writeFile(path, old);
        std::optional<FileSizeLimit> limit;
        if (fault)
            limit.emplace(0x1000);
        else
            sim::timeoutOnTransfer(int(transfers) - 8);
        EXPECT_FALSE(backupSaveGame(path, simJob(job)));
        limit.reset();
        EXPECT_EQ(readFile(path), old);
        for (const auto& e : fs::directory_iterator(scratch("")))
            EXPECT_TRUE(e.path().filename() == "game.ngf" || e.path().filename() == "data") << e.path();
        closeLink();
        sim::clearFaults();
        sim::usbReset();
        ASSERT_TRUE(openLink(report));
    }
}

}  // namespace
