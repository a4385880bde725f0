// The log: the one channel through which the program speaks to its user.
#pragma once

constexpr int LOG_MAX_LINES = 2000;
constexpr int LOG_LINE_BYTES = 1024;

// Formats one line and appends it to the main window's log as one entry,
// even when the text holds a line break. Longer lines are cut, never overrun.
void printWindow(const char* format, ...) __attribute__((format(printf, 1, 2)));
