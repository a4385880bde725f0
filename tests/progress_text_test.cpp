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

// Every text the bar showed at an event check, by the window's title.
std::map<std::string, std::set<std::string>> g_seen;
void (*g_chained)() = nullptr;

void noteText()
{
    g_now += 0.06;  // every other update of the bar changes its words
    if (progress_window && progress_bar && progress_bar->label())
        g_seen[progress_window->label()].insert(progress_bar->label());
    g_chained();
}

class ProgressTextTest : public JobTest {
protected:
    void SetUp() override
    {
        JobTest::SetUp();
        sim::setEraseTimes(0.001, 0.02);
        g_progressTextClock = [] { return g_now; };
    }
    void TearDown() override
    {
        g_progressTextClock = steadyClockSeconds;
        JobTest::TearDown();
    }
};

bool anyMatches(const std::set<std::string>& texts, const char* form)
{
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return std::regex_match(t, std::regex(form)); });
}

// Whole chips erase without a byte count: the time taken. Every other bar
// counts bytes: percent, KiB/s and time left, and the words fit in the bar.
TEST_F(ProgressTextTest, EveryLongJobsBarSaysHowFarHowFastAndHowLong)
{
    g_chained = g_afterEventsHook;
    g_afterEventsHook = noteText;
    const char* rate = R"(\d{1,3}%  \d+(\.\d)? KiB/s  \d+:\d\d left)";
    sim::insertCart("flash4");
    writeFile(scratchPath("game.ngp"), pattern(150 * 1024));
    runWithFile(cb_loadROMs_button, scratchPath("game.ngp"));
    eraseScope = EraseScope::ChangedBlocks;
    verifyAfterWrite = true;
    writeFile(scratchPath("game.ngp"), pattern(150 * 1024, 2));
    runWithFile(cb_loadROMs_button, scratchPath("game.ngp"));
    EXPECT_EQ(beforeIdentity(logLines()).back(), "Blocks rewritten: 3, already right: 0.");
    runWithFile(cb_backupROM_button, scratchPath("backup.ngp"));
    runWithFile(cb_verify_button, scratchPath("backup.ngp"));
    EXPECT_TRUE(anyMatches(g_seen["Erasing Cartridge"], R"(\d+:\d\d elapsed)"));
    for (const char* title : {"Reading Cartridge", "Erasing Cartridge", "Writing Cartridge", "Verifying Cartridge",
                              "Backing up a ROM", "Verifying a ROM"})
        EXPECT_TRUE(anyMatches(g_seen[title], rate)) << title;

    makeProgressWindow("Writing Cartridge");
    fl_font(progress_bar->labelfont(), progress_bar->labelsize());
    for (const char* longest : {"99%  1180 KiB/s  1:29:12 left", "99%  0.8 KiB/s  99:59:59 left"})
        EXPECT_LE(fl_width(longest), progress_bar->w() - 2 * Fl::box_dx(progress_bar->box())) << longest;
}

// Eight seconds of updates, 128 a second: the bar moves every sixth update
// (at most 25 times a second), its words every third move (at most ten), and
// they say what the bytes and the link clock say.
TEST_F(ProgressTextTest, TheWordsChangeAtMostTenTimesASecond)
{
    const double step = 1.0 / 128;  // exact in binary: no drift over a thousand steps
    WindowReporter& r = windowReporter();
    r.beginProgress("Writing Cartridge", 1024 * 1024);
    std::vector<std::string> shown;
    for (int i = 0; i < 1024; i++, g_now += step, sim::advanceClock(step)) {
        r.progress(float(i) / 1024);
        if (shown.empty() || shown.back() != progress_bar->label())
            shown.push_back(progress_bar->label());
    }
    EXPECT_EQ(shown.size(), 57u);
    EXPECT_EQ(shown.front(), "0%");
    EXPECT_EQ(shown[28], "49%  128 KiB/s  0:05 left");  // at 504 of 1024: 504 KiB in 3.9375 s
    EXPECT_FLOAT_EQ(float(progress_bar->value()), 1020 / 1024.0f);  // the last move, at 170 x 6
    r.endProgress();
}

}  // namespace
