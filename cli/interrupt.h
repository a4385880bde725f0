// Ctrl-C, SIGTERM and SIGHUP while the command line runs: the first asks the
// job to stop, as the window's Cancel does, and the program exits once it
// has cleaned up. The same request often arrives twice (`timeout` signals
// the process and its group; a closing terminal may send HUP and TERM), so a
// signal within a second of the first is the same request. One later than
// that ends the program at once, by the signal's own default action, in case
// the job never looks (an erase it may not stop).
#pragma once

// Catches the signals for as long as it lives, then puts back what was
// there; a signal that was ignored when it started (nohup) stays ignored.
// `clock` tells seconds apart; it is read inside the handler.
class InterruptScope {
public:
    explicit InterruptScope(double (*clock)());
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;
};

// Whether a signal has asked to stop since the scope was entered.
bool interrupted();
// The signal that asked, 0 if none did.
int interruptSignal();
// True exactly once after a signal: whoever sees it first tells the user.
bool takeInterruptNotice();
// The exit status of a command a signal stopped: 128 plus its number (130
// for Ctrl-C), as a shell reports a process the signal killed.
int interruptedStatus();
