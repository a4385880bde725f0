// The linker plugged in at any time: found when it arrives after start-up,
// found again after it was pulled (mid-job or idle), and a refused one left
// alone until it is unplugged. Hotplug events come through the stand-in's
// descriptor and the window's event loop; without hotplug the window's
// once-a-second look is called as its timer would.
#include <FL/Fl.H>
#include <libusb.h>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>

#include "core/link/linker.h"
#include "gui/log.h"
#include "gui/commands.h"
#include "gui/events.h"
#include "gui/link_watch.h"
#include "gui/main_window.h"
#include "support/job_helpers.h"
#include "support/log_file_records.h"

namespace {

const Lines BANNER = {"", "-=> PocketTetherbox GUI v1.2 build 1001 <=-", ""};
const Lines NO_LINKER = {"No USB Tetherbox device found!!", "Waiting for the linker: plug it in."};
const Lines GREETED = {"Checking for the linker and the cart..\n", "Linker with v0.13 Firmware found", "Chip #0 info:"};
const std::string GONE_LINE = GONE_NOTICE[0];

class LinkWatch : public JobTest {
protected:
    void SetUp() override
    {
        JobTest::SetUp();
        closeLink();
        dropWindow();
    }
    void TearDown() override
    {
        if (window)
            closingDown(window, nullptr);
        dropWindow();
        JobTest::TearDown();
    }
    static void dropWindow()
    {
        delete window;
        window = nullptr;
        text_browser = nullptr;
    }

    // What the window does when it hears of a device: the event loop runs
    // the hotplug descriptor's handler, or the timer its look.
    static void notice()
    {
        if (lookingEverySecond()) {
            lookAtLinker();
            return;
        }
        for (int i = 0; i < 3; i++)
            Fl::check();
    }

    // Every button, Preferences included, is usable (or none is); Saves,
    // which needs no linker, always is between jobs.
    static ::testing::AssertionResult buttonsAre(bool active)
    {
        int n = 0;
        for (int i = 0; i < operations_group->children(); i++) {
            auto* b = dynamic_cast<Fl_Button*>(operations_group->child(i));
            if (!b)
                continue;
            n++;
            if (bool(b->active_r()) != (active || b == saves_button))
                return ::testing::AssertionFailure() << b->label() << (active ? " disabled" : " enabled");
        }
        if (n != 11)
            return ::testing::AssertionFailure() << n << " buttons";
        return ::testing::AssertionSuccess();
    }
};

// However libusb tells of it: the waiting line once, nothing while nobody
// comes, then the start-up sequence and the buttons.
TEST_F(LinkWatch, ALinkerPluggedInAfterStartUpIsGreeted)
{
    const struct {
        const char* how;
        void (*libusb)();
        bool hotplug;
    } ways[] = {
        {"hotplug callbacks", [] {}, true},
        {"a libusb without hotplug", [] { sim::offerHotplug(false); }, false},
        {"hotplug registration refused", [] { sim::failHotplugRegistration(true); }, false},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        if (window)
            closingDown(window, nullptr);
        dropWindow();
        sim::reset();
        way.libusb();
        sim::noDevice();
        EXPECT_FALSE(startUp());
        EXPECT_EQ(linker().hotplug(), way.hotplug);
        EXPECT_EQ(lookingEverySecond(), !way.hotplug);
        for (int i = 0; i < 3; i++)
            notice();
        EXPECT_EQ(logLines(), BANNER + NO_LINKER);
        EXPECT_TRUE(buttonsAre(false));

        sim::plugInNow();
        notice();
        EXPECT_TRUE(logHasInOrder(BANNER + NO_LINKER + GREETED + Lines{"16mbit cart detected."}));
        EXPECT_EQ(findLine(NO_LINKER.back()), int(BANNER.size() + NO_LINKER.size()) - 1) << "said once";
        EXPECT_TRUE(buttonsAre(true));
    }
}

// In the log file, what a linker coming and going says between commands
// is filed under the linker; start-up keeps its own tag.
TEST_F(LinkWatch, TheLogFileFilesALateLinkersLinesUnderLinker)
{
    ScratchStateHome state;
    sim::noDevice();
    EXPECT_FALSE(startUp());
    sim::plugInNow();
    notice();
    sim::unplugNow();
    notice();
    std::vector<std::string> tags;
    for (const LogRecord& r : logFileRecords(state.log()))
        if (r.text == NO_LINKER[0] || r.text == GREETED[1] || r.text == GONE_LINE)
            tags.push_back(r.command + ": " + r.text);
    EXPECT_EQ(tags, (std::vector<std::string>{"Start-up: " + NO_LINKER[0], "Linker: " + GREETED[1],
                                              "Linker: " + GONE_LINE}));
}

// Pulled during a backup: the job ends as it always did, and only then are
// the buttons disabled with one line. Plugged back in, the start-up
// sequence runs on a new handle and a second backup is whole; pulled while
// idle, the same line and nothing sent.
TEST_F(LinkWatch, PulledMidBackupThenPluggedBackIn)
{
    sim::insertCart("flash4");
    ASSERT_TRUE(startUp());
    std::string path = scratchPath("cart.ngp");
    atEvent(3, [] { sim::unplugNow(); });
    runWithFile("backup", path);
    Lines log = logLines();
    EXPECT_TRUE(logHasInOrder(GONE + Lines{GONE_LINE}));
    EXPECT_EQ(log.back(), GONE_LINE);
    EXPECT_EQ(findLine(GONE_LINE), int(log.size()) - 1) << "said once";
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(buttonsAre(false));
    EXPECT_EQ(theLink().handle(), nullptr);

    sim::plugInNow();
    notice();
    int gone = findLine(GONE_LINE);
    EXPECT_EQ(findLine(GREETED[0], gone), gone + 1);
    EXPECT_TRUE(logHasInOrder(Lines{GONE_LINE} + GREETED + Lines{"4mbit cart detected."}));
    EXPECT_TRUE(buttonsAre(true));
    runWithFile("backup", path);
    EXPECT_TRUE(logHasInOrder({"Backup done. Wrote 524288 bytes."}));
    EXPECT_EQ(readFile(path), sim::cartImage());

    clearLog();
    sim::Mark m = sim::mark();
    sim::unplugNow();
    notice();
    EXPECT_EQ(logLines(), Lines{GONE_LINE});
    EXPECT_TRUE(buttonsAre(false));
    EXPECT_TRUE(sim::transfersSince(m).empty()) << "something was sent to a linker that is gone";
}

// Refused firmware stays refused while that linker stays plugged in, even
// if it would now answer differently; unplugged and plugged in, it is
// checked afresh.
TEST_F(LinkWatch, ARefusedLinkerIsLeftAloneUntilUnplugged)
{
    sim::setFirmware(0, 12);
    EXPECT_FALSE(startUp());
    const Lines refused = BANNER + Lines{"Checking for the linker and the cart..\n", "Linker with v0.12 Firmware found",
                                         "Version mismatch!  Expected v0.13. Giving up.."};
    EXPECT_EQ(logLines(), refused);
    sim::setFirmware(0, 13);
    sim::Mark m = sim::mark();
    notice();
    lookAtLinker();
    sim::unplugNow();
    notice();
    EXPECT_EQ(logLines(), refused);
    EXPECT_TRUE(sim::transfersSince(m).empty());
    EXPECT_TRUE(buttonsAre(false));

    sim::plugInNow();
    notice();
    EXPECT_TRUE(logHasInOrder(refused + GREETED));
    EXPECT_TRUE(buttonsAre(true));
}

// A linker just plugged in that fails its configuration or claim is tried
// again when the window's timer says, five times in all, before its error
// is shown; the buttons wait for the outcome.
TEST_F(LinkWatch, ALinkerJustPluggedInIsTriedAgainBeforeItIsRefused)
{
    const struct {
        const char* fault;
        bool hotplug;
        int tries;
        Lines error;  // none: greeted
    } rows[] = {
        {"config@3", true, 4, {}},
        {"claim@1:ACCESS", false, 2, {}},
        {"config:BUSY", true, 5,
         {"Another program is using the linker.",
          "Close it, then plug the linker in again."}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        if (window)
            closingDown(window, nullptr);
        dropWindow();
        sim::reset();
        sim::offerHotplug(row.hotplug);
        sim::noDevice();
        EXPECT_FALSE(startUp());
        ASSERT_TRUE(sim::applyFaults(row.fault));
        sim::plugInNow();
        notice();
        int tries = 1;
        for (; tryingAgainSoon() && tries < 10; tries++) {
            EXPECT_TRUE(buttonsAre(false));
            // The timer's time, then what it does.
            sim::advanceClock(linker().nextTryIn());
            lookAtLinker();
        }
        EXPECT_EQ(tries, row.tries);
        if (row.error.empty()) {
            EXPECT_TRUE(logHasInOrder(BANNER + NO_LINKER + GREETED));
            EXPECT_EQ(findLine(GREETED.front()), int(BANNER.size() + NO_LINKER.size()))
                << "a try that failed said something";
        } else {
            EXPECT_EQ(logLines(), BANNER + NO_LINKER + row.error);
        }
        EXPECT_TRUE(buttonsAre(row.error.empty()));
    }
}

// A click whenever the buttons let it through, as a user's during the
// toolkit's events.
int g_clicks = 0;
void (*g_countHook)() = nullptr;
void clickWhenUsable()
{
    g_countHook();
    if (commandButton("info")->active_r()) {
        g_clicks++;
        clickCommand("info");
    }
}

// A linker replugged with refused firmware, idle or in the middle of a
// job: while it is greeted the toolkit handles events, and no click may
// start a job on it; asked anyway, a job refuses and sends nothing.
TEST_F(LinkWatch, NoJobRunsOnALinkerBeingGreeted)
{
    const struct {
        const char* when;
        bool duringJob;
    } cases[] = {{"idle", false}, {"during a backup", true}};
    const Lines refused = {"Checking for the linker and the cart..\n", "Linker with v0.12 Firmware found",
                           "Version mismatch!  Expected v0.13. Giving up.."};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        if (window)
            closingDown(window, nullptr);
        dropWindow();
        sim::reset();
        sim::insertCart("flash4");
        ASSERT_TRUE(startUp());
        ASSERT_TRUE(buttonsAre(true));
        sim::setFirmware(0, 12);
        g_clicks = 0;
        g_countHook = g_afterEventsHook;
        g_afterEventsHook = clickWhenUsable;
        if (c.duringJob) {
            atEvent(3, [] {
                sim::unplugNow();
                sim::plugInNow();
            });
            runWithFile("backup", scratchPath("cart.ngp"));
        } else {
            clearLog();
            sim::unplugNow();
            sim::plugInNow();
            notice();
        }
        g_afterEventsHook = g_countHook;
        EXPECT_EQ(g_clicks, 0);
        EXPECT_TRUE(logEndsWith(Lines{GONE_LINE} + refused));
        EXPECT_TRUE(buttonsAre(false));

        clearLog();
        sim::Mark m = sim::mark();
        clickCommand("info");
        EXPECT_EQ(logLines(), Lines{"The linker is not ready; nothing done."});
        EXPECT_TRUE(sim::transfersSince(m).empty());
    }
}

// The bus that cannot be listed says nothing of a working linker; one
// plugged in before the window listens is greeted without waiting for news.
TEST_F(LinkWatch, WhatTheBusSaysOnlyWhenItSaysIt)
{
    sim::offerHotplug(false);
    sim::insertCart("flash4");
    ASSERT_TRUE(startUp());
    clearLog();
    sim::failDeviceList(LIBUSB_ERROR_NO_MEM);
    notice();
    notice();
    EXPECT_EQ(logLines(), Lines{});
    EXPECT_TRUE(linker().ready());
    EXPECT_TRUE(buttonsAre(true));
    sim::clearFaults();
    std::string path = scratchPath("cart.ngp");
    runWithFile("backup", path);
    EXPECT_EQ(readFile(path), sim::cartImage());

    for (bool hotplug : {true, false}) {
        SCOPED_TRACE(hotplug ? "hotplug" : "looking every second");
        closeLink();
        sim::reset();
        sim::offerHotplug(hotplug);
        sim::noDevice();
        clearLog();
        linker().open(windowReporter(), greetWithCartCheck);
        sim::plugInNow();
        watchLinker();
        EXPECT_TRUE(logHasInOrder(Lines{NO_LINKER.front()} + GREETED));
        EXPECT_TRUE(linker().ready());
        stopWatchingLinker();
    }
}

}  // namespace
