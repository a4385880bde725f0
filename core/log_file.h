// The log that outlives the window: every line either face logs is also
// appended to a file in the user's state folder, stamped with the time and
// the command it belongs to, so that what the tool said can be sent along
// when asking for help.
#pragma once

#include <cstdint>
#include <string>

constexpr uint64_t LOG_FILE_MAX_BYTES = 1 << 20;
// Older files kept beside the current one: pockettetherbox.log.1 (newest) to .5.
constexpr int LOG_FILE_KEPT = 5;

// $XDG_STATE_HOME/pockettetherbox/pockettetherbox.log, ~/.local/state/... when
// that is unset or not absolute; empty when no home folder is known.
std::string logFilePath();

// Appends `text` as logged under `command`. A file that cannot be written is
// skipped without a word: the log file must never disturb a job.
void appendToLogFile(const char* command, const char* text);
