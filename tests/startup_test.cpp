// Start-up as the user sees it: the log of the main window and whether the
// buttons can be pressed, for a good linker and for each way it can fail.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Return_Button.H>

#include <libusb.h>

#include "core/link/linker.h"
#include "gui/log.h"
#include "core/report.h"
#include "sim.h"
#include "support/job_fixture.h"
#include "gui/main_window.h"
#include "gui/progress.h"
#include "gui/why_off.h"

// After the simulator's headers: X11's own define None.
#include <FL/fl_draw.H>
#include <FL/x.H>

using Lines = std::vector<std::string>;

static const Lines BANNER = {"", "-=> PocketTetherbox GUI v1.2 build 1001 <=-", ""};

class StartUp : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::reset();
        if (window) {
            window->hide();
            delete window;
            window = nullptr;
            text_browser = nullptr;
        }
    }
    void TearDown() override
    {
        if (window)
            closingDown(window, nullptr);
    }

    static Lines withBanner(Lines rest)
    {
        Lines all = BANNER;
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    }

    static std::vector<Fl_Widget*> buttons()
    {
        std::vector<Fl_Widget*> b;
        for (int i = 0; i < operations_group->children(); i++)
            if (dynamic_cast<Fl_Button*>(operations_group->child(i)))
                b.push_back(operations_group->child(i));
        return b;
    }
};

TEST_F(StartUp, NoLinkerLeavesEveryButtonDisabled)
{
    sim::noDevice();
    EXPECT_FALSE(startUp());
    EXPECT_EQ(logLines(), withBanner({"No USB Tetherbox device found!!", "Waiting for the linker: plug it in."}));
    auto b = buttons();
    ASSERT_EQ(b.size(), 11u);
    // Saves alone: its copies and backups need no linker but to be written.
    for (auto* w : b)
        EXPECT_EQ(bool(w->active_r()), w == saves_button) << w->label();
    EXPECT_TRUE(window->shown());

    // Closing sends nothing to a device that was never opened.
    auto m = sim::mark();
    closingDown(window, nullptr);
    EXPECT_TRUE(sim::transfersSince(m).empty());
    EXPECT_EQ(theLink().handle(), nullptr);
    EXPECT_EQ(linker().context(), nullptr) << "the library context is exited";
    EXPECT_FALSE(window->shown());
}

TEST_F(StartUp, OnlyFirmwareV013IsAccepted)
{
    for (auto [major, minor] : {std::pair{0, 12}, std::pair{1, 13}}) {
        sim::reset();
        sim::setFirmware(major, minor);
        if (window) {
            closingDown(window, nullptr);
            delete window;
            window = nullptr;
        }
        EXPECT_FALSE(startUp());
        char found[64];
        snprintf(found, sizeof found, "Linker with v%d.%02d Firmware found", major, minor);
        EXPECT_EQ(logLines(), withBanner({"Checking for the linker and the cart..\n", found,
                                          "Version mismatch!  Expected v0.13. Giving up.."}));
        for (auto* w : buttons())
            EXPECT_EQ(bool(w->active_r()), w == saves_button) << w->label();
    }
}

TEST_F(StartUp, ANonZeroVersionReplyCodeReadsAsV000)
{
    sim::wrongCodeOnTransfer(2, 0x10);
    EXPECT_FALSE(startUp());
    EXPECT_TRUE(logHasInOrder({"Linker with v0.00 Firmware found",
                               "Version mismatch!  Expected v0.13. Giving up.."}));
}

TEST_F(StartUp, ConfigurationAndInterfaceErrorsStopTheOpening)
{
    sim::failSetConfiguration(LIBUSB_ERROR_BUSY);
    EXPECT_FALSE(startUp());
    // Busy: another program holds the linker's interface.
    EXPECT_EQ(logLines(), withBanner({"Another program is using the linker.",
                                      "Close it, then plug the linker in again."}));
    closingDown(window, nullptr);
    delete window;
    window = nullptr;

    sim::reset();
    sim::failClaimInterface(LIBUSB_ERROR_ACCESS);
    EXPECT_FALSE(startUp());
    EXPECT_EQ(logLines(), withBanner({"libusb_claim_interface error -3"}));
    for (auto* w : buttons())
        EXPECT_EQ(bool(w->active_r()), w == saves_button) << w->label();
}

TEST_F(StartUp, AVersionExchangeThatTimesOutIsAMajorError)
{
    sim::timeoutOnTransfer(2);
    EXPECT_FALSE(startUp());
    EXPECT_EQ(logLines(), withBanner({"Checking for the linker and the cart..\n", "",
                                      "Error: LIBUSB_ERROR_TIMEOUT", "Operation timed out.",
                                      "Major error.. better to restart"}));
}

TEST_F(StartUp, AGoodLinkerEnablesTheButtonsAndShowsTheCartridge)
{
    EXPECT_TRUE(startUp());
    for (auto* w : buttons())
        EXPECT_TRUE(w->active_r()) << w->label();
    auto lines = logLines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[4], "Linker with v0.13 Firmware found");
    EXPECT_TRUE(logHasInOrder({"Linker with v0.13 Firmware found", "Chip #0 info:",
                               "  ManufID  = 0x98", "16mbit cart detected."}));

    // Closing lets the linker go: LED setting 2, then the handle and context.
    closingDown(window, nullptr);
    EXPECT_EQ(sim::ledSetting(), 2);
    EXPECT_EQ(theLink().handle(), nullptr);
    EXPECT_EQ(linker().context(), nullptr);
}

TEST_F(StartUp, TheWindowIsLaidOutForTheUser)
{
    sim::noDevice();
    startUp();
    EXPECT_STREQ(window->label(), "PocketTetherbox");
    EXPECT_EQ(window->w(), 430);
    EXPECT_EQ(window->h(), 429);
    EXPECT_EQ(text_browser->x(), 8);
    EXPECT_EQ(text_browser->y(), 7);
    EXPECT_EQ(text_browser->w(), 287);
    EXPECT_EQ(text_browser->h(), 414);
    EXPECT_EQ(text_browser->textfont(), FL_COURIER);
    EXPECT_EQ(text_browser->textsize(), 10);

    // Tab order is the order in the group, backdrop first.
    const char* order[] = {"Flash ROM(s)", "Backup ROM", "Cart Info", "Backup Savegame",
                           "Verify ROM", "Write Savegame", "Protected Blocks", "Read Byte",
                           "Write Byte", "Saves", "Preferences"};
    auto b = buttons();
    ASSERT_EQ(b.size(), 11u);
    for (int i = 0; i < 11; i++) {
        EXPECT_STREQ(b[i]->label(), order[i]);
        EXPECT_EQ(b[i]->x(), 309);
        EXPECT_EQ(b[i]->w(), 108);
        EXPECT_EQ(b[i]->h(), 20);
        // 12 points where the label fits its button at that size.
        fl_font(b[i]->labelfont(), 12);
        EXPECT_EQ(b[i]->labelsize(), fl_width(order[i]) <= b[i]->w() - 3 ? 12 : 11) << order[i];
        fl_font(b[i]->labelfont(), b[i]->labelsize());
        EXPECT_LE(fl_width(order[i]), b[i]->w() - 3) << order[i];
        EXPECT_EQ(b[i]->labeltype(), FL_EMBOSSED_LABEL);
        EXPECT_NE(b[i]->tooltip(), nullptr);
    }
    EXPECT_NE(dynamic_cast<Fl_Return_Button*>(b[0]), nullptr);
    EXPECT_EQ(b[9]->y(), 211);
    EXPECT_EQ(b[10]->y(), 395);
    EXPECT_STREQ(whyOff(b[0]), "Plug in the linker") << "said over a greyed-out button";

    // Taller: the log grows, the buttons stay where they were.
    window->resize(window->x(), window->y(), 430, 629);
    EXPECT_EQ(text_browser->y(), 7);
    EXPECT_GE(text_browser->h(), 600);
    EXPECT_EQ(b[10]->y(), 395);
    EXPECT_EQ(b[10]->h(), 20);
    Fl_Widget* backdrop = operations_group->child(0);
    EXPECT_EQ(backdrop->y() + backdrop->h(), text_browser->y() + text_browser->h()) << "the grey column";
}

// Widened through the X server, as a window manager would: the log takes
// the width, the buttons keep their size and order beside it. A new line is
// shown from its start, wherever the user had scrolled the log.
TEST_F(StartUp, AWiderWindowGivesTheLogTheRoom)
{
    sim::noDevice();
    startUp();
    Fl::check();
    XResizeWindow(fl_display, fl_xid(window), 830, 429);
    XSync(fl_display, False);
    for (int i = 0; i < 200 && window->w() != 830; i++)
        Fl::wait(0.01);
    ASSERT_EQ(window->w(), 830) << "the width is not fixed";
    EXPECT_EQ(text_browser->x(), 8);
    EXPECT_EQ(text_browser->w(), 287 + 400);
    auto b = buttons();
    for (int i = 0; i < 11; i++) {
        EXPECT_EQ(b[i]->x(), 309 + 400) << b[i]->label();
        EXPECT_EQ(b[i]->w(), 108);
    }
    EXPECT_EQ(b[10]->y(), 395);

    printWindow(windowReporter(), "%s", std::string(400, '#').c_str());
    text_browser->hposition(300);
    ASSERT_GT(text_browser->hposition(), 0);
    printWindow(windowReporter(), "Flashing done.");
    EXPECT_EQ(text_browser->hposition(), 0);
}

TEST_F(StartUp, ClosingAWindowOnlyHidesItUnlessItIsTheMainWindow)
{
    ASSERT_TRUE(startUp());
    makeProgressWindow("Backing up a ROM");
    Fl_Double_Window* progress = progress_window;
    closingDown(progress, nullptr);
    EXPECT_EQ(progress_window, progress) << "the job destroys it, not the close";
    EXPECT_FALSE(progress_window->shown());

    Fl_Double_Window other(100, 100, "other");
    other.show();
    closingDown(&other, nullptr);
    EXPECT_FALSE(other.shown());
    EXPECT_TRUE(window->shown());

    // Closing the main window takes a leftover progress window with it and
    // lets the linker go.
    makeProgressWindow("Writing Cartridge");
    auto m = sim::mark();
    closingDown(window, nullptr);
    EXPECT_EQ(progress_window, nullptr);
    EXPECT_FALSE(window->shown());
    EXPECT_EQ(sim::ledSetting(), 2);
    EXPECT_FALSE(sim::transfersSince(m).empty());
}

TEST_F(StartUp, EnterStartsFlashingAndEscapeClosesWithTheFullShutDown)
{
    ASSERT_TRUE(startUp());
    answerNoFile();
    Fl::e_state = 0;
    Fl::e_keysym = FL_Enter;
    Fl::e_text = (char*)"\r";
    Fl::e_length = 1;
    Fl::handle(FL_KEYBOARD, window);
    EXPECT_EQ(lastFileRequest().title, "Load a ROM");
    EXPECT_EQ(logLines().back(), "No file selected.");

    Fl::e_keysym = FL_Escape;
    Fl::e_text = (char*)"\033";
    Fl::handle(FL_KEYBOARD, window);
    EXPECT_FALSE(window->shown());
    EXPECT_EQ(sim::ledSetting(), 2);
    EXPECT_EQ(theLink().handle(), nullptr);
    Fl::e_text = nullptr;
    Fl::e_length = 0;
}
