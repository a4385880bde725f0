// The log is bounded and never overrun, whatever the jobs throw at it.
#include <gtest/gtest.h>

#include <FL/Fl_Browser.H>

#include <string>

#include "support/job_fixture.h"
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
        printWindow("line %d", i);
    auto lines = logLines();
    ASSERT_EQ(lines.size(), 2000u);
    EXPECT_EQ(lines.front(), "line 501");
    EXPECT_EQ(lines.back(), "line 2500");
}

TEST_F(Log, ALineBreakInsideStaysOneEntry)
{
    printWindow("Error: LIBUSB_ERROR_OTHER\nOther error.");
    printWindow("Checking for the linker and the cart..\n");
    auto lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Error: LIBUSB_ERROR_OTHER\nOther error.");
}

TEST_F(Log, AnOverlongLineIsCutAtTheBuffer)
{
    std::string name(3000, 'x');
    printWindow("Failed to open '%s'", name.c_str());
    auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 1023u);
    EXPECT_EQ(lines[0].substr(0, 14), "Failed to open");
}

TEST_F(Log, TextThatLooksLikeBrowserFormattingIsShownAsIs)
{
    printWindow("ROM name: '%s'", "@b@c");
    printWindow("%s", "@bold");
    auto lines = logLines();
    EXPECT_EQ(lines[0], "ROM name: '@b@c'");
    // A leading '@' is escaped so the browser shows it, not obeys it.
    EXPECT_EQ(lines[1], "@.@bold");
}
