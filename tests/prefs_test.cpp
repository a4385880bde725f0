// The preferences window, opened through its button callback and driven
// from inside its polling loop.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <tuple>
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
        EXPECT_EQ(windowSettings().writeN, c.writeN);
        EXPECT_EQ(windowSettings().turboMode, c.turboValue);
        EXPECT_EQ(windowSettings().skipChip, c.skip);
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
                   EXPECT_EQ(windowSettings().writeN, 128) << "a pick takes effect at once";
                   pick(prefsUnlockButton, 0);
               },
               [] { prefsWindow->do_callback(); }},  // the window system's close control
              false);
    EXPECT_EQ(windowSettings().writeN, 128);
    EXPECT_EQ(windowSettings().turboMode, 0);
    EXPECT_EQ(windowSettings().skipChip, -1);

    windowSettings().turboMode = 7;  // values outside the menus are reported
    windowSettings().skipChip = 5;
    clearLog();
    std::vector<std::string> s = shownOnOpening();
    EXPECT_EQ(s[0], "");
    EXPECT_EQ(s[2], "");
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Unknown G_unlockBypassMode mode value 7",
                                                    "Unknown skipChip mode value 5"}));
}


// The erase and verify menus: today's behaviour by default, each pick
// stored, shown again and handed to the job. The first three menus stay
// where users know them; the new ones, their labels and the Close button fit
// below them.
TEST_F(PrefsTest, EraseAndVerifyMenusBelowTheOldOnes)
{
    auto shown = [] {
        std::vector<std::string> s;
        openPrefs({[&] {
            for (Fl_Choice* menu : {prefsEraseButton, prefsVerifyButton})
                s.push_back(menu->text() ? menu->text() : "");
        }});
        return s;
    };
    EXPECT_EQ(shown(), (std::vector<std::string>{"Whole chips", "Off"}));
    const struct { int index; EraseScope scope; const char* text; bool verify; } cases[] = {
        {2, EraseScope::ChangedBlocks, "Changed blocks only", true}, {1, EraseScope::RomBlocks, "ROM's blocks only", false}};
    for (const auto& c : cases) {
        openPrefs({[&] {
            pick(prefsEraseButton, c.index);
            pick(prefsVerifyButton, c.verify);
        }});
        EXPECT_EQ(std::make_pair(prefsSettings().eraseScope, prefsSettings().verifyAfterWrite), std::make_pair(c.scope, c.verify));
        EXPECT_EQ(shown(), (std::vector<std::string>{c.text, c.verify ? "On" : "Off"}));
    }

    openPrefs({[] {
        std::vector<std::tuple<int, int, int, int>> kept = {{10, 10, 80, 20}, {10, 35, 80, 20}, {10, 60, 100, 20}}, got;
        for (Fl_Widget* w : {prefsUnlockButton, prefsWriteNButton, prefsWriteModeButton})
            got.push_back({w->x(), w->y(), w->w(), w->h()});
        EXPECT_EQ(got, kept);
        fl_font(FL_HELVETICA, FL_NORMAL_SIZE);
        int below = 80;
        for (Fl_Widget* w : std::vector<Fl_Widget*>{prefsEraseButton, prefsVerifyButton, PrefsCloseButton}) {
            EXPECT_GE(w->y(), below) << w->label();
            below = w->y() + w->h();
            int labelWidth = w == PrefsCloseButton ? 0 : int(fl_width(w->label()));
            EXPECT_LE(w->x() + w->w() + labelWidth, prefsWindow->w()) << w->label();
        }
        EXPECT_LE(below, prefsWindow->h());
        EXPECT_LE(fl_width("Changed blocks only") + 20, prefsEraseButton->w()) << "the longest item beside the arrow";
    }});
}

// The menu's pop-up while it is up: the tallest window it opened, and where
// the last one lay on the screen. Escape closes it without a pick.
int g_menuHeight = 0, g_menuTop = 0, g_menuBottom = 0;

void measureMenu(void*)
{
    for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w))
        if (w != prefsWindow && w != window) {
            g_menuHeight = std::max(g_menuHeight, w->h());
            g_menuTop = w->y(), g_menuBottom = w->y() + w->h();
        }
    Fl::e_keysym = FL_Escape;
    Fl::e_text = (char*)"\033";
    Fl::e_length = 1;
    Fl::handle(FL_KEYBOARD, Fl::grab() ? Fl::grab() : prefsWindow);
    Fl::e_text = nullptr;
    Fl::e_length = 0;
}

// Clicks the menu and measures its pop-up.
void popUp(Fl_Choice* menu)
{
    g_menuHeight = 0;
    g_menuTop = g_menuBottom = -1;
    Fl::add_timeout(0.05, measureMenu);
    Fl::e_x = menu->x() + 5;
    Fl::e_y = menu->y() + 5;
    Fl::e_x_root = prefsWindow->x() + Fl::e_x;
    Fl::e_y_root = prefsWindow->y() + Fl::e_y;
    menu->handle(FL_PUSH);
    Fl::remove_timeout(measureMenu);
}

// With Preferences low on the screen and the last size chosen, the toolkit
// would open Write_N's list with its first sizes above the screen's top:
// the list opens where all of it is on the screen.
TEST_F(PrefsTest, WriteNListOpensOnTheScreen)
{
    int sx, sy, sw, sh;
    Fl::screen_work_area(sx, sy, sw, sh, 0, 0);
    windowSettings().writeN = 1024;
    openPrefs({[&] {
        prefsWindow->position(sx + 20, sy + sh - prefsWindow->h());
        Fl::flush();
        popUp(prefsWriteNButton);
    }});
    EXPECT_GE(g_menuTop, sy);
    // A list taller than the screen (48 sizes on 768 pixels) starts at its top.
    if (g_menuBottom - g_menuTop <= sh) {
        EXPECT_LE(g_menuBottom, sy + sh);
    }
}

// At the size it opens at, every label is whole, every menu pops up within
// an 800-pixel screen, and every setting says what it trades.
TEST_F(PrefsTest, LabelsWholeMenusOnScreenTooltipsOnEach)
{
    openPrefs({[] {
        Fl::flush();
        EXPECT_GE(prefsWindow->h(), PrefsCloseButton->y() + PrefsCloseButton->h());
        for (Fl_Choice* menu : {prefsUnlockButton, prefsWriteNButton, prefsWriteModeButton, prefsEraseButton,
                                prefsVerifyButton}) {
            fl_font(menu->labelfont(), menu->labelsize());
            EXPECT_LE(menu->x() + menu->w() + 4 + int(fl_width(menu->label())), prefsWindow->w()) << menu->label();
            ASSERT_NE(menu->tooltip(), nullptr) << menu->label();
            EXPECT_GT(strlen(menu->tooltip()), 40u) << menu->label();
            popUp(menu);
            EXPECT_GT(g_menuHeight, 0) << menu->label();
            EXPECT_LE(g_menuHeight, 800) << menu->label();
        }
    }});
}

// What to erase and whether to verify are remembered between runs; Turbo
// Mode, Write_N and Write Processing start at their defaults every time.
TEST_F(PrefsTest, EraseAndVerifyAreRememberedTheRestStartsAtDefaults)
{
    std::string home = std::string(getenv("HOME")) + "/remembered-" + std::to_string(getpid());
    std::string savedHome = getenv("HOME");
    setenv("HOME", home.c_str(), 1);
    const struct { int erase, verify; EraseScope scope; } rows[] = {
        {2, 1, EraseScope::ChangedBlocks}, {1, 0, EraseScope::RomBlocks}, {0, 1, EraseScope::WholeChips}};
    for (const auto& r : rows) {
        openPrefs({[&] {
            pick(prefsEraseButton, r.erase);
            pick(prefsVerifyButton, r.verify);
            pick(prefsWriteNButton, 33);
            pick(prefsUnlockButton, 1);
            pick(prefsWriteModeButton, 2);
        }});
        // A new run: the globals start as built, then what was kept is read.
        windowSettings().eraseScope = EraseScope::WholeChips;
        windowSettings().verifyAfterWrite = false;
        windowSettings().turboMode = TURBO_AUTO, windowSettings().writeN = 512, windowSettings().skipChip = -1;
        loadRememberedSettings();
        EXPECT_EQ(windowSettings().eraseScope, r.scope);
        EXPECT_EQ(windowSettings().verifyAfterWrite, r.verify == 1);
        EXPECT_EQ(std::make_tuple(windowSettings().turboMode, windowSettings().writeN, windowSettings().skipChip), std::make_tuple(TURBO_AUTO, 512, -1));
    }
    std::filesystem::remove_all(home);
    setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
