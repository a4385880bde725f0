// How jobs let the toolkit breathe between transfers without touching it.
#pragma once

// Handles pending events once without waiting (redraws, Cancel, Escape).
void letEventsThrough();

// Called after every letEventsThrough(); tests use it to act at a precise
// moment of a job (press Cancel on the third chunk, say). Null normally.
extern void (*g_afterEventsHook)();
