// The vault: every safety copy and every save-game backup this program made,
// found again by game. Safety copies live in their game's folder under
// safetyCopyRoot(); a backup stays wherever the user wrote it, and its game
// folder keeps its path in a register ("backups.list", one absolute path a
// line), so that nothing the user saved is lost from sight.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

enum class SaveKind { SafetyCopy, Backup };

struct VaultEntry {
    std::string path;  // absolute
    std::string game;  // its game folder's name: "<title>-<software ID>"
    time_t when;       // a copy: when it was made; a backup: when last written
    uint64_t bytes;
    SaveKind kind;
    unsigned count = 1;  // a copy's count within its second
};

// "copy" or "backup".
const char* saveKindName(SaveKind kind);
// A game folder's name split at its last '-': the title and the software ID.
std::string gameTitle(const std::string& game);
std::string gameSerial(const std::string& game);

// The backups registered in a game folder, from its first MiB: absolute
// paths, any byte in them (a line break is kept escaped in the register);
// any other line is none of ours.
std::vector<std::string> registeredBackups(const std::string& folder);
// Registers `path` (made absolute) as a backup of `game`; true when it is
// registered, also when it already was. False, with errno, when the
// register could not be written.
bool registerBackup(const std::string& game, const std::string& path);

// Every entry whose file is there (a backup's only when it reads as an NGF
// save), games in name order and each game's newest first. `game` keeps only one game's: its
// folder name, its title or its software ID. A registered file that is
// there but is no save is passed over, and its path added to `passedOver`.
std::vector<VaultEntry> vaultEntries(const std::string& game = "",
                                     std::vector<std::string>* passedOver = nullptr);
// The one note that says which registered files were passed over; "" for none.
std::string passedOverNote(const std::vector<std::string>& paths);
// The entry for `path`; false when the vault holds no such file.
bool findVaultEntry(const std::string& path, VaultEntry* out);
// Deletes the entry's file and, for a backup, its line in the register.
// False, with errno, when the file could not be deleted, or (EINVAL) when
// a backup no longer reads as an NGF save.
bool deleteVaultEntry(const VaultEntry& entry);
