// The settings a writing job runs with, handed to it as a plain value. The
// window keeps its own until the program ends; the command line builds one
// from its options. Both build what they show from the table of settings
// here: names, values, defaults and what each refuses live only in it.
#pragma once

class Reporter;

#include <cstdint>
#include <string>
#include <vector>

constexpr uint8_t TURBO_OFF = 0;
constexpr uint8_t TURBO_ON = 1;
constexpr uint8_t TURBO_AUTO = 0xFF;

// What Flash ROM(s) erases before writing.
enum class EraseScope {
    WholeChips,     // every chip the ROM reaches, erased whole
    RomBlocks,      // only the erase blocks the ROM covers; the rest keep their bytes
    ChangedBlocks,  // only the ROM's blocks whose bytes differ from the file, found by reading first
};

struct WriteSettings {
    uint8_t turboMode = TURBO_AUTO;  // Turbo Mode
    int writeN = 512;                // chunk size of Flash ROM(s)
    int skipChip = -1;               // -1: none, 0 or 1: that chip is not written
    EraseScope eraseScope = EraseScope::WholeChips;
    bool verifyAfterWrite = false;   // read the written bytes back and compare them with the file
    // A file larger than the cartridge is refused before anything is erased,
    // rather than cut to the cartridge's size.
    bool refuseOversized = false;
    // How often Backup ROM reads the cartridge: twice compares the passes,
    // for a cartridge whose contacts may misread.
    int readPasses = 1;
};

// The chunk sizes Flash ROM(s) writes with: 1 to 32, or a multiple of 64 up
// to 1024.
bool writeNOffered(int n);

// One value a setting takes, under each name it goes by.
struct SettingChoice {
    int value;
    const char* word;   // on the command line; null: no option gives it
    std::string label;  // in the Preferences menu
    const char* kept;   // in the preferences file; null when kept as a number
};

// How the command line gives a setting.
enum class SettingOption {
    NoOption,
    Word,     // one of the choices' words
    Number,   // one of the choices' values, decimal or hexadecimal
    FlagOff,  // a flag that sets the value 0
};

// A write setting, described once: the Preferences menu and the command
// line's option are both built from its row.
struct SettingRow {
    const char* label;    // the menu's label
    const char* tooltip;  // the menu's tooltip
    int menuWidth;
    std::vector<SettingChoice> choices;  // in the menu's order
    int (*get)(const WriteSettings&);
    void (*set)(WriteSettings&, int);
    // The line the window logs when it holds a value no choice has (null:
    // none), with the value.
    const char* unknownLine = nullptr;
    // The key it is remembered under between runs; null: every run starts
    // at the default.
    const char* keptAs = nullptr;

    SettingOption option = SettingOption::NoOption;
    const char* command = "flash";     // the command whose option it is
    const char* optionName = nullptr;  // "--erase"
    const char* help = nullptr;        // its line in --help
    const char* manual = nullptr;      // its paragraph in the manual page
    std::string optionValues;          // as --help shows them: "a|b|c"
    const char* shownDefault = nullptr;
    const char* refusal = nullptr;      // what a Number no choice has is said to be
    const char* manualValue = nullptr;  // the value as the manual page names it: "n"

    // The choice holding the value, or null.
    const SettingChoice* choiceFor(int value) const;
    const SettingChoice* choiceForWord(const std::string& word) const;
};

// Turbo Mode, Write_N, Write Processing, Erase, Verify After Writing, Read
// Twice: the menus in the order the Preferences window shows them.
const std::vector<SettingRow>& writeSettingRows();

// Whether a cartridge whose chip 0 reports this factory byte is a Cindercart.
bool isCindercart(uint8_t factoryProt);
// The per-job turbo decision, with its log lines.
bool decideTurbo(Reporter& r, uint8_t turboMode, uint8_t factoryProt);
