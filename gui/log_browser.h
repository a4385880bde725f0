// The main window's log. Each line is shown whole within the log's width:
// a path too long for it keeps its file name and as much of its folder as
// fits, elided in the middle, and a line still too wide goes on over more
// rows. The line itself stays as it was said (Ctrl+C, the log file).
#pragma once

#include <FL/Fl_Browser.H>

#include <string>
#include <unordered_map>
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
    int rowCount(void* item) const;
    // The browser asks every line's height each time a line is added (to
    // scroll to the end): the rows a line takes, by line, for the width and
    // text they were counted at.
    struct Counted {
        size_t text;
        int width, rows;
    };
    mutable std::unordered_map<const void*, Counted> counted_;
};

// `line` as the log of `width` pixels for its text shows it in the current
// font: one row when it fits, the path of its first quoted path ('/...')
// shortened from the middle of its folder if that makes it fit; otherwise
// broken between words over rows, the path on a row of its own if need be.
std::vector<std::string> logRows(const std::string& line, int width);

// The pixels of text a log of the given width shows on a row, once its box,
// its scroll bar and its margin are taken off.
int logTextWidth(const Fl_Browser* log, int width);
