// The name Backup Savegame offers in its file chooser. Only a name is
// formed: no file is created for it, so none is left behind when the user
// cancels, and a folder the user cannot write to still gets a proposal.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// "<game>-<YYYY-MM-DD>.ngf" from the cartridge's game as its folder is named
// ("savegame" when `game` is empty, as when no header was read) and the
// local date of `when`; "-2", "-3", ... before ".ngf" when `folder` already
// has a file of that name. Only the name, without the folder.
std::string saveBackupName(const std::string& folder, const std::string& game, time_t when);
