// The main window's log. Each line is shown whole within the log's width:
// a path too long for it keeps its file name and as much of its folder as
// fits, elided in the middle, and a line still too wide goes on over more
// rows. The line itself stays as it was said (Ctrl+C, the log file).
#pragma once

#include <FL/Fl_Browser.H>

#include <string>
#include <vector>

class LogBrowser : public Fl_Browser {
public:
    LogBrowser(int x, int y, int w, int h);
    void resize(int x, int y, int w, int h) override;

protected:
    void item_draw(void* item, int X, int Y, int W, int H) const override;
    int item_width(void* item) const override;
    int item_height(void* item) const override;

private:
    std::vector<std::string> rows(void* item) const;
};

// `line` as the log of `width` pixels for its text shows it in the current
// font: one row when it fits, the path of its first quoted path ('/...')
// shortened from the middle of its folder if that makes it fit; otherwise
// broken between words over rows, the path on a row of its own if need be.
std::vector<std::string> logRows(const std::string& line, int width);

// The pixels of text a log of the given width shows on a row, once its box,
// its scroll bar and its margin are taken off.
int logTextWidth(const Fl_Browser* log, int width);
