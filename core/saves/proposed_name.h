// The name Backup Savegame offers in its file chooser. Only a name is
// formed: no file is created for it, so none is left behind when the user
// cancels, and a folder the user cannot write to still gets a proposal.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// "<title>-<software ID>-<YYYY-MM-DD>.ngf" from the cartridge's first bytes
// (as safety copies name a game; "savegame" when there is no header) and the
// local date of `when`; "-2", "-3", ... before ".ngf" when `folder` already
// has a file of that name. Only the name, without the folder.
std::string saveBackupName(const std::string& folder, const uint8_t* header, time_t when);
