// "Saves": the vault of safety copies and save-game backups, listed and
// written back. The window shows it in a window of its own; these are the
// command line's ways in.
#include <ctime>
#include <string>

#include "core/jobs/jobs.h"
#include "core/saves/safety_copy.h"
#include "core/saves/vault.h"
#include "core/shown_text.h"

// One entry a line, tab-separated: PATH, GAME, DATE, BYTES, KIND. The names
// are escaped as every shown name is, so no field holds a tab or a line
// break; the line goes whole to the face, however long the path.
bool listSaves(const std::string& game, Reporter& r, std::string* note)
{
    std::vector<std::string> passedOver;
    for (const VaultEntry& e : vaultEntries(game, &passedOver)) {
        char when[40];
        tm local{};
        localtime_r(&e.when, &local);
        strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S%z", &local);
        std::string line = printable(e.path, true) + "\t" + printable(e.game, true) + "\t" + when + "\t" +
                           std::to_string(e.bytes) + "\t" + saveKindName(e.kind);
        r.line(line.c_str());
    }
    *note = passedOverNote(passedOver);
    return true;
}

// Only the vault's own files: their game is known. The file is held from
// here to the write's end, so that no run's prune removes it meanwhile; one
// a prune removed first is no longer the vault's.
static bool vaultEntryOrRefusal(const std::string& path, const HeldSave& held, VaultEntry* entry,
                                Reporter& r)
{
    if (held.held() && findVaultEntry(path, entry))
        return true;
    printWindow(r, "'%s' is no copy or backup", path.c_str());
    printWindow(r, "the vault holds; nothing was written.");
    return false;
}

bool restoreSave(const std::string& path, bool anyGame, SaveWriteRun* run, Job& job)
{
    VaultEntry entry;
    HeldSave held(path);
    if (!vaultEntryOrRefusal(path, held, &entry, job.r))
        return false;
    run->sameGameAs = anyGame ? std::string() : entry.game;
    return writeSaveGame(entry.path, job, run);
}

bool restoreSaveAsking(const std::string& path, const OtherGameQuestion& writeAnyway, SaveWriteRun* run,
                       Job& job)
{
    Reporter& r = job.r;
    VaultEntry entry;
    std::string cart;
    HeldSave held(path);
    if (!vaultEntryOrRefusal(path, held, &entry, r) || !insertedGame(&cart, job))
        return false;
    // The cartridge may be swapped while the question is up: the write holds
    // it to the game the answer was about.
    if (cart != entry.game && !writeAnyway(entry.game, cart)) {
            refuseOtherGame(r, entry.path, entry.game, cart);
        return false;
    }
    run->sameGameAs = cart;
    return writeSaveGame(entry.path, job, run);
}
