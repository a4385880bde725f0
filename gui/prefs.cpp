#include "gui/prefs.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>

#include <cstdio>

#include "gui/events.h"
#include "gui/log.h"
#include "gui/one_job.h"

uint8_t G_unlockBypassMode = TURBO_AUTO;
int write_N = 512;
int skipChip = -1;

Fl_Double_Window* prefsWindow = nullptr;
Fl_Choice* prefsUnlockButton = nullptr;
Fl_Choice* prefsWriteNButton = nullptr;
Fl_Choice* prefsWriteModeButton = nullptr;
Fl_Button* PrefsCloseButton = nullptr;

static const int WRITE_N_SMALL_ITEMS = 32;  // 1 to 32
static const int WRITE_N_LARGE_ITEMS = 16;  // 64 to 1024 in steps of 64

int makePrefsWindow()
{
    prefsWindow = new Fl_Double_Window(228, 120, "Preferences");

    prefsUnlockButton = new Fl_Choice(10, 10, 80, 20, "Turbo Mode");
    prefsUnlockButton->align(FL_ALIGN_RIGHT);
    prefsUnlockButton->add("Off");
    prefsUnlockButton->add("On");
    prefsUnlockButton->add("Auto");
    prefsUnlockButton->callback(cb_prefsUnlockButton);

    prefsWriteNButton = new Fl_Choice(10, 35, 80, 20, "Write_N");
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

    prefsWriteModeButton = new Fl_Choice(10, 60, 100, 20, "Write Processing");
    prefsWriteModeButton->align(FL_ALIGN_RIGHT);
    prefsWriteModeButton->add("Both chips");
    prefsWriteModeButton->add("Skip chip0");
    prefsWriteModeButton->add("Skip chip1");
    prefsWriteModeButton->callback(cb_prefsWriteModeButton);

    PrefsCloseButton = new Fl_Button(85, 90, 63, 20, "Close");
    PrefsCloseButton->callback(cb_PrefsCloseButton);

    prefsWindow->end();
    prefsWindow->resizable(prefsWindow);
    prefsWindow->size_range(220, 140);
    prefsWindow->set_modal();

    if (unsigned(write_N) <= 32)
        prefsWriteNButton->value(write_N - 1);
    else
        prefsWriteNButton->value(write_N / 64 + 31);

    switch (G_unlockBypassMode) {
    case TURBO_ON: prefsUnlockButton->value(1); break;
    case TURBO_OFF: prefsUnlockButton->value(0); break;
    case TURBO_AUTO: prefsUnlockButton->value(2); break;
    default: printWindow("Unknown G_unlockBypassMode mode value %d", G_unlockBypassMode);
    }
    switch (skipChip) {
    case 1: prefsWriteModeButton->value(2); break;
    case 0: prefsWriteModeButton->value(1); break;
    case -1: prefsWriteModeButton->value(0); break;
    default: printWindow("Unknown skipChip mode value %d", skipChip);
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
    CommandScope command("Preferences");
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
    return s;
}
