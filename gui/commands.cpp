// The window's side of each command: ask for what the job needs (a file, a
// number), then run the job with the window as its reporter. Each names
// itself after its button, for the log file.
#include "gui/commands.h"

#include <cstdlib>
#include <string>

#include "core/jobs/jobs.h"
#include "core/saves/proposed_name.h"
#include "gui/file_choice.h"
#include "gui/input.h"
#include "gui/log.h"
#include "gui/prefs.h"

static const char* const ROM_PATTERN = "*.{ngp,rom,bin}";
static const char* const NGF_PATTERN = "*.{ngf}";

// The path is held whole, however long; false (after saying so) when the
// chooser was closed without a choice.
static bool askExisting(const char* title, const char* pattern, std::string* path)
{
    if (chooseFile(title, pattern, CHOOSE_EXISTING, nullptr, path))
        return true;
    printWindow("No file selected.");
    return false;
}

void cb_loadROMs_button(Fl_Widget* w, void* data)
{
    CommandScope command("Flash ROM(s)");
    std::string path;
    if (askExisting("Load a ROM", ROM_PATTERN, &path))
        flashRom(path, prefsSettings(), windowReporter());
}

void cb_verify_button(Fl_Widget* w, void* data)
{
    CommandScope command("Verify ROM");
    std::string path;
    if (askExisting("Verify a ROM", ROM_PATTERN, &path))
        verifyRom(path, windowReporter());
}

void cb_backupROM_button(Fl_Widget* w, void* data)
{
    CommandScope command("Backup ROM");
    backupRom(
        [](const std::string& proposed, std::string* path) {
            return chooseFile("Select file for backup", ROM_PATTERN, CHOOSE_CREATE, proposed.c_str(),
                              path);
        },
        windowReporter());
}

void cb_backupSaveGame_button(Fl_Widget* w, void* data)
{
    CommandScope command("Backup Savegame");
    std::string proposal, path;
    bool proposed = proposeSaveName(&proposal);
    bool chosen = chooseFile("Select file for save-game backup", NGF_PATTERN, CHOOSE_CREATE,
                             proposed ? proposal.c_str() : nullptr, &path);
    if (!chosen) {
        printWindow("No file selected.");
        return;
    }
    backupSaveGame(path, windowReporter());
}

void cb_writeSaveGame_button(Fl_Widget* w, void* data)
{
    CommandScope command("Write Savegame");
    std::string path;
    if (askExisting("Select save-game file", NGF_PATTERN, &path))
        writeSaveGame(path, prefsSettings(), windowReporter());
}

void cb_getInfos_button(Fl_Widget* w, void* data)
{
    CommandScope command("Cart Info");
    cartInfo(windowReporter());
}

void cb_protectedBlocks_button(Fl_Widget* w, void* data)
{
    CommandScope command("Protected Blocks");
    protectedBlocks(windowReporter());
}

// Asks for a cartridge address; false (after saying so) when the window was
// closed or the address lies past chip 1's window.
static bool askAddress(uint32_t* address)
{
    *address = uint32_t(makeInputWindow("Enter address"));
    return cartAddressValid(*address, windowReporter());
}

void cb_readByte_button(Fl_Widget* w, void* data)
{
    CommandScope command("Read Byte");
    uint32_t address;
    if (askAddress(&address))
        readByte(address, windowReporter());
}

void cb_writeByte_button(Fl_Widget* w, void* data)
{
    CommandScope command("Write Byte");
    uint32_t address;
    if (!askAddress(&address))
        return;
    int value = makeInputWindow("Enter byte value");
    writeByte(address, value, windowReporter());
}
