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

WriteSettings& windowSettings()
{
    static WriteSettings settings;
    return settings;
}

Fl_Double_Window* prefsWindow = nullptr;
Fl_Choice* prefsUnlockButton = nullptr;
Fl_Choice* prefsWriteNButton = nullptr;
Fl_Choice* prefsWriteModeButton = nullptr;
Fl_Choice* prefsEraseButton = nullptr;
Fl_Choice* prefsVerifyButton = nullptr;
Fl_Choice* prefsReadTwiceButton = nullptr;
Fl_Button* PrefsCloseButton = nullptr;

// Wide and tall enough for every label whole; never made smaller.
static const int PREFS_W = 290, PREFS_H = 195;
// 48 items at the usual size make a menu some 960 pixels tall: a smaller
// size keeps the Write_N menu on an 800-pixel screen.
static const int LONG_MENU_ITEMS = 32;
static const int LONG_MENU_TEXT_SIZE = 9;

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
    for (const SettingRow& row : writeSettingRows()) {
        if (!row.keptAs)
            continue;
        const SettingChoice* c = nullptr;
        if (row.choices[0].kept) {
            char name[32];
            flash.get(row.keptAs, name, row.choices[0].kept, sizeof name);
            for (const SettingChoice& choice : row.choices)
                if (strcmp(name, choice.kept) == 0)
                    c = &choice;
        } else {
            int value = 0;
            flash.get(row.keptAs, value, row.choices[0].value);
            c = row.choiceFor(value != 0);
        }
        if (c)
            row.set(windowSettings(), c->value);
    }
}

void rememberSettings()
{
    Fl_Preferences all = userPrefs();
    Fl_Preferences flash(all, "flash");
    for (const SettingRow& row : writeSettingRows()) {
        const SettingChoice* c = row.keptAs ? row.choiceFor(row.get(windowSettings())) : nullptr;
        if (c && c->kept)
            flash.set(row.keptAs, c->kept);
        else if (c)
            flash.set(row.keptAs, c->value);
    }
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
    Fl_Choice** menus[] = {&prefsUnlockButton, &prefsWriteNButton, &prefsWriteModeButton, &prefsEraseButton,
                           &prefsVerifyButton, &prefsReadTwiceButton};
    const std::vector<SettingRow>& rows = writeSettingRows();
    for (size_t i = 0; i < rows.size(); i++) {
        const SettingRow& row = rows[i];
        const bool longMenu = row.choices.size() > LONG_MENU_ITEMS;
        int y = 10 + int(i) * 25;
        Fl_Choice* menu = longMenu ? new OnScreenChoice(10, y, row.menuWidth, 20, row.label)
                                   : new Fl_Choice(10, y, row.menuWidth, 20, row.label);
        menu->align(FL_ALIGN_RIGHT);
        for (const SettingChoice& c : row.choices)
            menu->add(c.label.c_str());
        menu->callback(cb_prefsMenu, const_cast<SettingRow*>(&row));
        if (longMenu)
            menu->textsize(LONG_MENU_TEXT_SIZE);
        menu->tooltip(row.tooltip);
        *menus[i] = menu;
    }

    PrefsCloseButton = new Fl_Button((PREFS_W - 63) / 2, 15 + int(rows.size()) * 25, 63, 20, "Close");
    PrefsCloseButton->callback(cb_PrefsCloseButton);

    prefsWindow->end();
    prefsWindow->resizable(prefsWindow);
    prefsWindow->size_range(PREFS_W, PREFS_H);
    prefsWindow->set_modal();

    for (size_t i = 0; i < rows.size(); i++) {
        int value = rows[i].get(windowSettings());
        const SettingChoice* c = rows[i].choiceFor(value);
        if (c)
            (*menus[i])->value(int(c - rows[i].choices.data()));
        else if (rows[i].unknownLine)
            printWindow(windowReporter(), rows[i].unknownLine, value);
    }

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

void cb_prefsMenu(Fl_Widget* w, void* data)
{
    const SettingRow& row = *static_cast<const SettingRow*>(data);
    int i = static_cast<Fl_Choice*>(w)->value();
    if (i < 0 || size_t(i) >= row.choices.size())
        return;
    row.set(windowSettings(), row.choices[size_t(i)].value);
    if (row.keptAs)
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

