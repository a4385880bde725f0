#include "cli/terminal_reporter.h"

#include <csignal>
#include <cstring>
#include <ostream>

#include "cli/interrupt.h"

// A terminal redrawn more often than this only flickers.
static const double REDRAW_INTERVAL_S = 0.1;
static const char* const CLEAR_TO_END = "\033[K";

TerminalReporter::TerminalReporter(std::ostream& lines, std::ostream& bar, int barColumns,
                                   double (*wallClock)())
    : lines_(lines), bar_(bar), columns_(barColumns), wallClock_(wallClock)
{
}

void TerminalReporter::line(const char* text)
{
    // Lines and bar may share one terminal: the bar steps aside for the line
    // and comes back under it at its next turn.
    clear();
    // A few of the log's lines end in a line break of their own; the window
    // shows them as one line, and so do we.
    size_t length = strlen(text);
    lines_.write(text, std::streamsize(length));
    if (length == 0 || text[length - 1] != '\n')
        lines_ << '\n';
    lines_.flush();
}

void TerminalReporter::beginProgress(const char* title, uint64_t totalBytes)
{
    clear();
    title_ = title;
    rate_.start(totalBytes);
    fraction_ = 0.0f;
    open_ = true;
}

void TerminalReporter::progress(float fraction)
{
    fraction_ = fraction;
    if (!open_ || columns_ <= 0)
        return;
    double now = wallClock_();
    if (drawnOnce_ && now - lastDraw_ < REDRAW_INTERVAL_S)
        return;
    drawnOnce_ = true;
    lastDraw_ = now;
    draw();
}

bool TerminalReporter::goingOn()
{
    noticeInterrupt();
    return !interrupted();
}

void TerminalReporter::endProgress()
{
    clear();
    open_ = false;
}

void TerminalReporter::breathe()
{
    if (afterBreath)
        afterBreath();
    // Some stretches never ask whether to go on (an erase is not stopped
    // half-way): the user still hears the Ctrl-C was taken.
    noticeInterrupt();
}

void TerminalReporter::noticeInterrupt()
{
    if (!takeInterruptNotice())
        return;
    clear();
    int sig = interruptSignal();
    std::string text = std::string("Cancelling (") +
                       (sig == SIGINT ? "Ctrl-C" : sig == SIGTERM ? "SIGTERM" : sig == SIGHUP ? "SIGHUP" : "a signal") +
                       "). Another signal a second or more from now quits at once, without cleaning up.";
    bar_ << text << std::endl;
    // Whoever reads the log file later learns why the job stopped.
    logToFileOnly(*this, text.c_str());
}

void TerminalReporter::draw()
{
    if (!open_ || columns_ <= 0)
        return;
    std::string text = title_ + "  " + rate_.text(fraction_);
    // A line longer than the terminal would wrap, and the carriage return
    // would then redraw only its last part.
    if (text.size() >= size_t(columns_))
        text.resize(size_t(columns_ - 1));
    bar_ << '\r' << text << CLEAR_TO_END << std::flush;
    shown_ = true;
}

void TerminalReporter::clear()
{
    if (!shown_)
        return;
    bar_ << '\r' << CLEAR_TO_END << std::flush;
    shown_ = false;
}
