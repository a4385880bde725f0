#include "gui/log_browser.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <string_view>

static const char ELLIPSIS[] = "\xE2\x80\xA6";  // U+2026
// The log is 287 pixels wide and its lines are up to 46 columns of Courier
// 10 (276 pixels): the browser's own margins (3 pixels a side) and scroll
// bars (16) would leave 43. Slim bars and a 1-pixel margin leave all 46.
static const int TEXT_MARGIN = 1, SCROLLBAR = 8;

int logTextWidth(const Fl_Browser* log, int width)
{
    const int scrollbar = log->scrollbar_size() ? log->scrollbar_size() : Fl::scrollbar_size();
    return width - 2 * Fl::box_dx(log->box()) - scrollbar - TEXT_MARGIN;
}

static bool fits(const std::string& text, int width)
{
    return fl_width(text.c_str()) <= width;
}

// Where the path lies: from a quote followed by '/' to the next quote.
static bool findPath(const std::string& line, size_t* start, size_t* nameAt, size_t* end)
{
    size_t open = line.find("'/");
    if (open == std::string::npos)
        return false;
    *start = open + 1;
    *end = line.find('\'', *start);
    if (*end == std::string::npos)
        return false;
    *nameAt = line.rfind('/', *end) + 1;
    return true;
}

// A cut inside `text` that does not split a UTF-8 character.
static size_t wholeChar(const std::string& text, size_t at)
{
    while (at > 0 && at < text.size() && (text[at] & 0xC0) == 0x80)
        at--;
    return at;
}

// `line` with the folder of its path shortened from the middle until the
// whole fits in `width`, down to the ellipsis alone before the file name.
static std::string elidePath(const std::string& line, int width)
{
    size_t start, nameAt, end;
    if (fits(line, width) || !findPath(line, &start, &nameAt, &end))
        return line;
    const std::string before = line.substr(0, start), folder = line.substr(start, nameAt - start),
                      after = line.substr(nameAt);
    auto shortened = [&](size_t kept) {
        size_t head = wholeChar(folder, (kept + 1) / 2), tail = folder.size() - wholeChar(folder, folder.size() - kept / 2);
        return before + folder.substr(0, head) + ELLIPSIS + folder.substr(folder.size() - tail) + after;
    };
    // The most of the folder that fits; the fewer kept, the narrower.
    size_t low = 0, high = folder.size() - 1;
    while (low < high) {
        size_t mid = (low + high + 1) / 2;
        if (fits(shortened(mid), width))
            low = mid;
        else
            high = mid - 1;
    }
    return shortened(low);
}

// The words of `line`, its quoted path (spaces and all) counted as one.
static std::vector<std::string> words(const std::string& line)
{
    size_t start = 0, nameAt = 0, end = 0;
    const bool path = findPath(line, &start, &nameAt, &end);
    std::vector<std::string> out;
    std::string word;
    for (size_t i = 0; i < line.size(); i++) {
        if (line[i] == ' ' && !(path && i >= start && i < end)) {
            out.push_back(word);
            word.clear();
        } else {
            word += line[i];
        }
    }
    out.push_back(word);
    return out;
}

std::vector<std::string> logRows(const std::string& line, int width)
{
    std::string whole = elidePath(line, width);
    if (fits(whole, width))
        return {whole};
    std::vector<std::string> rows;
    std::string row;
    for (std::string word : words(line)) {
        std::string longer = row.empty() ? word : row + " " + word;
        if (fits(longer, width)) {
            row = longer;
            continue;
        }
        if (!row.empty())
            rows.push_back(row);
        row = elidePath(word, width);
        // A word wider than the log (a long number, a file name): cut it.
        while (!fits(row, width)) {
            size_t cut = row.size() - 1;
            while (cut > 1 && !fits(row.substr(0, wholeChar(row, cut)), width))
                cut--;
            cut = wholeChar(row, cut);
            rows.push_back(row.substr(0, cut));
            row = row.substr(cut);
        }
    }
    rows.push_back(row);
    return rows;
}

LogBrowser::LogBrowser(int x, int y, int w, int h) : Fl_Browser(x, y, w, h)
{
    // Rows are measured as lines arrive, before the window is first shown.
    fl_open_display();
    scrollbar_size(SCROLLBAR);
}

std::vector<std::string> LogBrowser::rows(void* item) const
{
    fl_font(textfont(), textsize());
    return logRows(item_text(item), logTextWidth(this, w()));
}

// Formatting codes ('@') are the browser's own business.
static bool formatted(const char* text)
{
    return !text || text[0] == '@';
}

int LogBrowser::rowCount(void* item) const
{
    const char* text = item_text(item);
    const size_t hash = std::hash<std::string_view>()(text);
    const int width = w();
    // Lines dropped from the top leave their counts behind.
    if (counted_.size() > 2 * size_t(size()) + 64)
        counted_.clear();
    Counted& c = counted_[item];
    if (c.text != hash || c.width != width || c.rows == 0)
        c = {hash, width, int(rows(item).size())};
    return c.rows;
}

int LogBrowser::item_height(void* item) const
{
    const int one = Fl_Browser::item_height(item);
    return formatted(item_text(item)) ? one : one * rowCount(item);
}

int LogBrowser::item_width(void* item) const
{
    if (formatted(item_text(item)))
        return Fl_Browser::item_width(item);
    int widest = 0;
    for (const std::string& row : rows(item))
        widest = std::max(widest, int(fl_width(row.c_str())));
    return widest + TEXT_MARGIN;
}

void LogBrowser::item_draw(void* item, int X, int Y, int W, int H) const
{
    if (formatted(item_text(item))) {
        Fl_Browser::item_draw(item, X, Y, W, H);
        return;
    }
    std::vector<std::string> shown = rows(item);
    const int rowH = H / int(shown.size());
    fl_color(active_r() ? textcolor() : fl_inactive(textcolor()));
    for (size_t i = 0; i < shown.size(); i++)
        fl_draw(shown[i].c_str(), X + TEXT_MARGIN, Y + int(i) * rowH, W - TEXT_MARGIN, rowH, FL_ALIGN_LEFT, nullptr, 0);
}

void LogBrowser::resize(int x, int y, int w, int h)
{
    const bool wider = w != this->w();
    Fl_Browser::resize(x, y, w, h);
    if (!wider || size() == 0)
        return;
    // Rows depend on the width, and the browser keeps the heights it was
    // given: the lines are laid out again, the same one left at the top.
    const int top = topline();
    const bool atEnd = displayed(size());
    std::vector<std::string> lines;
    for (int i = 1; i <= size(); i++)
        lines.push_back(text(i));
    clear();
    for (const std::string& l : lines)
        add(l.c_str());
    if (atEnd)
        bottomline(size());
    else
        topline(top);
}
