// The preferences window, opened through its button callback and driven
// from inside its polling loop.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>

#include <functional>
#include <vector>

#include "support/job_fixture.h"
#include "gui/events.h"
#include "gui/main_window.h"
#include "gui/prefs.h"

namespace {

// What the user does, one step each time the window's loop lets events
// through. A watchdog hides the window if the steps never close it.
std::vector<std::function<void()>> g_steps;
size_t g_next = 0;
int g_polls = 0;

void userStep()
{
    if (++g_polls > 20000)
        prefsWindow->hide();
    else if (g_next < g_steps.size())
        g_steps[g_next++]();
}

// The steps, then the Close button unless the steps close the window.
void openPrefs(std::vector<std::function<void()>> steps, bool close = true)
{
    g_steps = std::move(steps);
    if (close)
        g_steps.push_back([] { PrefsCloseButton->do_callback(); });
    g_next = 0;
    g_polls = 0;
    g_afterEventsHook = userStep;
    cb_preferences(preferences, nullptr);
    g_afterEventsHook = nullptr;
    EXPECT_LE(g_polls, 20000) << "the window was never closed";
    EXPECT_EQ(g_next, g_steps.size()) << "the window closed before the user was done";
    EXPECT_EQ(prefsWindow, nullptr) << "the closed window must be destroyed";
}

void pick(Fl_Choice* menu, int index)
{
    ASSERT_LT(index, menu->size() - 1);
    menu->picked(menu->menu() + index);
}

// The items the menus show when the window opens ("" for none), and
// Write_N's index.
std::vector<std::string> shownOnOpening()
{
    std::vector<std::string> s;
    openPrefs({[&] {
        for (Fl_Choice* menu : {prefsUnlockButton, prefsWriteNButton, prefsWriteModeButton})
            s.push_back(menu->text() ? menu->text() : "");
        s.push_back(std::to_string(prefsWriteNButton->value()));
    }});
    return s;
}

class PrefsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!window)
            buildMainWindow();
        clearLog();
        resetSettings();
    }
    void TearDown() override
    {
        g_afterEventsHook = nullptr;
        resetSettings();
    }
};

// Opens on the defaults; each pick is stored and shown again next time.
TEST_F(PrefsTest, PicksAreStoredAndReselected)
{
    EXPECT_EQ(shownOnOpening(), (std::vector<std::string>{"Auto", "512", "Both chips", "39"}));
    EXPECT_TRUE(logLines().empty());

    const struct { int index, writeN; const char *turbo, *mode; uint8_t turboValue; int skip; } cases[] = {
        {32, 64, "Off", "Both chips", 0, -1},
        {31, 32, "On", "Skip chip0", 1, 0},
        {47, 1024, "Auto", "Skip chip1", 255, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.writeN);
        openPrefs({[&] {
            pick(prefsWriteNButton, c.index);
            pick(prefsUnlockButton, c.turboValue == 255 ? 2 : c.turboValue);
            pick(prefsWriteModeButton, c.skip + 1);
        }});
        EXPECT_EQ(write_N, c.writeN);
        EXPECT_EQ(G_unlockBypassMode, c.turboValue);
        EXPECT_EQ(skipChip, c.skip);
        EXPECT_EQ(shownOnOpening(),
                  (std::vector<std::string>{c.turbo, std::to_string(c.writeN), c.mode, std::to_string(c.index)}));
    }
}

// There is no cancel: a pick lasts even when the window is closed by its
// close control, and every pick counts, not only the last one shown.
TEST_F(PrefsTest, ClosingKeepsWhatWasPicked)
{
    openPrefs({[] { pick(prefsWriteNButton, 33); },
               [] {
                   EXPECT_EQ(write_N, 128) << "a pick takes effect at once";
                   pick(prefsUnlockButton, 0);
               },
               [] { prefsWindow->do_callback(); }},  // the window system's close control
              false);
    EXPECT_EQ(write_N, 128);
    EXPECT_EQ(G_unlockBypassMode, 0);
    EXPECT_EQ(skipChip, -1);

    G_unlockBypassMode = 7;  // values outside the menus are reported
    skipChip = 5;
    clearLog();
    std::vector<std::string> s = shownOnOpening();
    EXPECT_EQ(s[0], "");
    EXPECT_EQ(s[2], "");
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Unknown G_unlockBypassMode mode value 7",
                                                    "Unknown skipChip mode value 5"}));
}

}  // namespace
