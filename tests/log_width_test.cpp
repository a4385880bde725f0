// Every line the program logs, as the window's log shows it when it opens:
// measured in the log's own font, nothing runs off its right edge, a path
// keeps its file name, and the line itself stays whole.
#include <gtest/gtest.h>

#include <FL/Fl_Browser.H>
#include <FL/fl_draw.H>

#include <cstdio>

#include "core/identity/identity.h"
#include "core/identity/known_dumps.h"
#include "gui/log.h"
#include "gui/log_browser.h"
#include "gui/main_window.h"
#include "support/job_fixture.h"

namespace {

const std::string FOLDER = "/home/someone/Games/Neo Geo Pocket/saves/SIM_OFFICIAL-1234";
const std::string NAME = "2026-12-07 224500 safety copy.ngf";

// Each line every log call of the core can make, numbers at their widths.
std::vector<std::string> loggedLines()
{
    std::vector<std::string> lines;
    FILE* in = popen("python3 " PTB_SOURCE_DIR "/tests/core/window_lines.py --shown " PTB_SOURCE_DIR "/core", "r");
    char line[2048];
    while (in && fgets(line, sizeof line, in)) {
        std::string l(line, strcspn(line, "\n"));
        for (size_t at; (at = l.find("'%s'")) != std::string::npos;)
            l.replace(at, 4, "'" + FOLDER + "/" + NAME + "'");
        lines.push_back(l);
    }
    if (in)
        pclose(in);
    return lines;
}

TEST(LogWidth, EveryLineShowsWholeInTheOpeningLog)
{
    if (!window)
        buildMainWindow();
    clearLog();
    fl_font(text_browser->textfont(), text_browser->textsize());
    const int width = logTextWidth(text_browser, 287);
    std::vector<std::string> lines = loggedLines();
    ASSERT_GT(lines.size(), 100u);
    KnownDumps none;
    none.dir = FOLDER + "/" + NAME;
    std::vector<std::string> hint = verdictLines(none, Verdict());
    lines.insert(lines.end(), hint.begin(), hint.end());
    lines.push_back("Verify after writing: all 4194304 bytes match.");
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        std::vector<std::string> rows = logRows(line, width);
        bool named = line.find(NAME) == std::string::npos;
        for (const std::string& row : rows) {
            EXPECT_LE(fl_width(row.c_str()), width) << row;
            named = named || row.find(NAME) != std::string::npos;
        }
        EXPECT_TRUE(named) << "the file name, whole on one row";
        // 46 columns of the log's font fit on one row.
        EXPECT_TRUE(line.size() > 46 || rows.size() == 1);
        const bool pathOnly = line.find("'/") != std::string::npos && line.size() - FOLDER.size() <= 46;
        EXPECT_TRUE(!pathOnly || rows.size() == 1) << "the folder is shortened rather than the line broken";
    }

    // The log itself keeps the whole path (Ctrl+C copies it); the hint on
    // where lists go is said once.
    windowReporter().notes(hint, hint);
    windowReporter().notes(hint, hint);
    EXPECT_EQ(logText(), hint.back() + "\n");
}

}  // namespace
