// The name Backup Savegame offers in its file chooser. Only a name is
// formed: no file is created for it, so none is left behind when the user
// cancels, and a folder the user cannot write to still gets a proposal.
#pragma once

#include <random>
#include <string>

// "savegame-XXXXXX.ngf" with six letters or digits, naming no file in
// `folder` yet; false when no such name turned up.
bool proposeSaveName(const std::string& folder, std::mt19937& random, std::string* name);
// The same in the working folder, drawing from a generator seeded once.
bool proposeSaveName(std::string* name);
