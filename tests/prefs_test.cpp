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
#include <string>
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

// The window system's close control.
void closeControl()
{
    prefsWindow->do_callback();
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

void expectGeometry(Fl_Widget* w, int x, int y, int width, int height)
{
    EXPECT_EQ(w->x(), x) << w->label();
    EXPECT_EQ(w->y(), y) << w->label();
    EXPECT_EQ(w->w(), width) << w->label();
    EXPECT_EQ(w->h(), height) << w->label();
}

TEST_F(PrefsTest, LayoutAndItems)
{
    openPrefs({[] {
                   EXPECT_STREQ(prefsWindow->label(), "Preferences");
                   EXPECT_TRUE(prefsWindow->modal());
                   EXPECT_TRUE(prefsWindow->shown());
                   EXPECT_EQ(prefsWindow->w(), 228);
                   EXPECT_EQ(prefsWindow->h(), 120);
                   EXPECT_EQ(prefsWindow->resizable(), prefsWindow) << "the children scale with it";

                   expectGeometry(prefsUnlockButton, 10, 10, 80, 20);
                   expectGeometry(prefsWriteNButton, 10, 35, 80, 20);
                   expectGeometry(prefsWriteModeButton, 10, 60, 100, 20);
                   expectGeometry(PrefsCloseButton, 85, 90, 63, 20);
                   EXPECT_STREQ(prefsUnlockButton->label(), "Turbo Mode");
                   EXPECT_STREQ(prefsWriteNButton->label(), "Write_N");
                   EXPECT_STREQ(prefsWriteModeButton->label(), "Write Processing");
                   EXPECT_STREQ(PrefsCloseButton->label(), "Close");
                   for (Fl_Choice* c : {prefsUnlockButton, prefsWriteNButton, prefsWriteModeButton})
                       EXPECT_EQ(c->align() & FL_ALIGN_POSITION_MASK, FL_ALIGN_RIGHT) << c->label();

                   ASSERT_EQ(prefsUnlockButton->size() - 1, 3);
                   EXPECT_STREQ(prefsUnlockButton->text(0), "Off");
                   EXPECT_STREQ(prefsUnlockButton->text(1), "On");
                   EXPECT_STREQ(prefsUnlockButton->text(2), "Auto");
                   ASSERT_EQ(prefsWriteModeButton->size() - 1, 3);
                   EXPECT_STREQ(prefsWriteModeButton->text(0), "Both chips");
                   EXPECT_STREQ(prefsWriteModeButton->text(1), "Skip chip0");
                   EXPECT_STREQ(prefsWriteModeButton->text(2), "Skip chip1");
                   ASSERT_EQ(prefsWriteNButton->size() - 1, 48);
                   for (int i = 0; i < 32; i++)
                       EXPECT_EQ(prefsWriteNButton->text(i), std::to_string(i + 1));
                   for (int i = 32; i < 48; i++)
                       EXPECT_EQ(prefsWriteNButton->text(i), std::to_string((i - 31) * 64));
               },
               closeButton});
}

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

TEST_F(PrefsTest, OpensOnTheDefaults)
{
    Shown s = shownOnOpening();
    EXPECT_EQ(s.turbo, "Auto");
    EXPECT_EQ(s.writeN, "512");
    EXPECT_EQ(s.writeNIndex, 39);
    EXPECT_EQ(s.mode, "Both chips");
    EXPECT_TRUE(logLines().empty());
}

TEST_F(PrefsTest, PickedWriteNIsStoredAndReselected)
{
    const std::pair<int, int> cases[] = {{32, 64}, {31, 32}, {47, 1024}, {0, 1}, {39, 512}};
    for (auto [index, value] : cases) {
        openPrefs({[=] { pick(prefsWriteNButton, index); }, closeButton});
        EXPECT_EQ(write_N, value) << "item " << index;
        Shown s = shownOnOpening();
        EXPECT_EQ(s.writeNIndex, index);
        EXPECT_EQ(s.writeN, std::to_string(value));
    }
}

TEST_F(PrefsTest, PickedTurboAndProcessingAreStoredAndReselected)
{
    const char* turboText[] = {"Off", "On", "Auto"};
    const uint8_t turboValue[] = {0, 1, 255};
    const char* modeText[] = {"Both chips", "Skip chip0", "Skip chip1"};
    const int modeValue[] = {-1, 0, 1};
    for (int i = 0; i < 3; i++) {
        openPrefs({[=] {
                       pick(prefsUnlockButton, i);
                       pick(prefsWriteModeButton, i);
                   },
                   closeButton});
        EXPECT_EQ(G_unlockBypassMode, turboValue[i]);
        EXPECT_EQ(skipChip, modeValue[i]);
        Shown s = shownOnOpening();
        EXPECT_EQ(s.turbo, turboText[i]);
        EXPECT_EQ(s.mode, modeText[i]);
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
               closeControl});
    EXPECT_EQ(write_N, 128);
    EXPECT_EQ(G_unlockBypassMode, 0);
    EXPECT_EQ(skipChip, -1);
}

TEST_F(PrefsTest, ValuesOutsideTheMenusAreReported)
{
    G_unlockBypassMode = 7;
    skipChip = 5;
    Shown s = shownOnOpening();
    EXPECT_EQ(s.turbo, "");
    EXPECT_EQ(s.mode, "");
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Unknown G_unlockBypassMode mode value 7",
                                                    "Unknown skipChip mode value 5"}));
}

}  // namespace
