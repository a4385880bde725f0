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
    ~OneJob();
    OneJob(const OneJob&) = delete;
    OneJob& operator=(const OneJob&) = delete;

    // False when another command was under way: this one must do nothing.
    bool started() const { return started_; }

private:
    bool started_;
};

// What the window does around every job, set as it is built: greys its
// buttons as one starts; as it ends, closes down if it was asked to close
// meanwhile, or else looks at the linker (it may have gone or come) so the
// buttons follow what it finds.
void followJobs(void (*started)(), void (*ended)(bool closeAsked));

bool jobRunning();
// The main window's close control (or Escape) during a job: the job is
// cancelled, and the window closes and the linker is let go once it ends.
void closeWhenJobEnds();
// Whether the user asked to close during the job under way.
bool closeRequested();
