// Write Savegame and Backup Savegame on the core: emulators' files land byte
// for byte, a backup of every block comes back whole, and nothing is written
// without a sound probe and a safety copy.
#include <sys/stat.h>

#include <regex>
#include <thread>

#include "core/jobs/jobs.h"
#include "core/link/linker.h"
#include "support/saves.h"
#include "support/sim_job.h"

namespace {

const char* const NOTHING = "Nothing was written to the cartridge.";

class SaveJobTest : public CoreJobTest {
protected:
    RecordingReporter job;
    void SetUp() override
    {
        CoreJobTest::SetUp();
        sim::setEraseTimes(0.001, 0.01);
    }
    // An official two-chip cartridge whose blocks 31 to 34 are its save area.
    void saveAreaCart()
    {
        ASSERT_TRUE(sim::insertCart("official32"));
        for (int chip = 0; chip < 2; chip++)
            for (int b = 31; b <= 34; b++)
                sim::chip(chip).setBlockProtected(b, false);
    }
    bool write(const std::string& path)
    {
        job = RecordingReporter();
        return writeSaveGame(path, simJob(job));
    }
    bool write(const Bytes& file)
    {
        writeFile(scratch("in.ngf"), file);
        return write(scratch("in.ngf"));
    }
    // The path in the line after the one that names the job's safety copy:
    // the last line, or the one before the way back after a stop.
    std::string copyPath()
    {
        for (size_t back = 2; back <= 3 && back <= job.lines.size(); back++) {
            const std::string& path = job.lines[job.lines.size() - back + 1];
            if (job.lines[job.lines.size() - back] == "Safety copy of the blocks this write erases:" && path.size() > 2)
                return path.substr(1, path.size() - 2);
        }
        return "<none>";
    }
    Lines lastLines(size_t n) { return Lines(job.lines.end() - std::min(n, job.lines.size()), job.lines.end()); }
};

Bytes overlaid(Bytes image, const std::vector<SaveRec>& records)
{
    for (const SaveRec& r : records) {
        uint32_t cart = r.addr < CONSOLE_CHIP1_BASE ? r.addr - 0x200000 : r.addr - 0x600000;
        std::copy(r.data.begin(), r.data.end(), image.begin() + cart);
    }
    return image;
}

Bytes longLayoutFile(const std::vector<SaveRec>& records)
{
    std::vector<std::pair<uint32_t, Bytes>> pairs;
    for (const SaveRec& r : records)
        pairs.push_back({r.addr, r.data});
    return ngfFile(pairs);
}

// Inside the records the file's bytes, everywhere else what was there; one
// erase per block touched; the safety copy is the backup of the cartridge as
// it was, and writing it puts the cartridge back.
TEST_F(SaveJobTest, EmulatorFilesLandByteForByte)
{
    const struct { const char* what; std::vector<SaveRec> records; uint64_t erases; } cases[] = {
        {"part of a block", {{0x3FA300, pattern(0x100, 1), 0xBEEF}}, 1},
        {"over blocks 32 and 33, and 33 and 34", {{0x3F9F00, pattern(0x300, 2), 0x0001}, {0x3FBF00, pattern(0x200, 3), 0xFFFF}}, 3},
        {"chip 1", {{0x9F7E00, pattern(0x400, 4), 0x1234}, {0x9FC000, pattern(0x100, 5)}}, 3},
    };
    for (const auto& c : cases) {
        for (bool shortLayout : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (shortLayout ? ", short layout" : ", long layout"));
            saveAreaCart();
            const Bytes before = sim::cartImage();
            ASSERT_TRUE(backupSaveGame(scratch("before.ngf"), simJob(job)));
            uint64_t erases = sim::counters().blockErases;
            ASSERT_TRUE(write(shortLayout ? shortLayoutFile(c.records) : longLayoutFile(c.records)));
            EXPECT_EQ(sim::cartImage(), overlaid(before, c.records));
            EXPECT_EQ(sim::counters().blockErases - erases, c.erases);
            EXPECT_EQ(getNgfHeader(readFile(copyPath()).data()).numBlocks, c.erases) << "the blocks erased, no more";
            ASSERT_TRUE(write(copyPath()));
            EXPECT_EQ(sim::cartImage(), before);
        }
    }
}

// Backup Savegame writes 70 records when all of both chips is unprotected.
// Mostly erased, as save areas are, so the restore programs little but
// still reads back every block.
TEST_F(SaveJobTest, SeventyRecordsComeBackWhole)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    sim::chip(0).protectAll(false);
    sim::chip(1).protectAll(false);
    Bytes original(2 * CHIP_WINDOW, 0xFF);
    for (uint32_t at = 0; at < original.size(); at += 0x1000)
        std::copy_n(pattern(40, at).begin(), 40, original.begin() + at + at % 0x7C0);
    sim::loadImage(original);
    ASSERT_TRUE(backupSaveGame(scratch("all.ngf"), simJob(job)));
    EXPECT_EQ(getNgfHeader(readFile(scratch("all.ngf")).data()).numBlocks, 70);
    sim::loadImage(pattern(original.size(), 77));
    EXPECT_TRUE(write(scratch("all.ngf")));
    EXPECT_EQ(sim::cartImage(), original);
}

// One time-out on the reply to block 5's status read makes that block look
// unprotected: its game code would pass for save data.
TEST_F(SaveJobTest, AProbeThatMetLinkFailuresStartsNothing)
{
    writeFile(scratch("in.ngf"), ngfFile({{0x3FA000, pattern(0x2000)}}));
    const struct { const char* line; std::function<bool()> run; } jobs[] = {
        {"Cart check failed; save-game not written.", [&] { return write(scratch("in.ngf")); }},
        {"Cart check failed; save-game backup not started.", [&] { return backupSaveGame(scratch("out.ngf"), simJob(job)); }},
    };
    const Bytes before = sim::cartImage();
    for (const auto& j : jobs) {
        sim::timeoutOnTransfer(30);
        EXPECT_FALSE(j.run());
        EXPECT_EQ(job.lines.back(), j.line);
        EXPECT_EQ(sim::cartImage(), before);
        EXPECT_EQ(sim::counters().blockErases, 0u);
        closeLink();
        sim::clearFaults();
        sim::usbReset();
        ASSERT_TRUE(openLink(report));
    }
    EXPECT_FALSE(fs::exists(scratch("out.ngf")));
    EXPECT_FALSE(fs::exists(scratch("data/pockettetherbox")));
}

TEST_F(SaveJobTest, NoSafetyCopyNoWrite)
{
    const Bytes before = sim::cartImage();
    const std::string game = scratch("data/pockettetherbox/saves/SIM_OFFICIAL-1234");
    const struct { const char* what; rlim_t fileLimit; const char* data; std::string line; } cases[] = {
        {"full disk", 0x1000, nullptr, "Couldn't write the safety copy|'" + game + "/[-_+0-9]+\\.ngf':|File too large\\."},
        {"unwritable folder", RLIM_INFINITY, "/proc/self",
         "Couldn't create the safety copy folder|'/proc/self/pockettetherbox/saves/SIM_OFFICIAL-1234':|"
         "No such file or directory\\."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<EnvVar> data;
        if (c.data)
            data.emplace("XDG_DATA_HOME", c.data);
        {
            FileSizeLimit limit(c.fileLimit);
            EXPECT_FALSE(write(ngfFile({{0x3FA000, pattern(0x100)}})));
        }
        const Lines want = rows(c.line), last = lastLines(want.size() + 1);
        for (size_t i = 0; i < want.size(); i++)
            EXPECT_TRUE(std::regex_match(last[i], std::regex(want[i]))) << last[i];
        EXPECT_EQ(last.back(), NOTHING);
        EXPECT_EQ(sim::cartImage(), before);
        EXPECT_EQ(sim::counters().blockErases, 0u);
    }
    EXPECT_TRUE(fs::is_empty(game)) << "a temporary file was left behind";
}

// Chip 0's block is finished before chip 1's will not erase.
TEST_F(SaveJobTest, ABlockThatWillNotEraseStopsWithTheFinishedBlocks)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    const Bytes before = sim::cartImage();
    Bytes a = pattern(0x100, 1), b = pattern(0x100, 2);
    sim::chipIgnoresErase(1);
    EXPECT_FALSE(write(ngfFile({{0x9FA000, b}, {0x3FA000, a}})));
    EXPECT_EQ(lastLines(8), (Lines{"Chip 1 address 0x1FA000 did not read 0xFF",
                                   "within 20 seconds of the erase, giving up.",
                                   "Blocks written and compared before the stop:",
                                   "chip 0 blocks 33",
                                   "Erased or partly written: chip 1 block 33",
                                   "Safety copy of the blocks this write erases:", "'" + copyPath() + "'",
                                   "Writing that copy back restores those blocks."}));
    EXPECT_EQ(sim::cartImage(), overlaid(before, {{0x3FA000, a}}));
}

// A pipe has no size to measure: the file is read as it comes.
TEST_F(SaveJobTest, AFileFromAPipe)
{
    std::string fifo = scratch("save.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::vector<SaveRec> records = {{0x3FA000, pattern(0x1000, 6), 0x00FF}, {0x3FB000, pattern(0x1000, 7), 0xFF00}};
    Bytes file = shortLayoutFile(records);
    std::thread feeder([&] { writeFile(fifo, file); });
    const Bytes before = sim::cartImage();
    EXPECT_TRUE(write(fifo));
    feeder.join();
    EXPECT_EQ(sim::cartImage(), overlaid(before, records));
}

}  // namespace
