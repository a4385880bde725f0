// The command line's side of a job: its log lines go to one stream exactly as
// the window's log would show them, its bar to another as one line redrawn in
// place (only on a terminal), and Ctrl-C answers "go on?" with no.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "core/progress_rate.h"
#include "core/report.h"

class TerminalReporter : public Reporter {
public:
    // `barColumns` is the terminal's width, 0 for no bar at all; `wallClock`
    // paces the redraws, whatever clock the link runs on.
    TerminalReporter(std::ostream& lines, std::ostream& bar, int barColumns, double (*wallClock)());

    void line(const char* text) override;
    void beginProgress(const char* title, uint64_t totalBytes) override;
    void progress(float fraction) override;
    bool goingOn() override;
    void endProgress() override;
    void breathe() override;

    // Called after every breath: tests act at a chosen moment of a job.
    std::function<void()> afterBreath;

private:
    void noticeInterrupt();
    void draw();
    void clear();

    std::ostream& lines_;
    std::ostream& bar_;
    int columns_;
    double (*wallClock_)();
    ProgressRate rate_;
    std::string title_;
    float fraction_ = 0.0f;
    bool open_ = false;
    bool shown_ = false;      // the bar's line is on the terminal now
    bool drawnOnce_ = false;
    double lastDraw_ = 0.0;   // on wallClock_
};
