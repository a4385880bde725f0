// Questions whose careless answer loses something (a file, a cartridge's
// save, a copy): Enter and Escape give the safe answer, and the risky one
// takes a click or the key underlined on its button.
#pragma once

#include <string>

// `question` is shown as is ('@' already doubled); `risky` names its key
// with '&' ("&Replace"). True only when the risky answer was given, and not
// when the question was closed by closing the main window.
bool askBeforeRisk(const std::string& title, const std::string& question, const char* safe, const char* risky);
