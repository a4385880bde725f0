// The window's side of the log and of a job's progress: lines go into the
// main window's log, the bar into the modal progress window, and breathing
// lets the toolkit handle pending events (where a Cancel is seen).
#pragma once

#include <string>

#include "core/progress_rate.h"
#include "core/report.h"

class Fl_Browser;

// The log itself, made with the main window.
extern Fl_Browser* text_browser;

constexpr int LOG_MAX_LINES = 2000;
// The most lines of notes a job leaves in the window's log.
constexpr int WINDOW_NOTE_LINES = 3;

class WindowReporter : public Reporter {
public:
    void line(const char* text) override;
    void beginProgress(const char* title, uint64_t totalBytes) override;
    void progress(float fraction) override;
    bool goingOn() override;
    void endProgress() override;
    void breathe() override;
    void beginTimedProgress(const char* title, double typicalSeconds) override;
    void stage(const std::string& text) override;
    void holdCancel(bool held) override;
    void notes(const std::vector<std::string>& full, const std::vector<std::string>& brief) override;
    // A cancel held until the erase under way ends: the window says so.
    void sayStopping();

private:
    void start(const char* title);
    ProgressRate rate_;
    std::string stage_;
    bool barShown_ = false, textShown_ = false;
    double barAt_ = 0.0, textAt_ = 0.0;  // on g_progressTextClock
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
