#include "gui/saves_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Output.H>

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#include "core/jobs/jobs.h"
#include "core/link/linker.h"
#include "core/shown_text.h"
#include "core/saves/vault.h"
#include "gui/ask.h"
#include "gui/events.h"
#include "gui/file_choice.h"
#include "gui/log.h"
#include "gui/on_screen.h"
#include "gui/one_job.h"
#include "gui/prefs.h"

extern char** environ;

Fl_Double_Window* savesWindow = nullptr;
Fl_Hold_Browser* savesList = nullptr;
Fl_Output* savesPath = nullptr;
Fl_Button* savesWriteButton = nullptr;
Fl_Button* savesDeleteButton = nullptr;
Fl_Button* savesFolderButton = nullptr;
Fl_Button* savesCloseButton = nullptr;

// What the list shows, in its order; a list line's data is its index + 1,
// and a game's heading has none.
static std::vector<VaultEntry> g_entries;

// The file manager outlives the request: its process is reaped once it
// ends, so none is left a zombie, and the window never waits for it.
static void reapFileManager(void* pid)
{
    if (waitpid(pid_t(intptr_t(pid)), nullptr, WNOHANG) == 0)
        Fl::repeat_timeout(1.0, reapFileManager, pid);
}

static bool startFileManager(const std::string& folder)
{
    pid_t pid;
    char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(folder.c_str()), nullptr};
    int err = posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ);
    if (err != 0) {
        errno = err;
        return false;
    }
    Fl::add_timeout(1.0, reapFileManager, (void*)intptr_t(pid));
    return true;
}

std::function<bool(const std::string& folder)> g_openFolder = startFileManager;

// A path may hold bytes that are no text, or a '@' a question would draw
// as a symbol.
static std::string shownAsIs(const std::string& text)
{
    return printable(labelText(text), true);
}

static std::string entryLine(const VaultEntry& e)
{
    char when[32];
    tm local{};
    localtime_r(&e.when, &local);
    strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    return std::string("  ") + when + "\t" + std::to_string(e.bytes) + " bytes\t" +
           (e.kind == SaveKind::SafetyCopy ? "safety copy before a write" : "your backup");
}

// "@." keeps the browser from reading the name as formatting.
static std::string gameHeading(const std::string& game)
{
    std::string serial = gameSerial(game);
    return "@b@." + printable(gameTitle(game)) + (serial.empty() ? "" : ", serial " + printable(serial));
}

static const VaultEntry* selectedEntry()
{
    int line = savesList ? savesList->value() : 0;
    intptr_t index = line ? intptr_t(savesList->data(line)) : 0;
    return index ? &g_entries[size_t(index - 1)] : nullptr;
}

static void showSelection()
{
    const VaultEntry* e = selectedEntry();
    for (Fl_Button* b : {savesDeleteButton, savesFolderButton})
        e ? b->activate() : b->deactivate();
    // The window opens without a linker too; only writing needs one.
    e && linker().ready() ? savesWriteButton->activate() : savesWriteButton->deactivate();
    savesPath->value(e ? e->path.c_str() : "");
}

// The vault as it is on disk now, `keep` selected again if it is still there.
static void fillSavesList(const std::string& keep)
{
    savesList->clear();
    std::vector<std::string> passedOver;
    g_entries = vaultEntries("", &passedOver);
    for (size_t i = 0; i < g_entries.size(); i++) {
        const VaultEntry& e = g_entries[i];
        if (i == 0 || g_entries[i - 1].game != e.game)
            savesList->add(gameHeading(e.game).c_str());
        savesList->add(entryLine(e).c_str(), (void*)intptr_t(i + 1));
        if (e.path == keep)
            savesList->value(savesList->size());
    }
    if (g_entries.empty())
        savesList->add("No safety copies or save-game backups yet.");
    // A line of its own, selecting nothing: what the vault would not show.
    if (!passedOver.empty())
        savesList->add(("@." + passedOverNote(passedOver)).c_str());
    showSelection();
    savesList->redraw();
}

// Nothing in the window is pressed twice while one action runs: after a
// Cancel the job winds down with the window reachable again.
class WindowBusy {
public:
    WindowBusy() { savesWindow->deactivate(); }
    ~WindowBusy() { savesWindow->activate(); }
};

static void makeSavesWindow(Fl_Window* mainWindow)
{
    static int columns[] = {185, 95, 0};
    savesWindow = new Fl_Double_Window(520, 310, "Saves");
    savesList = new Fl_Hold_Browser(10, 10, 500, 225);
    savesList->column_char('\t');
    savesList->column_widths(columns);
    savesList->when(FL_WHEN_CHANGED);
    savesList->callback(cb_savesList);
    // A field, so that a long path can be scrolled through and copied.
    savesPath = new Fl_Output(10, 240, 500, 25);
    savesPath->textsize(12);
    savesWriteButton = new Fl_Button(10, 275, 140, 25, "Write to cartridge");
    savesWriteButton->tooltip("Write the selected save back into the inserted cartridge.");
    savesWriteButton->callback(cb_savesWriteButton);
    savesDeleteButton = new Fl_Button(160, 275, 80, 25, "Delete");
    savesDeleteButton->tooltip("Delete the selected file from the disk.");
    savesDeleteButton->callback(cb_savesDeleteButton);
    savesFolderButton = new Fl_Button(250, 275, 110, 25, "Open folder");
    savesFolderButton->tooltip("Show the folder of the selected file in the file manager.");
    savesFolderButton->callback(cb_savesFolderButton);
    savesCloseButton = new Fl_Button(420, 275, 90, 25, "Close");
    savesCloseButton->callback(cb_savesCloseButton);
    savesWindow->end();
    savesWindow->resizable(savesList);
    savesWindow->size_range(520, 310);
    savesWindow->set_modal();
    fillSavesList("");
    // Beside the main window, not over the log the user reads as it fills.
    if (mainWindow && mainWindow->shown())
        placeBeside(savesWindow, mainWindow);
    else
        savesWindow->hotspot(savesWindow);
    savesWindow->show();
}

// Held like a job for as long as the window is up, as Preferences is: no
// command starts under it, and closing the main window closes it too.
void cb_saves_button(Fl_Widget* w, void* data)
{
    OneJob job;
    if (!job.started())
        return;
    CommandScope command(windowReporter(), "Saves");
    // The window of the button pressed is the main window.
    makeSavesWindow(w ? w->top_window() : nullptr);
    while (savesWindow->shown())
        waitForEventsBriefly();
    delete savesWindow;
    savesWindow = nullptr;
    savesList = nullptr;
    savesPath = nullptr;
    savesWriteButton = savesDeleteButton = savesFolderButton = savesCloseButton = nullptr;
    g_entries.clear();
}

void cb_savesList(Fl_Widget* w, void* data)
{
    showSelection();
}

static bool writeToOtherGame(const std::string& saveGame, const std::string& cartGame)
{
    return askBeforeRisk("Another game",
                         "This is a save of " + shownAsIs(saveGame) + ", and the cartridge is " +
                             shownAsIs(cartGame) + ".\nWrite it to this cartridge anyway?",
                         "Cancel", "&Write anyway");
}

void cb_savesWriteButton(Fl_Widget* w, void* data)
{
    const VaultEntry* e = selectedEntry();
    if (!e)
        return;
    std::string path = e->path;
    {
        WindowBusy busy;
        SaveWriteRun run;
        Job job(linker().link(), windowReporter(), prefsSettings());
        restoreSaveAsking(path, writeToOtherGame, &run, job);
    }
    // The write made a safety copy of its own.
    fillSavesList(path);
}

void cb_savesDeleteButton(Fl_Widget* w, void* data)
{
    const VaultEntry* e = selectedEntry();
    if (!e)
        return;
    VaultEntry entry = *e;
    WindowBusy busy;
    if (!askBeforeRisk("Delete?", "Delete '" + shownAsIs(entry.path) + "'?\nThe file is removed from the disk.",
                       "Cancel", "&Delete"))
        return;
    if (deleteVaultEntry(entry))
        printWindow(windowReporter(), "Deleted '%s'.", entry.path.c_str());
    else
        printWindow(windowReporter(), "Could not delete '%s': %s", entry.path.c_str(), strerror(errno));
    fillSavesList("");
}

void cb_savesFolderButton(Fl_Widget* w, void* data)
{
    const VaultEntry* e = selectedEntry();
    if (!e)
        return;
    std::string folder = std::filesystem::path(e->path).parent_path().string();
    if (g_openFolder(folder))
        return;
    // Without xdg-open (Debian installs none by default) the system's word
    // would be "No such file or directory", as if the folder were missing.
    if (errno == ENOENT) {
        printWindow(windowReporter(), "xdg-open is missing: install xdg-utils to open folders.");
        printWindow(windowReporter(), "The folder is '%s'.", folder.c_str());
    } else {
        printWindow(windowReporter(), "Could not open the folder '%s': %s", folder.c_str(), strerror(errno));
    }
    // The path field shows it selected, ready to be copied with Ctrl+C.
    savesPath->value(folder.c_str());
    savesPath->take_focus();
    savesPath->position(0, savesPath->size());
}

void cb_savesCloseButton(Fl_Widget* w, void* data)
{
    savesWindow->hide();
}
