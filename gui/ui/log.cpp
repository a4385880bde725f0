#include "ui/log.h"

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ui/main_window.h"

void printWindow(const char* format, ...)
{
    char line[LOG_LINE_BYTES];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);

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
        memcpy(shown + 2, line, sizeof line);
        text_browser->add(shown);
    } else {
        text_browser->add(line);
    }
    text_browser->lineposition(text_browser->size(), Fl_Browser::BOTTOM);
    Fl::unlock();
}
