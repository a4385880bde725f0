// "Saves": the vault of safety copies and save-game backups, listed and
// written back. The window shows it in a window of its own; these are the
// command line's ways in.
#include <ctime>
#include <string>

#include "core/jobs/jobs.h"
#include "core/saves/vault.h"

// One entry a line, tab-separated, the path last so it may hold anything
// but a line break: GAME, DATE, BYTES, KIND, PATH.
bool listSaves(const std::string& game, Reporter& r)
{
    ReporterScope scope(r);
    for (const VaultEntry& e : vaultEntries(game)) {
        char when[40];
        tm local{};
        localtime_r(&e.when, &local);
        strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S%z", &local);
        printWindow("%s\t%s\t%llu\t%s\t%s", e.game.c_str(), when, (unsigned long long)e.bytes,
                    saveKindName(e.kind), e.path.c_str());
    }
    return true;
}

bool restoreSave(const std::string& path, const WriteSettings& settings, bool anyGame,
                 SaveWriteRun* run, Reporter& r)
{
    VaultEntry entry;
    if (!findVaultEntry(path, &entry)) {
        ReporterScope scope(r);
        printWindow("restoreSaveGameToCart: '%s' is no safety copy or backup the vault holds; "
                    "nothing was written to the cartridge.",
                    path.c_str());
        return false;
    }
    run->sameGameAs = anyGame ? std::string() : entry.game;
    return writeSaveGame(entry.path, settings, r, run);
}
