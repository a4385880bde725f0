// Backup Savegame against the simulated cartridges.
#include <regex>

#include "core/cart/detect.h"
#include "core/jobs/jobs.h"
#include "gui/log.h"
#include "gui/commands.h"
#include "core/report.h"
#include "support/job_helpers.h"
#include "support/sim_job.h"

namespace {

using BackupSaveTest = JobTest;

// The last line of a backup: the whole path written, so the user knows
// which folder it went to.
std::string savedTo(const std::string& path)
{
    return ("Saved to '" + path + "'").substr(0, LOG_LINE_BYTES - 1);
}

void backup(const std::string& path)
{
    runWithFile("save-backup", path);
}

// Block 33 of chip 0 as a file: the 0x2010-byte example.
Bytes block33File()
{
    return ngfFile({{0x3FA000, chipBytes(0, 0x1FA000, 0x2000)}});
}

// The name offered is the game's and the date, in the folder last used;
// only the header is read before the chooser.
TEST_F(BackupSaveTest, OfficialCartridgeSavesBlock33Only)
{
    sim::Mark m = sim::mark();
    std::string path = scratchPath("game.ngf");
    backup(path);
    const std::regex offered(R"((/.*)/SIM_OFFICIAL-[0-9A-F]{4}-\d{4}-\d\d-\d\d\.ngf)");
    std::smatch found;
    const std::string first = lastFileRequest().initial;
    ASSERT_TRUE(std::regex_match(first, found, offered)) << first;
    EXPECT_EQ(asked(), "Select file for save-game backup|*.{ngf}|2|" + first);
    EXPECT_TRUE(fs::is_directory(found[1].str()));
    EXPECT_FALSE(fs::exists(first)) << "the name is claimed only while the chooser is open";

    EXPECT_TRUE(logIs({"version=0x53 blocks=0x1 len=0x2008", "Save-game backup done.", savedTo(path)}));
    EXPECT_EQ(readFile(path), block33File());  // its header bytes are pinned in ngf_test.cpp
    // The header for the proposal and again for the vault, then the block
    // in one 8 KB read, and nothing else read.
    auto reads = commandsSince(m, CMD_READ64XN);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(std::tie(reads[0].addr, reads[0].chip, reads[0].count), std::make_tuple(0u, 0, 1));
    EXPECT_EQ(std::tie(reads[1].addr, reads[1].chip, reads[1].count), std::make_tuple(0u, 0, 1));
    EXPECT_EQ(std::tie(reads[2].addr, reads[2].chip, reads[2].count), std::make_tuple(0x1FA000u, 0, 128));
    EXPECT_TRUE(commandsSince(m, CMD_FLASH_WRITE_32).empty());

    // No choice: the name is offered in the folder the last backup went to,
    // and nothing but the header is read.
    m = sim::mark();
    clearLog();
    answerNoFile();
    clickCommand("save-backup");
    ASSERT_TRUE(std::regex_match(lastFileRequest().initial, found, offered)) << lastFileRequest().initial;
    EXPECT_EQ(found[1].str(), fs::path(path).parent_path().string());
    EXPECT_TRUE(logIs({"No file selected."}));
    EXPECT_EQ(commandsSince(m, CMD_READ64XN).size(), 1u);
}

TEST_F(BackupSaveTest, BothChipsRecordsInOrder)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    sim::chip(0).setBlockProtected(34, false);
    sim::chip(1).setBlockProtected(0, false);
    std::string path = scratchPath("two.ngf");
    backup(path);
    Bytes expected = ngfFile({{0x3FA000, chipBytes(0, 0x1FA000, 0x2000)},
                              {0x3FC000, chipBytes(0, 0x1FC000, 0x4000)},
                              {0x800000, chipBytes(1, 0x000000, 0x10000)},
                              {0x9FA000, chipBytes(1, 0x1FA000, 0x2000)}});
    EXPECT_TRUE(logIs({"version=0x53 blocks=0x4 len=0x18008", "Save-game backup done.", savedTo(path)}));
    EXPECT_EQ(readFile(path), expected);
}

TEST_F(BackupSaveTest, CartridgesThatAreNotOfficial)
{
    const struct { const char* cart; Lines log; bool file; } cases[] = {
        {"cindercart", {"", "Can't backup savegame from flash cart!", "  Back up entire game instead!", ""}, false},
        {"bung",
         {"", "WARNING: This may be a Bung flash cart.", "  SaveGame backup will not work flash carts!", "",
          "version=0x53 blocks=0x1 len=0x2008", "Save-game backup done.", savedTo(scratchPath("bung.ngf"))},
         true},
        {"none", {"No cart detected!", "version=0x53 blocks=0x0 len=0x8", "No unprotected blocks to save!"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cart);
        ASSERT_TRUE(sim::insertCart(c.cart));
        if (std::string(c.cart) == "bung") {
            sim::chip(0).protectAll(true);
            sim::chip(0).setBlockProtected(33, false);
            sim::chip(1).protectAll(true);
        }
        std::string path = scratchPath(std::string(c.cart) + ".ngf");
        backup(path);
        EXPECT_TRUE(logIs(c.log));
        EXPECT_EQ(fs::exists(path), c.file);
        if (c.file) {
            EXPECT_EQ(readFile(path), block33File());
        }
    }
}

// The path is used exactly, whatever its length, and without adding ".ngf".
TEST_F(BackupSaveTest, PathIsUsedExactly)
{
    for (std::string path : {scratchPath("mysave"), longPath("save.ngf")}) {
        backup(path);
        EXPECT_TRUE(logIs({"version=0x53 blocks=0x1 len=0x2008", "Save-game backup done.", savedTo(path)}));
        EXPECT_EQ(readFile(path), block33File());
    }
    EXPECT_FALSE(fs::exists(scratchPath("mysave.ngf")));

    std::string missing = scratchPath("missing/game.ngf");
    backup(missing);
    EXPECT_TRUE(logIs({"version=0x53 blocks=0x1 len=0x2008", "Couldn't open '" + missing + "': No such file or directory"}));
}

TEST_F(BackupSaveTest, FullDiskLeavesNoFile)
{
    const struct { const char* cart; rlim_t limit; std::string message; } cases[] = {
        {"official16", 4, "backupCartSaveGame: wrote 4, but exptected 8 bytes"},
        {"official16", 12, "save-game: wrote 4, but exptected 8 bytes"},
        {"official16", 0x1000, "save-game: wrote 4080, but exptected 8192 bytes"},
        {"official32", 8 + 8 + 0x2000 + 4, "save-game: wrote 4, but exptected 8 bytes."},
        {"official32", 8 + 8 + 0x2000 + 8 + 100, "save-game: wrote 100, but exptected 8192 bytes."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        ASSERT_TRUE(sim::insertCart(c.cart));
        std::string path = scratchPath("full.ngf");
        {
            FileSizeLimit limit(c.limit);
            backup(path);
        }
        ASSERT_EQ(logLines().size(), 2u);
        EXPECT_EQ(logLines()[1], c.message);
        EXPECT_FALSE(fs::exists(path));
    }
}

TEST_F(BackupSaveTest, FailedLinkerReadStopsAndDeletes)
{
    // How many transfers the probe takes, so the fault lands on a chunk.
    uint64_t before = sim::counters().transfers;
    Cart probed;
    checkCart(windowReporter(), theLink(), &probed, nullptr, nullptr, nullptr, true, false);
    int probe = int(sim::counters().transfers - before);
    before = sim::counters().transfers;
    proposeSaveBackup(scratchPath(""), simJob(windowReporter()));
    int proposal = int(sim::counters().transfers - before);
    // The proposal's chip 0 check and header, the probe, the header for the
    // vault, the block's request, then the eleventh of the block's 128 replies.
    sim::timeoutOnTransfer(proposal + probe + 2 + 1 + 11);
    std::string path = scratchPath("broken.ngf");
    backup(path);
    EXPECT_TRUE(logIs(Lines{"version=0x53 blocks=0x1 len=0x2008"} + TIMED_OUT +
                      Lines{"Couldn't read chip 0 at 0x1FA000;", "the partial file is deleted."}));
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace
