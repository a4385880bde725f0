// The log is bounded and never overrun, whatever the jobs throw at it.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Widget.H>

#include <string>

#include "sim.h"
#include "support/command_buttons.h"
#include "support/job_fixture.h"
#include "support/log_file_records.h"
#include "gui/log.h"
#include "gui/main_window.h"

class Log : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!window)
            buildMainWindow();
        clearLog();
    }
};

TEST_F(Log, KeepsTheNewest2000Lines)
{
    for (int i = 1; i <= 2500; i++)
        printWindow(windowReporter(), "line %d", i);
    auto lines = logLines();
    ASSERT_EQ(lines.size(), 2000u);
    EXPECT_EQ(lines.front(), "line 501");
    EXPECT_EQ(lines.back(), "line 2500");
}

TEST_F(Log, ALineBreakInsideStaysOneEntry)
{
    printWindow(windowReporter(), "Error: LIBUSB_ERROR_OTHER\nOther error.");
    printWindow(windowReporter(), "Checking for the linker and the cart..\n");
    auto lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Error: LIBUSB_ERROR_OTHER\nOther error.");
}

TEST_F(Log, AnOverlongLineIsCutAtTheBuffer)
{
    std::string name(3000, 'x');
    printWindow(windowReporter(), "Failed to open '%s'", name.c_str());
    auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 1023u);
    EXPECT_EQ(lines[0].substr(0, 14), "Failed to open");
}

TEST_F(Log, TextThatLooksLikeBrowserFormattingIsShownAsIs)
{
    printWindow(windowReporter(), "ROM name: '%s'", "@b@c");
    printWindow(windowReporter(), "%s", "@bold");
    auto lines = logLines();
    EXPECT_EQ(lines[0], "ROM name: '@b@c'");
    // A leading '@' is escaped so the browser shows it, not obeys it.
    EXPECT_EQ(lines[1], "@.@bold");
}

// Reads the clipboard back the way a paste into another program would.
class PasteTarget : public Fl_Widget {
public:
    std::string pasted;
    PasteTarget() : Fl_Widget(0, 0, 1, 1) {}
    void draw() override {}
    int handle(int event) override
    {
        if (event != FL_PASTE)
            return 0;
        pasted.assign(Fl::event_text(), Fl::event_length());
        return 1;
    }
};

static std::string clipboard()
{
    PasteTarget target;
    Fl::paste(target, 1);
    return target.pasted;
}

static void pressKey(int key, int state)
{
    Fl::e_keysym = key;
    Fl::e_state = state;
    Fl::e_text = const_cast<char*>("");
    Fl::e_length = 0;
    Fl::handle(FL_KEYBOARD, window);
}

TEST_F(Log, CtrlCCopiesTheWholeLogAsTheUserReadsIt)
{
    window->show();
    printWindow(windowReporter(), "%s", "");
    printWindow(windowReporter(), "-=> PocketTetherbox GUI v%d.%d build %d <=-", 1, 2, 1001);
    printWindow(windowReporter(), "%s", "@bold");
    printWindow(windowReporter(), "Error: LIBUSB_ERROR_OTHER\nOther error.");
    Fl::copy("before", 6, 1);

    pressKey('c', 0);
    pressKey('c', FL_CTRL | FL_ALT);
    EXPECT_EQ(clipboard(), "before") << "only Ctrl+C copies";

    pressKey('c', FL_CTRL);
    EXPECT_EQ(clipboard(), "\n-=> PocketTetherbox GUI v1.2 build 1001 <=-\n@bold\n"
                           "Error: LIBUSB_ERROR_OTHER\nOther error.\n");
    window->hide();
}

// What the window shows is what the file keeps, under the button's name.
TEST_F(JobTest, TheWindowsLinesGoToTheLogFileUnderTheButtonsLabel)
{
    ScratchStateHome state;
    sim::insertCart("flash4");
    commandButton("info")->do_callback();
    ASSERT_FALSE(logLines().empty());
    std::vector<LogRecord> want;
    for (const auto& line : logLines())
        want.push_back({"Cart Info", line});
    EXPECT_EQ(logFileRecords(state.log()), want);
}
