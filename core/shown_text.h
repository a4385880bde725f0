// Text for the terminal, the window and the log file from bytes that may
// hold anything: a cartridge's title, a file's name or contents. Nothing that
// passes through here can steer a terminal or make the log file binary.
#pragma once

#include <cstdarg>
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

// A line made from the program's own printf format: the line breaks and tabs
// the format holds stay, but in every %s argument (a name, a path, a title,
// a list) a line break, carriage return or tab becomes \xNN, so that no name
// can end a line or start one of its own.
std::string formatLine(const char* format, va_list args);

// The value of a hex digit of either case, as in \xNN or a digest; -1 for
// any other character.
int hexDigitValue(char c);

// A word as a shell reads it back: in single quotes (with `bareWhenPlain`,
// as is when it holds nothing the shell treats specially); as $'...' with \xNN
// escapes when it holds a control byte or a byte that is not UTF-8, so that
// the word stays on one line and survives the escaping of shown lines.
std::string shellWord(const std::string& word, bool bareWhenPlain = false);
