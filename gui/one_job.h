// One command at a time. A job lets the toolkit handle events between its
// transfers, and once its progress window is hidden (Cancel) nothing modal
// shields the main window any more: without this guard a click, the Enter
// key or the close control would start a second job inside the first, or let
// the linker go under it.
#pragma once

// Held by every command for as long as it runs. While one is held the
// command buttons are greyed out, and any other command returns at once.
class OneJob {
public:
    OneJob();
    // If the main window was asked to close meanwhile, the program closes
    // down now that the job has ended; otherwise the linker is looked at
    // (it may have gone or come) and the buttons follow what it finds.
    ~OneJob();
    OneJob(const OneJob&) = delete;
    OneJob& operator=(const OneJob&) = delete;

    // False when another command was under way: this one must do nothing.
    bool started() const { return started_; }

private:
    bool started_;
};

bool jobRunning();
// The main window's close control (or Escape) during a job: the job is
// cancelled, and the window closes and the linker is let go once it ends.
void closeWhenJobEnds();
// Whether the user asked to close during the job under way.
bool closeRequested();
