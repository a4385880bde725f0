// What the ROM jobs say about the image after their last line, against the
// simulated linker and known-dump lists the tests write.
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "core/identity/identity.h"
#include "core/jobs/image_identity.h"
#include "core/jobs/jobs.h"
#include "sim.h"
#include "support/core_job.h"
#include "support/sim_job.h"

namespace {

const uint32_t SAVE_BLOCK = 0x1FA000;  // block 33, unprotected on official cartridges

class IdentityJobs : public CoreJobTest {
protected:
    std::string lists;

    void SetUp() override
    {
        CoreJobTest::SetUp();
        sim::setEraseTimes(0.001, 0.02);
        lists = scratch("dat");
        std::filesystem::create_directories(lists);
        setenv("PTB_DAT_DIR", lists.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("PTB_DAT_DIR");
        CoreJobTest::TearDown();
    }

    // A list named "Test list" that knows these images by these names.
    void writeList(const std::vector<std::pair<std::string, Bytes>>& games)
    {
        std::ofstream out(lists + "/test.dat");
        out << "<datafile><header><name>Test list</name></header>";
        for (const auto& [name, image] : games) {
            ImageHasher h;
            h.update(image.data(), image.size());
            h.finish();
            char crc[9];
            snprintf(crc, sizeof crc, "%08x", unsigned(h.digests().crc32));
            out << "<game name=\"" << name << "\"><rom name=\"a.ngc\" size=\"" << image.size()
                << "\" crc=\"" << crc << "\" sha1=\"" << toHex(h.digests().sha1) << "\"/></game>";
        }
        out << "</datafile>";
    }

    PathAsker into(const std::string& path)
    {
        return [path](const std::string&, std::string* out) {
            *out = path;
            return true;
        };
    }

    // The lines after `line`, which must be there.
    Lines after(const RecordingReporter& job, const std::string& line)
    {
        auto at = std::find(job.lines.begin(), job.lines.end(), line);
        EXPECT_NE(at, job.lines.end()) << line;
        return at == job.lines.end() ? Lines{} : Lines(at + 1, job.lines.end());
    }
};

Bytes withErased(Bytes image, std::initializer_list<uint32_t> blocks)
{
    for (uint32_t at : blocks)
        std::fill(image.begin() + at, image.begin() + at + 0x2000, 0xFF);
    return image;
}

// A cartridge's list entry holds its save area erased: a played one is known
// once that area, on both chips, is taken as erased; an unplayed one as it is.
TEST_F(IdentityJobs, BackupNamesTheDumpExactlyOrOnceItsSaveAreaReadsErased)
{
    sim::insertCart("official32");
    const Bytes clean = withErased(sim::cartImage(), {SAVE_BLOCK, SAVE_BLOCK + 0x200000});
    writeList({{"Another Game", pattern(clean.size())}, {"Sim Game (World)", clean}});
    std::string path = scratch("cart.ngp");

    RecordingReporter played;
    ASSERT_TRUE(backupRom(into(path), simJob(played)));
    Lines tail = after(played, "Backup done. Wrote 4194304 bytes.");
    ASSERT_EQ(tail.size(), 6u + 7u + 1u);
    EXPECT_EQ(tail[0], "Identity of 'cart.ngp':");
    EXPECT_EQ(tail[12], "  Title    = 'SIM BIG GAME'");
    EXPECT_EQ(tail.back(), "Known dump once the save area reads as erased: 'Sim Game (World)' in 'Test list'.");
    EXPECT_EQ(readFile(path), sim::cartImage()) << "the file holds what the cartridge holds";

    sim::loadImage(clean);
    RecordingReporter fresh;
    ASSERT_TRUE(backupRom(into(path), simJob(fresh)));
    EXPECT_EQ(fresh.lines.back(), "Known dump: 'Sim Game (World)' in 'Test list'.");
}

// A flash cartridge has no save area to take out; a list that cannot be
// read is named and the backup still ends done.
TEST_F(IdentityJobs, BackupNotInTheListsCountsTheEntriesAndABadListNeverStopsIt)
{
    sim::insertCart("flash4");
    writeList({{"Erased", withErased(sim::cartImage(), {0})}, {"Other", pattern(0x80000)}});
    std::ofstream(lists + "/broken.dat") << "<datafile><game";
    std::string path = scratch("flash.ngp");
    RecordingReporter job;
    ASSERT_TRUE(backupRom(into(path), simJob(job)));
    Lines tail = after(job, "Backup done. Wrote 524288 bytes.");
    ASSERT_GE(tail.size(), 2u);
    EXPECT_EQ(Lines(tail.end() - 2, tail.end()),
              (Lines{"Skipped known-dump list 'broken.dat': not XML (Error parsing start element tag at byte 14).",
                     "Not in the known-dump lists (2 entries)."}));
    EXPECT_EQ(readFile(path), sim::cartImage());

    setenv("PTB_DAT_DIR", (lists + "/none").c_str(), 1);
    RecordingReporter none;
    ASSERT_TRUE(backupRom(into(path), simJob(none)));
    EXPECT_EQ(none.lines.back(), "No known-dump lists: put Logiqx .dat files in '" + lists + "/none'.");
}

// Only a verdict that passed is followed by the file's identity.
TEST_F(IdentityJobs, VerifyThatPassedNamesTheFileAFailedOneDoesNot)
{
    const Bytes image = sim::cartImage();
    std::string path = scratch("game.ngp");
    writeFile(path, image);
    writeList({{"Sim Official", image}});
    RecordingReporter passed;
    ASSERT_TRUE(verifyRom(path, simJob(passed)));
    EXPECT_EQ(after(passed, "Verifying 'game.ngp'").size(), 2u + 6u + 7u + 1u);  // timing, outcome, identity
    EXPECT_EQ(passed.lines.back(), "Known dump: 'Sim Official' in 'Test list'.");

    sim::cartPoke(0x100, uint8_t(~image[0x100]));  // block 0 is protected
    RecordingReporter failed;
    EXPECT_FALSE(verifyRom(path, simJob(failed)));
    EXPECT_EQ(failed.lines[failed.lines.size() - 3], "Verification failed in chip 0, block 0.");
    EXPECT_EQ(failed.lines.back(), "The cartridge differs from the file.");
}

// A flashing that ended done names the file it wrote; one with licence text
// brings no warning (the warning's lines are in the command line's tests).
TEST_F(IdentityJobs, FlashNamesTheFileItWrote)
{
    sim::insertCart("flash4");
    const Bytes game = sim::cartImage();
    std::string path = scratch("game.ngp");
    writeFile(path, game);
    writeList({{"Small", game}});
    RecordingReporter job;
    ASSERT_TRUE(flashRom(path, simJob(job)));
    EXPECT_EQ(after(job, "Flashing done."), identityOf(path, true));
    EXPECT_EQ(job.lines.back(), "Known dump: 'Small' in 'Test list'.");
}

// The window keeps three lines of an image's notes: the CRC32 and the
// verdict, which comes after the lines on lists left out, then a word of
// the warning, or else the job's own first note in its place. The log file
// and the command line get them all.
TEST_F(IdentityJobs, TheWindowKeepsTheCrcTheVerdictAndOneMoreNote)
{
    struct Notes : RecordingReporter {
        Lines full, brief;
        void notes(const Lines& f, const Lines& b) override { full = f, brief = b; }
    } job;
    const Bytes image = pattern(4096);
    writeList({{"Small", image}});
    std::ofstream(lists + "/broken.dat") << "<datafile><game";
    const KnownDumps known = loadKnownDumps(knownDumpDir());
    ASSERT_EQ(known.notes.size(), 1u);
    writeFile(scratch("game.ngp"), image);
    const Lines identity = identityOf(scratch("game.ngp"));
    const Lines fit = {"9 bytes of the file did not fit."}, warning = {"", "Warning! no licence", ""};
    const std::string crc = "CRC32 " + identity.at(2).substr(13) + " of 'game.ngp'";
    const std::string verdict = "Known dump: 'Small' in 'Test list'.";
    const struct { Lines before, warning, brief; } cases[] = {
        {{}, {}, {crc, verdict}},
        {fit, {}, {fit[0], crc, verdict}},
        {fit, warning, {crc, verdict, "No licence text: the console will refuse it."}},
    };
    for (const auto& c : cases) {
        ImageHasher hasher;
        hasher.update(image.data(), image.size());
        {
            logImageIdentity(job, "game.ngp", hasher, known, {}, {c.before, c.warning});
        }
        EXPECT_EQ(job.brief, c.brief);
        EXPECT_EQ(job.full, c.before + identity + c.warning);
    }
}

// Cart Info reads the header over the link after its usual lines; a read
// that fails adds no header.
TEST_F(IdentityJobs, CartInfoEndsWithTheHeaderItReads)
{
    sim::cartPoke(0x05, 'x');
    RecordingReporter unlicensed;
    ASSERT_TRUE(cartInfo(simJob(unlicensed)));
    EXPECT_EQ(unlicensed.lines.back(), "Cart header: no valid licence text.");
    EXPECT_EQ(unlicensed.lines[unlicensed.lines.size() - 2], "ROM name: 'SIM OFFICIAL'");

    sim::Mark m = sim::mark();
    RecordingReporter clean;
    cartInfo(simJob(clean));
    size_t transfers = sim::transfersSince(m).size();
    sim::timeoutOnTransfer(int(transfers));  // the header's data packet
    RecordingReporter cut;
    EXPECT_FALSE(cartInfo(simJob(cut)));
    EXPECT_TRUE(linesEndWith(cut.lines, Lines{"ROM name: 'SIM OFFICIAL'"} + TIMED_OUT));
}

}  // namespace
