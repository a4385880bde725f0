#include "gui/prefs.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Preferences.H>

#include <cstdio>
#include <cstring>

#include "core/app_folders.h"
#include "gui/events.h"
#include "gui/log.h"
#include "gui/on_screen.h"
#include "gui/one_job.h"

uint8_t G_unlockBypassMode = TURBO_AUTO;
int write_N = 512;
int skipChip = -1;
EraseScope eraseScope = EraseScope::WholeChips;
bool verifyAfterWrite = false;

Fl_Double_Window* prefsWindow = nullptr;
Fl_Choice* prefsUnlockButton = nullptr;
Fl_Choice* prefsWriteNButton = nullptr;
Fl_Choice* prefsWriteModeButton = nullptr;
Fl_Choice* prefsEraseButton = nullptr;
Fl_Choice* prefsVerifyButton = nullptr;
Fl_Button* PrefsCloseButton = nullptr;

static const int WRITE_N_SMALL_ITEMS = 32;  // 1 to 32
static const int WRITE_N_LARGE_ITEMS = 16;  // 64 to 1024 in steps of 64

// The erase menu's items, in the order they are listed, and the names they
// are remembered by.
static const EraseScope ERASE_ITEMS[] = {EraseScope::WholeChips, EraseScope::RomBlocks,
                                         EraseScope::ChangedBlocks};
static const char* const ERASE_NAMES[] = {"whole-chips", "rom-blocks", "changed-blocks"};

// Wide and tall enough for every label whole; never made smaller.
static const int PREFS_W = 290, PREFS_H = 170;
// 48 items at the usual size make a menu some 960 pixels tall: a smaller
// size keeps the Write_N menu on an 800-pixel screen.
static const int WRITE_N_TEXT_SIZE = 9;

// Settings beyond the three that start at their defaults are kept between
// runs, with the folders last used, in the toolkit's preferences file.
static Fl_Preferences userPrefs()
{
    return Fl_Preferences(Fl_Preferences::USER, appFolderName(), appFolderName());
}

void loadRememberedSettings()
{
    Fl_Preferences all = userPrefs();
    Fl_Preferences flash(all, "flash");
    char name[32];
    flash.get("erase", name, ERASE_NAMES[0], sizeof name);
    for (int i = 0; i < 3; i++)
        if (strcmp(name, ERASE_NAMES[i]) == 0)
            eraseScope = ERASE_ITEMS[i];
    int verify = 0;
    flash.get("verifyAfterWriting", verify, 0);
    verifyAfterWrite = verify != 0;
}

void rememberSettings()
{
    Fl_Preferences all = userPrefs();
    Fl_Preferences flash(all, "flash");
    for (int i = 0; i < 3; i++)
        if (ERASE_ITEMS[i] == eraseScope)
            flash.set("erase", ERASE_NAMES[i]);
    flash.set("verifyAfterWriting", verifyAfterWrite ? 1 : 0);
    all.flush();
}

std::string rememberedFolder(const char* what)
{
    Fl_Preferences all = userPrefs();
    Fl_Preferences folders(all, "folders");
    char* folder = nullptr;
    folders.get(what, folder, "");
    std::string kept = folder ? folder : "";
    free(folder);
    return kept;
}

void rememberFolder(const char* what, const std::string& folder)
{
    Fl_Preferences all = userPrefs();
    Fl_Preferences folders(all, "folders");
    folders.set(what, folder.c_str());
    all.flush();
}

int makePrefsWindow()
{
    // Users know where the first three menus are: the erase and verify menus
    // go below them, not among them.
    prefsWindow = new Fl_Double_Window(PREFS_W, PREFS_H, "Preferences");

    prefsUnlockButton = new Fl_Choice(10, 10, 80, 20, "Turbo Mode");
    prefsUnlockButton->align(FL_ALIGN_RIGHT);
    prefsUnlockButton->add("Off");
    prefsUnlockButton->add("On");
    prefsUnlockButton->add("Auto");
    prefsUnlockButton->callback(cb_prefsUnlockButton);
    prefsUnlockButton->tooltip(
        "On: each byte in fewer bus cycles, faster but never read back. Off: slower, each "
        "byte checked. Auto: On only for a Cindercart.");

    prefsWriteNButton = new OnScreenChoice(10, 35, 80, 20, "Write_N");
    prefsWriteNButton->align(FL_ALIGN_RIGHT);
    char item[16];
    for (int i = 1; i <= WRITE_N_SMALL_ITEMS; i++) {
        snprintf(item, sizeof item, "%d", i);
        prefsWriteNButton->add(item);
    }
    for (int i = 1; i <= WRITE_N_LARGE_ITEMS; i++) {
        snprintf(item, sizeof item, "%d", i * 64);
        prefsWriteNButton->add(item);
    }
    prefsWriteNButton->callback(cb_prefsWriteNButton);
    prefsWriteNButton->textsize(WRITE_N_TEXT_SIZE);
    prefsWriteNButton->tooltip(
        "Bytes sent per write command. 512 or 1024 flash fastest; 1 is a hundred times "
        "slower but names the first byte that will not program.");

    prefsWriteModeButton = new Fl_Choice(10, 60, 100, 20, "Write Processing");
    prefsWriteModeButton->align(FL_ALIGN_RIGHT);
    prefsWriteModeButton->add("Both chips");
    prefsWriteModeButton->add("Skip chip0");
    prefsWriteModeButton->add("Skip chip1");
    prefsWriteModeButton->callback(cb_prefsWriteModeButton);
    prefsWriteModeButton->tooltip(
        "Skip a chip to leave what it holds untouched; the ROM's bytes for that chip are "
        "not written.");

    prefsEraseButton = new Fl_Choice(10, 85, 170, 20, "Erase");
    prefsEraseButton->align(FL_ALIGN_RIGHT);
    prefsEraseButton->add("Whole chips");
    prefsEraseButton->add("ROM's blocks only");
    prefsEraseButton->add("Changed blocks only");
    prefsEraseButton->callback(cb_prefsEraseButton);
    prefsEraseButton->tooltip(
        "Whole chips: one erase, the usual way. ROM's blocks: keeps what lies past the ROM, "
        "slower for large ROMs. Changed blocks: reads first, then rewrites only what "
        "differs; fastest for a small change. Remembered between runs.");

    prefsVerifyButton = new Fl_Choice(10, 110, 80, 20, "Verify After Writing");
    prefsVerifyButton->align(FL_ALIGN_RIGHT);
    prefsVerifyButton->add("Off");
    prefsVerifyButton->add("On");
    prefsVerifyButton->callback(cb_prefsVerifyButton);
    prefsVerifyButton->tooltip(
        "On: reads back what was written and names the first byte that differs, a few "
        "seconds more. Remembered between runs.");

    PrefsCloseButton = new Fl_Button((PREFS_W - 63) / 2, 140, 63, 20, "Close");
    PrefsCloseButton->callback(cb_PrefsCloseButton);

    prefsWindow->end();
    prefsWindow->resizable(prefsWindow);
    prefsWindow->size_range(PREFS_W, PREFS_H);
    prefsWindow->set_modal();

    if (unsigned(write_N) <= 32)
        prefsWriteNButton->value(write_N - 1);
    else
        prefsWriteNButton->value(write_N / 64 + 31);

    switch (G_unlockBypassMode) {
    case TURBO_ON: prefsUnlockButton->value(1); break;
    case TURBO_OFF: prefsUnlockButton->value(0); break;
    case TURBO_AUTO: prefsUnlockButton->value(2); break;
    default: printWindow(windowReporter(), "Unknown G_unlockBypassMode mode value %d", G_unlockBypassMode);
    }
    switch (skipChip) {
    case 1: prefsWriteModeButton->value(2); break;
    case 0: prefsWriteModeButton->value(1); break;
    case -1: prefsWriteModeButton->value(0); break;
    default: printWindow(windowReporter(), "Unknown skipChip mode value %d", skipChip);
    }
    for (int i = 0; i < 3; i++)
        if (ERASE_ITEMS[i] == eraseScope)
            prefsEraseButton->value(i);
    prefsVerifyButton->value(verifyAfterWrite ? 1 : 0);

    prefsWindow->hotspot(prefsWindow);
    prefsWindow->show();
    return 0;
}

// Settings never change under a running job.
void cb_preferences(Fl_Widget* w, void* data)
{
    OneJob job;
    if (!job.started())
        return;
    CommandScope command(windowReporter(), "Preferences");
    makePrefsWindow();
    while (prefsWindow->shown())
        waitForEventsBriefly();
    delete prefsWindow;
    prefsWindow = nullptr;
}

void cb_prefsUnlockButton(Fl_Widget* w, void* data)
{
    static const uint8_t values[] = {TURBO_OFF, TURBO_ON, TURBO_AUTO};
    int i = prefsUnlockButton->value();
    if (i >= 0 && i < 3)
        G_unlockBypassMode = values[i];
}

void cb_prefsWriteNButton(Fl_Widget* w, void* data)
{
    int i = prefsWriteNButton->value();
    if (i < 0)
        return;
    write_N = i < WRITE_N_SMALL_ITEMS ? i + 1 : (i - 31) * 64;
}

void cb_prefsWriteModeButton(Fl_Widget* w, void* data)
{
    int i = prefsWriteModeButton->value();
    if (i >= 0 && i < 3)
        skipChip = i - 1;
}

void cb_prefsEraseButton(Fl_Widget* w, void* data)
{
    int i = prefsEraseButton->value();
    if (i >= 0 && i < 3)
        eraseScope = ERASE_ITEMS[i];
    rememberSettings();
}

void cb_prefsVerifyButton(Fl_Widget* w, void* data)
{
    int i = prefsVerifyButton->value();
    if (i >= 0 && i < 2)
        verifyAfterWrite = i == 1;
    rememberSettings();
}

void cb_PrefsCloseButton(Fl_Widget* w, void* data)
{
    prefsWindow->hide();
}

bool isPrefsWindow(const Fl_Window* w)
{
    return w && w == (const Fl_Window*)prefsWindow;
}

WriteSettings prefsSettings()
{
    WriteSettings s;
    s.turboMode = G_unlockBypassMode;
    s.writeN = write_N;
    s.skipChip = skipChip;
    s.eraseScope = eraseScope;
    s.verifyAfterWrite = verifyAfterWrite;
    return s;
}
