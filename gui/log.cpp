#include "gui/log.h"

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>

#include <cstdio>
#include <cstring>

#include "gui/events.h"
#include "gui/main_window.h"
#include "gui/one_job.h"
#include "gui/progress.h"

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

void WindowReporter::beginProgress(const char* title, uint64_t totalBytes)
{
    makeProgressWindow(title);
}

void WindowReporter::progress(float fraction)
{
    updateProgressWindow(fraction);
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
