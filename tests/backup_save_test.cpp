// Backup Savegame against the simulated cartridges.
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <regex>

#include "cart/detect.h"
#include "ngf_files.h"
#include "ops/commands.h"
#include "support/job_fixture.h"

using namespace ngftest;

namespace {

class BackupSaveTest : public JobTest {
protected:
    void backup(const std::string& path)
    {
        answerFileChoice(path);
        cb_backupSaveGame_button(nullptr, nullptr);
    }
};

std::vector<uint8_t> expectedFile(const std::vector<std::pair<int, uint32_t>>& blocks)
{
    std::vector<Record> records;
    for (const auto& b : blocks)
        records.push_back({consoleAddrFromCart(b.first * CHIP_WINDOW + b.second),
                           chipBytes(b.first, b.second, 0x2000)});
    return ngfFile(records);
}

// A file-size limit on the whole process, as a full disk would impose one.
struct FileSizeLimit {
    rlimit saved;
    void (*savedHandler)(int);
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        savedHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit r = saved;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, savedHandler);
    }
};

}  // namespace

TEST_F(BackupSaveTest, OfficialCartridgeSavesBlock33Only)
{
    sim::Mark m = sim::mark();
    std::string path = scratchPath("game.ngf");
    backup(path);

    EXPECT_EQ(logLines(),
              (std::vector<std::string>{"version=0x53 blocks=0x1 len=0x2008", "Save-game backup done."}));
    std::vector<uint8_t> file = readFile(path);
    ASSERT_EQ(file.size(), 0x2010u);
    const uint8_t head[16] = {0x53, 0x00, 0x01, 0x00, 0x10, 0x20, 0x00, 0x00,
                              0x00, 0xA0, 0x3F, 0x00, 0x00, 0x20, 0x00, 0x00};
    EXPECT_EQ(memcmp(file.data(), head, 16), 0);
    EXPECT_EQ(file, expectedFile({{0, 0x1FA000}}));

    // One 64-byte read per chunk, in address order, and nothing else read.
    auto reads = commandsSince(m, CMD_READ64XN);
    ASSERT_EQ(reads.size(), 128u);
    for (size_t k = 0; k < reads.size(); k++) {
        EXPECT_EQ(reads[k].addr, 0x1FA000 + 64 * k);
        EXPECT_EQ(reads[k].chip, 0);
        EXPECT_EQ(reads[k].count, 1);
    }
    EXPECT_TRUE(commandsSince(m, CMD_FLASH_WRITE_32).empty());
}

TEST_F(BackupSaveTest, ProposesAFreshNameAndLeavesNothingBehind)
{
    backup(scratchPath("game.ngf"));
    const FileRequest& req = lastFileRequest();
    EXPECT_EQ(req.title, "Select file for save-game backup");
    EXPECT_EQ(req.pattern, "*.{ngf}");
    EXPECT_EQ(req.mode, 2);
    ASSERT_TRUE(req.hadInitial);
    EXPECT_TRUE(std::regex_match(req.initial, std::regex("savegame-[A-Za-z0-9]{6}\\.ngf")))
        << req.initial;
    // The name was claimed only while the chooser was open.
    EXPECT_FALSE(fileExists(req.initial));

    std::string first = req.initial;
    answerNoFile();
    cb_backupSaveGame_button(nullptr, nullptr);
    EXPECT_NE(lastFileRequest().initial, first);
    EXPECT_FALSE(fileExists(lastFileRequest().initial));
}

TEST_F(BackupSaveTest, NoChoiceTouchesNothing)
{
    uint64_t before = sim::counters().transfers;
    answerNoFile();
    cb_backupSaveGame_button(nullptr, nullptr);
    EXPECT_EQ(logLines(), std::vector<std::string>{"No file selected."});
    EXPECT_EQ(sim::counters().transfers, before);
}

TEST_F(BackupSaveTest, BothChipsChip0First)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    sim::chip(0).setBlockProtected(34, false);
    sim::chip(1).setBlockProtected(0, false);
    std::string path = scratchPath("two.ngf");
    backup(path);

    uint32_t len = 8 + 4 * 8 + 0x2000 + 0x4000 + 0x10000 + 0x2000;
    char line[64];
    snprintf(line, sizeof line, "version=0x53 blocks=0x4 len=0x%X", len - 4 * 8);
    EXPECT_EQ(logLines(), (std::vector<std::string>{line, "Save-game backup done."}));
    std::vector<uint8_t> expected = ngfFile({{0x3FA000, chipBytes(0, 0x1FA000, 0x2000)},
                                             {0x3FC000, chipBytes(0, 0x1FC000, 0x4000)},
                                             {0x800000, chipBytes(1, 0x000000, 0x10000)},
                                             {0x9FA000, chipBytes(1, 0x1FA000, 0x2000)}});
    ASSERT_EQ(expected.size(), len);
    EXPECT_EQ(readFile(path), expected);
}

TEST_F(BackupSaveTest, CindercartIsRefused)
{
    ASSERT_TRUE(sim::insertCart("cindercart"));
    std::string path = scratchPath("cinder.ngf");
    backup(path);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"", "Can't backup savegame from flash cart!",
                                                     "  Back up entire game instead!", ""}));
    EXPECT_FALSE(fileExists(path));
}

TEST_F(BackupSaveTest, BungCartIsOnlyWarnedAbout)
{
    ASSERT_TRUE(sim::insertCart("bung"));
    sim::chip(0).protectAll(true);
    sim::chip(0).setBlockProtected(33, false);
    sim::chip(1).protectAll(true);
    std::string path = scratchPath("bung.ngf");
    backup(path);
    EXPECT_EQ(logLines(),
              (std::vector<std::string>{"", "WARNING: This may be a Bung flash cart.",
                                        "  SaveGame backup will not work flash carts!", "",
                                        "version=0x53 blocks=0x1 len=0x2008",
                                        "Save-game backup done."}));
    EXPECT_EQ(readFile(path), expectedFile({{0, 0x1FA000}}));
}

TEST_F(BackupSaveTest, NoCartridgeNoFile)
{
    ASSERT_TRUE(sim::insertCart("none"));
    std::string path = scratchPath("none.ngf");
    backup(path);
    EXPECT_EQ(logLines(),
              (std::vector<std::string>{"No cart detected!", "version=0x53 blocks=0x0 len=0x8",
                                        "No unprotected blocks to save!"}));
    EXPECT_FALSE(fileExists(path));
}

TEST_F(BackupSaveTest, PathIsUsedExactlyWhateverItsLength)
{
    std::string plain = scratchPath("mysave");
    backup(plain);
    EXPECT_EQ(readFile(plain), expectedFile({{0, 0x1FA000}}));
    EXPECT_FALSE(fileExists(plain + ".ngf"));

    // Far past the 260 characters such paths were once limited to.
    std::string dir = scratchPath("");
    for (int i = 0; i < 6; i++) {
        dir += std::string(60, char('a' + i)) + "/";
        mkdir(dir.c_str(), 0755);
    }
    std::string longPath = dir + "save.ngf";
    ASSERT_GT(longPath.size(), 300u);
    clearLog();
    backup(longPath);
    EXPECT_EQ(findLine("Save-game backup done."), 1);
    EXPECT_EQ(readFile(longPath), expectedFile({{0, 0x1FA000}}));
}

TEST_F(BackupSaveTest, UnwritableFolder)
{
    std::string path = scratchPath("missing/game.ngf");
    backup(path);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"version=0x53 blocks=0x1 len=0x2008",
                                                     "Couldn't open '" + path + "'"}));
}

TEST_F(BackupSaveTest, FullDiskLeavesNoFile)
{
    struct Case {
        const char* cart;
        rlim_t limit;
        std::string message;
    } cases[] = {
        {"official16", 4, "backupCartSaveGame: wrote 4, but exptected 8 bytes"},
        {"official16", 12, "save-game: wrote 4, but exptected 8 bytes"},
        {"official16", 0x1000, "save-game: wrote 4080, but exptected 8192 bytes"},
        {"official32", 8 + 8 + 0x2000 + 4, "save-game: wrote 4, but exptected 8 bytes."},
        {"official32", 8 + 8 + 0x2000 + 8 + 100, "save-game: wrote 100, but exptected 8192 bytes."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ASSERT_TRUE(sim::insertCart(c.cart));
        clearLog();
        std::string path = scratchPath("full.ngf");
        {
            FileSizeLimit limit(c.limit);
            backup(path);
        }
        std::vector<std::string> log = logLines();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[1], c.message);
        EXPECT_FALSE(fileExists(path));
    }
}

TEST_F(BackupSaveTest, FailedLinkerReadStopsAndDeletes)
{
    // How many transfers the probe takes, so the fault lands on a chunk.
    uint64_t before = sim::counters().transfers;
    uint8_t size = 0;
    checkCart(&size, nullptr, nullptr, nullptr, true, false);
    int probe = int(sim::counters().transfers - before);
    clearLog();

    // The reply to the eleventh chunk's request never comes.
    sim::timeoutOnTransfer(probe + 2 * 10 + 2);
    std::string path = scratchPath("broken.ngf");
    backup(path);
    EXPECT_EQ(logLines(),
              (std::vector<std::string>{
                  "version=0x53 blocks=0x1 len=0x2008", "", "Error: LIBUSB_ERROR_TIMEOUT",
                  "Operation timed out.",
                  "backupCartSaveGame: couldn't read chip 0 at 0x1FA280, partial file deleted"}));
    EXPECT_FALSE(fileExists(path));
}
