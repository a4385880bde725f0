#include "gui/log.h"

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>

#include <cstdio>
#include <cstring>

#include "core/identity/identity.h"
#include "gui/events.h"
#include "gui/one_job.h"
#include "gui/progress.h"

Fl_Browser* text_browser = nullptr;

void appendToLog(const char* line)
{
    if (!text_browser) {
        // Before the window exists there is nobody to tell but the terminal.
        fprintf(stderr, "%s\n", line);
        return;
    }
    Fl::lock();
    if (text_browser->size() > LOG_MAX_LINES - 1)
        text_browser->remove(1);
    // A leading '@' would be read by the browser as a formatting code (a ROM
    // name can start with anything): "@." shows the rest of the line as is.
    if (line[0] == '@') {
        char shown[LOG_LINE_BYTES + 2] = "@.";
        strncpy(shown + 2, line, LOG_LINE_BYTES - 1);
        shown[sizeof shown - 1] = '\0';
        text_browser->add(shown);
    } else {
        text_browser->add(line);
    }
    text_browser->lineposition(text_browser->size(), Fl_Browser::BOTTOM);
    // A line must be read from its start, wherever the user had scrolled.
    text_browser->hposition(0);
    Fl::unlock();
}

std::string logText()
{
    std::string text;
    for (int i = 1; text_browser && i <= text_browser->size(); i++) {
        const char* entry = text_browser->text(i);
        // Undo the escape appendToLog puts before a leading '@'.
        if (entry[0] == '@' && entry[1] == '.')
            entry += 2;
        text += entry;
        text += '\n';
    }
    return text;
}

void copyLogToClipboard()
{
    std::string text = logText();
    Fl::copy(text.c_str(), int(text.size()), 1);
}

void WindowReporter::line(const char* text)
{
    appendToLog(text);
}

// Redrawing the bar for every chunk would cost more than it tells: it moves
// at most 25 times a second, smooth to the eye, and its words change at most
// ten times, slow enough to read.
static const double BAR_INTERVAL_S = 0.04;
static const double TEXT_INTERVAL_S = 0.1;

void WindowReporter::start(const char* title)
{
    makeProgressWindow(title);
    barShown_ = textShown_ = false;
    stage_.clear();
}

void WindowReporter::beginProgress(const char* title, uint64_t totalBytes)
{
    start(title);
    rate_.start(totalBytes);
}

void WindowReporter::beginTimedProgress(const char* title, double typicalSeconds)
{
    start(title);
    rate_.startTimed(typicalSeconds);
}

void WindowReporter::stage(const std::string& text)
{
    stage_ = text;
    setProgressStage(text.c_str());
}

void WindowReporter::holdCancel(bool held)
{
    holdProgressOnCancel(held, [this] { sayStopping(); });
}

// Where known-dump lists go is news once; said after every job it crowds
// out what the job itself has to say.
static bool alreadyInLog(const std::string& text)
{
    for (int i = text_browser ? text_browser->size() : 0; i >= 1; i--)
        if (text == text_browser->text(i))
            return true;
    return false;
}

void WindowReporter::notes(const std::vector<std::string>& full, const std::vector<std::string>& brief)
{
    size_t shown = 0;
    for (const std::string& note : brief)
        if (shown < size_t(WINDOW_NOTE_LINES) && !(isListsHint(note) && alreadyInLog(note)))
            line(note.c_str()), shown++;
}

void WindowReporter::progress(float fraction)
{
    double now = g_progressTextClock();
    if (barShown_ && now - barAt_ < BAR_INTERVAL_S)
        return;
    updateProgressWindow(fraction);
    barShown_ = true;
    barAt_ = now;
    if (textShown_ && now - textAt_ < TEXT_INTERVAL_S)
        return;
    setProgressText(rate_.text(fraction).c_str());
    if (progressStopAsked())
        sayStopping();
    textShown_ = true;
    textAt_ = now;
}

void WindowReporter::sayStopping()
{
    // The first line still says what the job works on.
    std::string heading = stage_.substr(0, stage_.find('\n'));
    std::string stopping =
        "Stopping once the erase ends (about " + std::to_string(rate_.secondsLeft()) + " s)";
    setProgressStage((heading.empty() || heading == stage_ ? stopping : heading + "\n" + stopping).c_str());
}

bool WindowReporter::goingOn()
{
    return progressShown() && !closeRequested();
}


void WindowReporter::endProgress()
{
    closeProgressWindow();
}

void WindowReporter::breathe()
{
    letEventsThrough();
}

WindowReporter& windowReporter()
{
    static WindowReporter r;
    return r;
}
