// How jobs let the toolkit breathe between transfers without touching it.
#pragma once

// Handles pending events once without waiting (redraws, Cancel, Escape).
void letEventsThrough();

// Like letEventsThrough(), but sleeps until an event comes or a short while
// has passed: for loops that only wait on a window, so they do not spin.
void waitForEventsBriefly();

// Called after every letEventsThrough() and waitForEventsBriefly(); tests use it to act at a precise
// moment of a job (press Cancel on the third chunk, say). Null normally.
extern void (*g_afterEventsHook)();
