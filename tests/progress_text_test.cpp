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
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Progress.H>
#include <FL/fl_draw.H>

#include "gui/progress.h"

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
    runWithFile("flash", scratchPath("game.ngp"));
    windowSettings().eraseScope = EraseScope::ChangedBlocks;
    windowSettings().verifyAfterWrite = true;
    writeFile(scratchPath("game.ngp"), pattern(150 * 1024, 2));
    runWithFile("flash", scratchPath("game.ngp"));
    EXPECT_EQ(beforeIdentity(logLines()).back(), "Blocks rewritten: 3, already right: 0.");
    runWithFile("backup", scratchPath("backup.ngp"));
    runWithFile("verify", scratchPath("backup.ngp"));
    EXPECT_TRUE(anyMatches(g_seen["Erasing Cartridge"], R"(about \d+ s left)"));
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

// What the progress window shows at each event check of a flash, and a
// Cancel clicked at the fifth check of the erase.
struct Shown {
    std::string title, stage, bar;
    float value;
    bool cancelAvailable;
};
std::vector<Shown> g_shown;
bool g_cancelDuringErase = false;
size_t g_cancelledAt = 0;  // how many checks had been seen at the click

void clickCancel()
{
    Fl::e_x = progress_button->x() + 5;
    Fl::e_y = progress_button->y() + 5;
    Fl::e_keysym = FL_Button + FL_LEFT_MOUSE;
    Fl::e_state = FL_BUTTON1;
    Fl::handle(FL_PUSH, progress_window);
    Fl::e_state = 0;
    Fl::handle(FL_RELEASE, progress_window);
}

void noteWindow()
{
    g_now += 0.06;
    if (progress_window && progress_window->shown()) {
        g_shown.push_back({progress_window->label(), progress_stage->label() ? progress_stage->label() : "",
                           progress_bar->label() ? progress_bar->label() : "", progress_bar->value(),
                           progress_button->active() != 0});
        int erasing = 0;
        for (const Shown& s : g_shown)
            erasing += s.title == "Erasing Cartridge";
        if (g_cancelDuringErase && g_shown.back().title == "Erasing Cartridge" && erasing == 5) {
            clickCancel();
            g_cancelledAt = g_shown.size();
        }
    }
    g_chained();
}

// The chip erase moves its bar by the time taken against the chip's typical
// erase time (6.25 s for flash4), the file and the stage stand above it from
// the start, and a Cancel keeps the window up until the erase is over,
// saying so at once; the last line says what the cartridge now holds. An
// erase that outlasts the typical time says so rather than stay at "about
// 1 s left".
TEST_F(ProgressTextTest, TheEraseTellsItsTimeAndCancelWaitsForIt)
{
    sim::insertCart("flash4");
    windowSettings().verifyAfterWrite = true;
    writeFile(scratchPath("game.ngp"), pattern(4096));
    g_chained = g_afterEventsHook;
    g_afterEventsHook = noteWindow;
    const std::regex left(R"(about \d+ s left)"), longer(R"(longer than usual, 0:\d\d)");
    const std::regex stopping("Flashing 'game.ngp'\nStopping once the erase ends \\(about \\d+ s\\)");
    const struct { bool cancel; double chip16; std::vector<const char*> stages; } runs[] = {
        {false, 2.0, {"Erasing, step 1 of 3", "Writing, step 2 of 3", "Verifying, step 3 of 3"}},
        {true, 2.0, {"Erasing, step 1 of 3"}},
        {false, 40.0, {"Erasing, step 1 of 3", "Writing, step 2 of 3", "Verifying, step 3 of 3"}},
        {true, 40.0, {"Erasing, step 1 of 3"}},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(testing::Message() << run.cancel << " " << run.chip16);
        sim::insertCart("flash4");
        sim::setEraseTimes(0.001, run.chip16);
        // Slower polls: a 10 s erase in a few thousand checks.
        sim::costs().turnaround = run.chip16 > 4 * 6.25 ? 0.005 : sim::Costs().turnaround;
        g_shown.clear();
        g_cancelDuringErase = run.cancel;
        runWithFile("flash", scratchPath("game.ngp"));
        std::vector<std::string> stages;
        float before = -1.0f;
        int stops = 0, late = 0;
        if (run.cancel) {
            ASSERT_LT(g_cancelledAt, g_shown.size());
            EXPECT_TRUE(std::regex_match(g_shown[g_cancelledAt].stage, stopping)) << "not said at once";
        }
        for (const Shown& s : g_shown) {
            late += s.title == "Erasing Cartridge" && std::regex_match(s.bar, longer);
            if (std::regex_match(s.stage, stopping)) {
                stops++;
                EXPECT_FALSE(s.cancelAvailable);
                continue;
            }
            std::string stage = s.stage.substr(s.stage.find('\n') + 1);
            EXPECT_EQ(s.stage, "Flashing 'game.ngp'\n" + stage) << "the file from the start";
            if (stages.empty() || stages.back() != stage)
                stages.push_back(stage);
            if (s.title != "Erasing Cartridge")
                continue;
            EXPECT_TRUE(std::regex_match(s.bar, left) || (run.chip16 > 4 * 6.25 && std::regex_match(s.bar, longer)))
                << s.bar;
            EXPECT_GE(s.value, before) << "an erase bar never runs backwards";
            before = s.value;
        }
        EXPECT_EQ(stages, std::vector<std::string>(run.stages.begin(), run.stages.end()));
        EXPECT_EQ(stops > 0, run.cancel) << "after Cancel the window stays up, saying it waits";
        EXPECT_EQ(late > 0, run.chip16 > 4 * 6.25) << "past the typical time the text says so";
        EXPECT_EQ(beforeIdentity(logLines()).back(),
                  run.cancel ? "Flashing cancelled: chip 0 is now blank." : "Flashing done.");
    }
    EXPECT_TRUE(allErased(0, 0, 0x80000));
}

}  // namespace

namespace {

// What the window says above its bar and in it is shown whole: the window
// grows about its middle, the bar and Cancel keep their distance from its
// foot, and it never shrinks back during a job.
TEST_F(ProgressTextTest, TheWindowGrowsToHoldItsTexts)
{
    makeProgressWindow("Erasing Cartridge");
    const int barFoot = progress_window->h() - progress_bar->y(), cancelFoot = progress_window->h() - progress_button->y();
    const struct { const char* stage; const char* bar; } rows[] = {
        {"Flashing 'SIM OFFICIAL.ngp'\nStopping once the erase ends (about 22 s)", "40%  about 13 s left"},
        {"Flashing 'a game with a long name, as people name them.ngp'\nChip 0: erasing\nChip 1: waiting", "99%  0.8 KiB/s  99:59:59 left in all"},
        {"short", "1%"},
    };
    int w = 0, h = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.stage);
        setProgressStage(r.stage);
        setProgressText(r.bar);
        int tw = 0, th = 0;
        fl_font(progress_stage->labelfont(), progress_stage->labelsize());
        fl_measure(r.stage, tw, th);
        EXPECT_LE(tw, progress_stage->w());
        EXPECT_LE(th, progress_stage->h());
        fl_font(progress_bar->labelfont(), progress_bar->labelsize());
        EXPECT_LE(fl_width(r.bar), progress_bar->w() - 2 * Fl::box_dx(progress_bar->box()));
        EXPECT_EQ(progress_window->h() - progress_bar->y(), barFoot);
        EXPECT_EQ(progress_window->h() - progress_button->y(), cancelFoot);
        EXPECT_GE(progress_window->w(), w);
        EXPECT_GE(progress_window->h(), h);
        w = progress_window->w(), h = progress_window->h();
    }
    closeProgressWindow();
}

}  // namespace
