// The window's side of the log and of a job's progress: lines go into the
// main window's log, the bar into the modal progress window, and breathing
// lets the toolkit handle pending events (where a Cancel is seen).
#pragma once

#include <string>

#include "core/report.h"

constexpr int LOG_MAX_LINES = 2000;

class WindowReporter : public Reporter {
public:
    void line(const char* text) override;
    void beginProgress(const char* title, uint64_t totalBytes) override;
    void progress(float fraction) override;
    bool goingOn() override;
    void endProgress() override;
    void breathe() override;
};

// The one the window's commands hand their jobs; also the default sink once
// the main window is built.
WindowReporter& windowReporter();

// The whole log as the user reads it, one entry per line.
std::string logText();
// Ctrl+C in the main window: the log itself cannot be selected, and people
// who ask for help need to send what the tool said.
void copyLogToClipboard();

// Appends one line to the main window's log (to standard error before the
// window exists).
void appendToLog(const char* line);
