// The words inside a long job's bar: how far, how fast and how long still,
// for every bar a job opens, changed at most ten times a second.
#include "support/job_helpers.h"

#include <map>
#include <regex>
#include <set>

#include "core/link/clock.h"
#include "gui/commands.h"
#include "gui/events.h"
#include "gui/log.h"
#include "gui/prefs.h"

// After the simulator's headers: X11's own define None.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Progress.H>
#include <FL/fl_draw.H>

namespace {

double g_now = 0.0;
double g_tick = 0.0;

double fakeClock()
{
    return g_now += g_tick;
}

// Every text the bar showed at an event check, by the window's title.
std::map<std::string, std::set<std::string>> g_seen;
void (*g_chained)() = nullptr;

void noteText()
{
    if (progress_window && progress_bar && progress_bar->label())
        g_seen[progress_window->label()].insert(progress_bar->label());
    if (g_chained)
        g_chained();
}

class ProgressTextTest : public JobTest {
protected:
    void SetUp() override
    {
        JobTest::SetUp();
        sim::setEraseTimes(0.001, 0.02);
        g_now = 0.0;
        g_tick = 0.0;
        g_seen.clear();
        g_chained = g_afterEventsHook;
        g_afterEventsHook = noteText;
    }
    void TearDown() override
    {
        g_progressTextClock = steadyClockSeconds;
        JobTest::TearDown();
    }
};

const std::regex RATE(R"(\d{1,3}%  \d+(\.\d)? KiB/s  \d+:\d\d left)");
const std::regex ELAPSED(R"(\d+:\d\d elapsed)");

bool anyMatches(const std::set<std::string>& texts, const std::regex& form)
{
    for (const std::string& t : texts)
        if (std::regex_match(t, form))
            return true;
    return false;
}

// Whole chips erase without a byte count: the time taken. Every other bar
// counts bytes: percent, KiB/s and time left, once a byte has moved.
TEST_F(ProgressTextTest, EveryLongJobsBarSaysHowFarHowFastAndHowLong)
{
    g_progressTextClock = fakeClock;
    g_tick = 0.06;  // every other update of the bar changes its words
    sim::insertCart("flash4");
    Bytes rom = pattern(150 * 1024);
    writeFile(scratchPath("game.ngp"), rom);
    runWithFile(cb_loadROMs_button, scratchPath("game.ngp"));
    ASSERT_EQ(logLines().back(), "Flashing done.");
    EXPECT_TRUE(anyMatches(g_seen["Erasing Cartridge"], ELAPSED));
    EXPECT_TRUE(anyMatches(g_seen["Writing Cartridge"], RATE));

    // Changed blocks only, verified: the window's settings reach the job.
    rom[0x20000] ^= 1;
    writeFile(scratchPath("game.ngp"), rom);
    eraseScope = EraseScope::ChangedBlocks;
    verifyAfterWrite = true;
    runWithFile(cb_loadROMs_button, scratchPath("game.ngp"));
    Lines log = logLines();
    ASSERT_GE(log.size(), 8u);
    EXPECT_TRUE(linesAre(Lines(log.end() - 5, log.end()),
                         {"Flashing 'game.ngp'", "Wrote 153600 bytes in {s} seconds",
                          "Verify after writing: all 22528 bytes match.", "Flashing done.",
                          "Blocks rewritten: 1, already right: 2."}));
    for (const char* title : {"Reading Cartridge", "Verifying Cartridge"})
        EXPECT_TRUE(anyMatches(g_seen[title], RATE)) << title;

    // The ROM's blocks: erased one by one, bytes counted.
    eraseScope = EraseScope::RomBlocks;
    g_seen.clear();
    runWithFile(cb_loadROMs_button, scratchPath("game.ngp"));
    EXPECT_EQ(logLines().back(), "Flashing done.");
    EXPECT_TRUE(anyMatches(g_seen["Erasing Cartridge"], RATE));

    runWithFile(cb_backupROM_button, scratchPath("backup.ngp"));
    runWithFile(cb_verify_button, scratchPath("backup.ngp"));
    EXPECT_TRUE(anyMatches(g_seen["Backing up a ROM"], RATE));
    EXPECT_TRUE(anyMatches(g_seen["Verifying a ROM"], RATE));
}

// Eight seconds of a job's updates, 128 a second: the words change every
// thirteenth update, the first after a tenth of a second, and say what the
// bytes and the link clock say.
TEST_F(ProgressTextTest, TheWordsChangeAtMostTenTimesASecond)
{
    g_progressTextClock = [] { return g_now; };
    const double step = 1.0 / 128;  // exact in binary: no drift over a thousand steps
    WindowReporter& r = windowReporter();
    r.beginProgress("Writing Cartridge", 1024 * 1024);
    std::vector<std::string> shown;
    for (int i = 0; i < 1024; i++) {
        r.progress(float(i) / 1024);
        if (shown.empty() || shown.back() != progress_bar->label())
            shown.push_back(progress_bar->label());
        g_now += step;
        sim::advanceClock(step);
    }
    r.endProgress();
    EXPECT_EQ(shown.size(), 79u);
    EXPECT_EQ(shown.front(), "0%");
    // Update 40, at 520 of 1024: 4.0625 s for 520 KiB.
    EXPECT_EQ(shown[40], "50%  128 KiB/s  0:04 left");
}

// The longest words a flash can show fit inside the bar, as the toolkit
// draws them there.
TEST_F(ProgressTextTest, TheWordsFitInsideTheBar)
{
    makeProgressWindow("Writing Cartridge");
    fl_font(progress_bar->labelfont(), progress_bar->labelsize());
    for (const char* longest : {"99%  1180 KiB/s  1:29:12 left", "99%  0.8 KiB/s  99:59:59 left", "99:59:59 elapsed"})
        EXPECT_LE(fl_width(longest), progress_bar->w() - 2 * Fl::box_dx(progress_bar->box())) << longest;
    closeProgressWindow();
}

}  // namespace
