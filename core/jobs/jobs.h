// The user's commands, one module each, named after its button: a job is
// handed a Job and what it works on as parameters, speaks only through the
// Job's reporter, and returns true only when it ended done.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/cart/detect.h"
#include "core/report.h"
#include "core/settings.h"

class Link;

// What every job is handed: the link to the linker, the reporter it speaks
// through and its write settings. The cartridge it works on it probes
// itself, into `cart`, so that no job goes by another's probe. While the
// Job lives, the link words its failures to the Job's reporter.
class Job {
public:
    Job(Link& link, Reporter& r, const WriteSettings& settings = WriteSettings());
    ~Job();
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    Link& link;
    Reporter& r;
    WriteSettings settings;
    Cart cart;
    // The command that writes a copy in the vault back, for a line that
    // names it; empty for the window, whose Saves window does.
    std::string restoreCommand;

private:
    Reporter& before_;
};

// Asks where to write, offering `proposed`; false when the user chose nothing.
using PathAsker = std::function<bool(const std::string& proposed, std::string* path)>;

// "Flash ROM(s)" (flash_rom.cpp)
bool flashRom(const std::string& path, Job& job);
// "Verify ROM" (verify_rom.cpp): true when nothing differed but the save
// area (the unprotected blocks) of a chip that has protected ones.
bool verifyRom(const std::string& path, Job& job);
// "Backup ROM" (backup_rom.cpp): the cartridge is probed first, so the name
// offered can be its ROM name.
struct BackupOptions {
    bool report = false;  // also "<dump>.txt" beside the dump
    // A folder given for the file (the command line's DIR/) names the dump
    // in it; otherwise a folder is refused as any output that is no file.
    bool intoFolder = false;
    // Set when the backup ended done: where the dump went, and the file name
    // its list entry gives it when that is fit and not the dump's own.
    std::string* writtenTo = nullptr;
    std::string* listName = nullptr;
};
bool backupRom(const PathAsker& askPath, Job& job, const BackupOptions& options = {});
// "doctor" (doctor.cpp): the chain from the program to the cartridge, one
// line per link, with what to do where one fails; true when every link holds.
// Runs whether or not a linker could be used. The rule is looked for in
// `ruleFolders`, udev's own by default.
std::vector<std::string> udevRuleFolders();
bool doctor(Job& job, const std::vector<std::string>& ruleFolders = udevRuleFolders());
// "Cart Info" and "Protected Blocks" (cart_info.cpp)
bool cartInfo(Job& job);
bool protectedBlocks(Job& job);
// "Backup Savegame" (backup_save.cpp)
bool backupSaveGame(const std::string& path, Job& job);
// The name it offers for a new backup in `folder`, from the header of the
// cartridge in the linker and today's date.
std::string proposeSaveBackup(const std::string& folder, Job& job);
// "Write Savegame" (write_save.cpp). `path` "-" is standard input.
struct SaveWriteRun {
    // Given by the face: a game folder name ("<title>-<software ID>") the
    // cartridge must be, empty for any; and the command that writes a save
    // back, which a stop that changed blocks names with the safety copy
    // (empty: the line names Write Savegame).
    std::string sameGameAs;
    std::string undoCommand;
    // Its option that writes to any game's cartridge: a stop that left the
    // header's block changed leaves a cartridge of no known game.
    std::string undoAnyGame;
    // Left by the job: its safety copy, and whether it stopped with blocks
    // changed, which that copy puts back.
    std::string copy;
    bool changed = false;
};
bool writeSaveGame(const std::string& path, Job& job, SaveWriteRun* run = nullptr);
// The line refusing a save of one game on a cartridge of another.
void refuseOtherGame(Reporter& r, const std::string& path, const std::string& saveGame, const std::string& cartGame);
// The inserted cartridge's game as the vault names it, after a probe; false,
// with the reason logged, when it cannot be read. With chip 0 silent it is
// no folder name but says the game is unknown, which no save's game matches.
bool insertedGame(std::string* game, Job& job);
// "Saves" (saves.cpp): the vault's entries as lines, one game's when `game`
// is given; and Write Savegame with one of them, refused unless the
// cartridge is its game or `anyGame` is set. The lines keep their format:
// what the vault passed over comes back apart, as one `note` ("" for none).
bool listSaves(const std::string& game, Reporter& r, std::string* note);
bool restoreSave(const std::string& path, bool anyGame, SaveWriteRun* run, Job& job);
// The same for a face that can ask: the cartridge's game is read first, and a
// save of another game is written only once `writeAnyway` (given the save's
// game and the cartridge's) says so; the write then still holds the
// cartridge to the game that was agreed to.
using OtherGameQuestion = std::function<bool(const std::string& saveGame, const std::string& cartGame)>;
bool restoreSaveAsking(const std::string& path, const OtherGameQuestion& writeAnyway, SaveWriteRun* run,
                       Job& job);
// A ROM image's checksums, header and place in the lists `known`, read once
// for all the images of a run, with no linker (image_identity.cpp); true
// when the file was read whole, and then `report` says what it is.
struct KnownDumps;
struct ImageReport;
bool identifyImage(const std::string& path, const KnownDumps& known, Reporter& r,
                   ImageReport* report = nullptr);
// "Read Byte" and "Write Byte" (single_byte.cpp). An address past chip 1's
// window is refused, with a line, before any value is asked for.
bool cartAddressValid(uint32_t address, Reporter& r);
bool readByte(uint32_t address, Job& job);
bool writeByte(uint32_t address, int value, Job& job);

// The last path component: after the last '/', else after the last '\\';
// the whole path when it ends in '/' (a folder).
const char* displayName(const char* path);

// False, after one line saying so, once libusb has said the linker is gone:
// no command can do anything until one is plugged in again.
bool linkStillThere(Reporter& r);
// Opens a file a job reads. Anything but a regular file is refused with a
// line and *refused set: opening a FIFO blocks until a writer comes, a
// device may never end, a folder reads as nothing. Null with *refused clear
// when it cannot be opened at all (errno says why); the caller words that
// itself.
FILE* openInputFile(Reporter& r, const std::string& path, bool* refused);
// True, after a line saying why, when `path` is there but is no regular
// file, or is empty: Flash ROM(s) refuses such a file before anything is
// erased, and the command line before it opens the linker.
bool romFileRefused(Reporter& r, const std::string& path);
// True, after the same line, when `path` is a pipe: the window never reads
// one, since a pipe whose writer never writes would hold it for good.
bool refusedAsPipe(Reporter& r, const std::string& path);
// True, after a line saying so, when `path` exists and is not a regular file
// (through a symbolic link too): a job writes its output only to files.
bool refusedAsOutput(Reporter& r, const std::string& path);
// The line of a file to read that could not be opened: its name, then the
// system's reason.
constexpr const char* FAILED_TO_OPEN = "Failed to open '%s': %s";
constexpr const char* SAVE_COULDNT_OPEN = "restoreSaveGameToCart: Couldn't open '%s': %s";
// True, after a line saying why, when `path` is no file a job can read: not
// a regular file (a pipe passes with `pipeAllowed`), or not to be opened,
// worded by `failedLine` with `shownName` and the system's reason. For the
// command line, before it opens the linker.
bool unreadableRefused(Reporter& r, const std::string& path, const char* shownName, bool pipeAllowed,
                       const char* failedLine);
