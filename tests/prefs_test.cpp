// The preferences window, opened through its button callback and driven
// from inside its polling loop.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/x.H>
#include <X11/Xutil.h>

#include <functional>
#include <vector>

#include "support/job_fixture.h"
#include "ui/events.h"
#include "ui/main_window.h"
#include "ui/prefs.h"

namespace {

// What the user does, one step each time the window's loop lets events
// through. A watchdog hides the window if the steps never close it.
std::vector<std::function<void()>> g_steps;
size_t g_next = 0;
int g_polls = 0;
bool g_watchdogFired = false;
const int WATCHDOG_POLLS = 20000;

void userStep()
{
    g_polls++;
    if (g_polls > WATCHDOG_POLLS) {
        g_watchdogFired = true;
        prefsWindow->hide();
    } else if (g_next < g_steps.size()) {
        g_steps[g_next++]();
    }
}

void openPrefs(std::vector<std::function<void()>> steps)
{
    g_steps = std::move(steps);
    g_next = 0;
    g_polls = 0;
    g_watchdogFired = false;
    g_afterEventsHook = userStep;
    cb_preferences(preferences, nullptr);
    g_afterEventsHook = nullptr;
    EXPECT_FALSE(g_watchdogFired) << "the window was never closed";
    EXPECT_EQ(g_next, g_steps.size()) << "the window closed before the user was done";
    EXPECT_EQ(prefsWindow, nullptr) << "the closed window must be destroyed";
}

void pick(Fl_Choice* menu, int index)
{
    ASSERT_LT(index, menu->size() - 1);
    menu->picked(menu->menu() + index);
}

void closeButton()
{
    PrefsCloseButton->do_callback();
}

// The item each menu shows when the window opens, or "" for none.
struct Shown {
    std::string turbo, writeN, mode;
    int writeNIndex = -2;
};

Shown shownOnOpening()
{
    Shown s;
    openPrefs({[&] {
                   s.turbo = prefsUnlockButton->text() ? prefsUnlockButton->text() : "";
                   s.writeN = prefsWriteNButton->text() ? prefsWriteNButton->text() : "";
                   s.mode = prefsWriteModeButton->text() ? prefsWriteModeButton->text() : "";
                   s.writeNIndex = prefsWriteNButton->value();
               },
               closeButton});
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

// The window may grow but not shrink below 220 x 140, taller than it is built.
TEST_F(PrefsTest, SizeLimitsReachTheWindowSystem)
{
    XSizeHints hints{};
    long supplied = 0;
    openPrefs({[&] {
                   Fl::flush();
                   XGetWMNormalHints(fl_display, fl_xid(prefsWindow), &hints, &supplied);
               },
               closeButton});
    ASSERT_TRUE(hints.flags & PMinSize);
    EXPECT_EQ(hints.min_width, 220);
    EXPECT_EQ(hints.min_height, 140);
    if (hints.flags & PMaxSize) {
        EXPECT_GT(hints.max_width, 228);
        EXPECT_GT(hints.max_height, 140);
    }
}

// Opens on the defaults; each pick is stored and shown again next time.
TEST_F(PrefsTest, PicksAreStoredAndReselected)
{
    Shown s = shownOnOpening();
    EXPECT_EQ(s.turbo, "Auto");
    EXPECT_EQ(s.writeN, "512");
    EXPECT_EQ(s.writeNIndex, 39);
    EXPECT_EQ(s.mode, "Both chips");
    EXPECT_TRUE(logLines().empty());
    openPrefs({[] {
                   EXPECT_TRUE(prefsWindow->modal());
                   EXPECT_EQ(prefsWindow->resizable(), prefsWindow) << "the children scale with it";
                   EXPECT_EQ(prefsWriteNButton->size() - 1, 48);
               },
               closeButton});

    const struct {
        int index, writeN;
        const char *turbo, *mode;
        uint8_t turboValue;
        int skip;
    } cases[] = {{32, 64, "Off", "Both chips", 0, -1},
                 {31, 32, "On", "Skip chip0", 1, 0},
                 {47, 1024, "Auto", "Skip chip1", 255, 1},
                 {0, 1, "Off", "Skip chip0", 0, 0},
                 {39, 512, "Auto", "Both chips", 255, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.writeN);
        openPrefs({[&] {
                       pick(prefsWriteNButton, c.index);
                       pick(prefsUnlockButton, c.turboValue == 255 ? 2 : c.turboValue);
                       pick(prefsWriteModeButton, c.skip + 1);
                   },
                   closeButton});
        EXPECT_EQ(write_N, c.writeN);
        EXPECT_EQ(G_unlockBypassMode, c.turboValue);
        EXPECT_EQ(skipChip, c.skip);
        s = shownOnOpening();
        EXPECT_EQ(s.writeNIndex, c.index);
        EXPECT_EQ(s.writeN, std::to_string(c.writeN));
        EXPECT_EQ(s.turbo, c.turbo);
        EXPECT_EQ(s.mode, c.mode);
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
               [] { prefsWindow->do_callback(); }});  // the window system's close control
    EXPECT_EQ(write_N, 128);
    EXPECT_EQ(G_unlockBypassMode, 0);
    EXPECT_EQ(skipChip, -1);

    G_unlockBypassMode = 7;  // values outside the menus are reported
    skipChip = 5;
    clearLog();
    Shown s = shownOnOpening();
    EXPECT_EQ(s.turbo, "");
    EXPECT_EQ(s.mode, "");
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Unknown G_unlockBypassMode mode value 7",
                                                    "Unknown skipChip mode value 5"}));
}

}  // namespace
