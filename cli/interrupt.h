// Ctrl-C while the command line runs: the first asks the job to stop, as the
// window's Cancel does; a second ends the program at once, by the signal's
// own default action, in case the job never looks (an erase it may not stop).
#pragma once

// Catches Ctrl-C for as long as it lives, then puts back what was there.
class InterruptScope {
public:
    InterruptScope();
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;
};

// Whether Ctrl-C has been pressed since the scope was entered.
bool interrupted();
// True exactly once after Ctrl-C: whoever sees it first tells the user.
bool takeInterruptNotice();
