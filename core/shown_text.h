// Text for the terminal, the window and the log file from bytes that may
// hold anything: a cartridge's title, a file's name or contents. Nothing that
// passes through here can steer a terminal or make the log file binary.
#pragma once

#include <cstddef>
#include <string>

// Printable ASCII as is, everything else (and the backslash, so that an
// escape cannot be faked) as \xNN. With `keepUtf8`, well-formed UTF-8
// characters pass too, for names the user typed; bytes that form none, and
// the C1 controls, are still escaped.
std::string printable(const std::string& raw, bool keepUtf8 = false);

// A line as it is shown and filed: control bytes but the tab and the line
// break, and bytes that are not well-formed UTF-8, become \xNN; everything
// else, backslashes included, stays, so a line made of printable() pieces
// passes unchanged.
std::string shownText(const char* text, size_t length);
