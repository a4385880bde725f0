// The window's side of each command: ask for what the job needs (a file, a
// number), then run the job with the window as its reporter. Each names
// itself after its button, for the log file.
#include "gui/commands.h"

#include <cstdlib>
#include <string>

#include "core/jobs/image_identity.h"
#include "core/jobs/jobs.h"
#include "core/saves/proposed_name.h"
#include "gui/file_choice.h"
#include "gui/input.h"
#include "gui/log.h"
#include "gui/one_job.h"
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

// Runs a command unless another is under way, and only while the linker is
// there: once it is gone the user is told so before being asked for a file.
static void runCommand(const char* name, void (*command)())
{
    OneJob job;
    if (!job.started())
        return;
    CommandScope named(name);
    if (linkStillThere(windowReporter()))
        command();
}

static void loadROMsCommand()
{
    std::string path;
    if (askExisting("Load a ROM", ROM_PATTERN, &path))
        flashRom(path, prefsSettings(), windowReporter());
}

static void verifyCommand()
{
    std::string path;
    if (askExisting("Verify a ROM", ROM_PATTERN, &path))
        verifyRom(path, windowReporter());
}

// A dump the lists know under another file name can take it in one click.
static void backupROMCommand()
{
    std::string dump, listName;
    BackupOptions options;
    options.writtenTo = &dump;
    options.listName = &listName;
    bool done = backupRom(
        [](const std::string& proposed, std::string* path) {
            return chooseFile("Select file for backup", ROM_PATTERN, CHOOSE_CREATE, proposed.c_str(),
                              path);
        },
        windowReporter(), options);
    if (done && !listName.empty() && offerListName(dump, listName)) {
        ReporterScope scope(windowReporter());
        renameInFolder(dump, listName);
    }
}

static void backupSaveGameCommand()
{
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

static void writeSaveGameCommand()
{
    std::string path;
    if (askExisting("Select save-game file", NGF_PATTERN, &path) && !refusedAsPipe(path))
        writeSaveGame(path, prefsSettings(), windowReporter());
}

static void getInfosCommand()
{
    cartInfo(windowReporter());
}

static void protectedBlocksCommand()
{
    protectedBlocks(windowReporter());
}

// Asks for a cartridge address; false (after saying so) when the window was
// closed or the address lies past chip 1's window.
static bool askAddress(uint32_t* address)
{
    *address = uint32_t(makeInputWindow("Enter address"));
    return cartAddressValid(*address, windowReporter());
}

static void readByteCommand()
{
    uint32_t address;
    if (askAddress(&address))
        readByte(address, windowReporter());
}

static void writeByteCommand()
{
    uint32_t address;
    if (!askAddress(&address))
        return;
    int value = makeInputWindow("Enter byte value");
    writeByte(address, value, windowReporter());
}

void cb_loadROMs_button(Fl_Widget* w, void* data)
{
    runCommand("Flash ROM(s)", loadROMsCommand);
}

void cb_verify_button(Fl_Widget* w, void* data)
{
    runCommand("Verify ROM", verifyCommand);
}

void cb_backupROM_button(Fl_Widget* w, void* data)
{
    runCommand("Backup ROM", backupROMCommand);
}

void cb_backupSaveGame_button(Fl_Widget* w, void* data)
{
    runCommand("Backup Savegame", backupSaveGameCommand);
}

void cb_writeSaveGame_button(Fl_Widget* w, void* data)
{
    runCommand("Write Savegame", writeSaveGameCommand);
}

void cb_getInfos_button(Fl_Widget* w, void* data)
{
    runCommand("Cart Info", getInfosCommand);
}

void cb_protectedBlocks_button(Fl_Widget* w, void* data)
{
    runCommand("Protected Blocks", protectedBlocksCommand);
}

void cb_readByte_button(Fl_Widget* w, void* data)
{
    runCommand("Read Byte", readByteCommand);
}

void cb_writeByte_button(Fl_Widget* w, void* data)
{
    runCommand("Write Byte", writeByteCommand);
}
