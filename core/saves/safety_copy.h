// Safety copies: before Write Savegame changes a cartridge, the blocks it is
// about to erase go, as they were, into an NGF file of their own, so that a
// restore that went wrong can itself be undone. Each game has a folder under
// the user's data folder, holding its newest copies by date and time:
//     $XDG_DATA_HOME/pockettetherbox/saves/<title>-<software ID>/<date-time><zone>.ngf
#pragma once

class Reporter;

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

constexpr int SAFETY_COPIES_KEPT = 50;
// The cartridge header bytes a game folder's name is made from.
constexpr uint32_t CART_HEADER_ID_ADDR = 0x20;  // software ID, low byte first
constexpr uint32_t CART_HEADER_NAME_ADDR = 0x24;
constexpr uint32_t CART_HEADER_BYTES = 0x30;

// "<title>-<software ID>" from the cartridge's first 0x30 bytes: the 12-byte
// title up to its first NUL, with trailing spaces dropped and every byte but
// letters, digits, '-' and '_' turned into '_' (so no name can climb out of
// the folder or hide as a dot file); "untitled" when nothing is left. The
// ID is bytes 0x21 and 0x20 in hexadecimal, in that order.
std::string gameFolderName(const uint8_t header[CART_HEADER_BYTES]);
// The game of a cartridge whose chip 0, which holds the header, does not
// answer: its header reads from a floating bus. No header gives this name,
// for each has a software ID.
constexpr char UNKNOWN_GAME_FOLDER[] = "unknown";
// The game a cartridge's saves are filed under: its header's folder name, or
// the unknown game when chip 0, which holds the header, does not answer.
std::string cartridgeGame(const uint8_t header[CART_HEADER_BYTES], bool chipZeroAnswers);

// $XDG_DATA_HOME/pockettetherbox/saves, or ~/.local/share/... when that is
// unset, empty or not an absolute path.
std::string safetyCopyRoot();

// Writes `ngf` (a whole NGF file) into `folder`, creating it if need be, as
// "<YYYY-MM-DD_HH-MM-SS><+hhmm>.ngf" of `when` in local time with the zone's
// offset from UTC ("_2", "_3", ... added when that name is taken). The bytes
// go to a temporary file first, which is only renamed once it is complete
// and on disk, and never over a file already there, however close two runs
// come; the folder is synced after. Then the folder is trimmed to the newest
// `keep` copies, the new one kept whatever its name; with `keep` below 0 it
// is left for the caller to trim. On failure the log says why, no file of it
// is left, and false is returned: the caller must then leave the cartridge
// alone.
bool storeSafetyCopy(Reporter& r, const std::string& folder, const std::vector<uint8_t>& ngf, time_t when,
                     std::string* path, int keep = SAFETY_COPIES_KEPT);

// When the copy named `name` (a file name, no folder) was made, and its count
// within that second; false for a name storeSafetyCopy does not make. Names
// carry their zone, so the order of copies survives a change of clock zone
// and the hour a daylight-saving clock goes back; a name from before zones
// were written is read in the zone of now.
bool safetyCopyTime(const std::string& name, time_t* when, unsigned* count);

// Removes all but the newest `keep` copies in `folder`. Only files named as
// storeSafetyCopy names them, at a moment no more than a day ahead of
// now, are counted or touched, and never a backup the user registered there,
// a file in `kept` (a clock set back can make the copy just made sort
// oldest) nor a copy a HeldSave holds (a copy being written back is the
// only place the save is until that write is done, whichever run writes it).
void pruneSafetyCopies(Reporter& r, const std::string& folder, int keep,
                       const std::vector<std::string>& kept = {});

// Holds a save against every run's prune for as long as it lives, with a
// shared lock on the file; held() is false when it could not be had (the
// file is gone, or was replaced while it was being held).
class HeldSave {
public:
    explicit HeldSave(const std::string& path);
    ~HeldSave();
    HeldSave(const HeldSave&) = delete;
    HeldSave& operator=(const HeldSave&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};
