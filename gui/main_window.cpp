#include "gui/main_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <cstdint>

#include "core/commands.h"
#include "core/cart/detect.h"
#include "core/link/linker.h"
#include "gui/commands.h"
#include "gui/events.h"
#include "gui/link_watch.h"
#include "gui/log.h"
#include "gui/log_browser.h"
#include "gui/one_job.h"
#include "gui/prefs.h"
#include "gui/progress.h"
#include "gui/saves_window.h"
#include "gui/why_off.h"

Fl_Double_Window* window = nullptr;
Fl_Group* operations_group = nullptr;
Fl_Button* saves_button = nullptr;
Fl_Button* preferences = nullptr;

static const int WIN_W = 430, WIN_H = 429;
static const int BUTTON_X = 309, BUTTON_W = 108, BUTTON_H = 20;
static const Fl_Color BACKDROP_COLOR = 47;

// No widget in the main window uses Ctrl+C, so the window takes it for the log.
class MainWindow : public Fl_Double_Window {
public:
    using Fl_Double_Window::Fl_Double_Window;

    int handle(int event) override
    {
        if ((event == FL_KEYBOARD || event == FL_SHORTCUT) && Fl::event_key() == 'c' &&
            (Fl::event_state() & (FL_CTRL | FL_ALT | FL_META)) == FL_CTRL) {
            copyLogToClipboard();
            return 1;
        }
        return Fl_Double_Window::handle(event);
    }
};

// A label wider than its button spills over the frame: it is drawn a size
// smaller, as far as that takes. Its room is the button less the frame's
// line on either side and the embossing's shadow.
static void fitLabel(Fl_Widget* b)
{
    fl_open_display();
    const int room = b->w() - 3;
    for (int size = b->labelsize(); size > 9; size--) {
        fl_font(b->labelfont(), size);
        b->labelsize(size);
        if (fl_width(b->label()) <= room)
            break;
    }
}

// The buttons keep their size and place in a taller window, and the grey
// behind them reaches down as far as the log does.
class ButtonColumn : public Fl_Group {
public:
    using Fl_Group::Fl_Group;

    void resize(int x, int y, int w, int h) override
    {
        const int foot = this->h() - child(0)->h();
        Fl_Group::resize(x, y, w, h);
        child(0)->size(child(0)->w(), h - foot);
    }
};

template <class B>
static B* commandButton(int y, const char* label, const char* tip, Fl_Callback* cb, void* data = nullptr)
{
    B* b = new B(BUTTON_X, y, BUTTON_W, BUTTON_H, label);
    b->tooltip(tip);
    b->labeltype(FL_EMBOSSED_LABEL);
    b->labelsize(12);
    fitLabel(b);
    b->callback(cb, data);
    return b;
}

// While a modal window is up the toolkit drops a close request for any other
// window, so closing the main window during a job did nothing at all.
static int dispatch(int event, Fl_Window* w)
{
    if (event == FL_CLOSE && w == window && jobRunning()) {
        closingDown(window, nullptr);
        return 1;
    }
    return Fl::handle_(event, w);
}

static Fl_Button* commandButton(const CommandRow& c)
{
    const CommandButton& b = c.button;
    void* row = const_cast<CommandRow*>(&c);
    if (b.enter)
        return commandButton<Fl_Return_Button>(b.y, b.label, b.tooltip, cb_command_button, row);
    return commandButton<Fl_Button>(b.y, b.label, b.tooltip, cb_command_button, row);
}

static void greyButtons()
{
    operations_group->deactivate();
}

static void afterJob(bool closeAsked)
{
    if (closeAsked)
        shutDown();
    else
        lookAtLinker();
}

void buildMainWindow()
{
    // The toolkit's gtk+ look unless -scheme asks for another: the same
    // widgets in the same places, drawn as today's desktops draw them.
    Fl::scheme("gtk+");
    explainOffButtons();
    window = new MainWindow(WIN_W, WIN_H, "PocketTetherbox");

    operations_group = new ButtonColumn(298, 6, 127, 423);
    operations_group->deactivate();
    Fl_Box* backdrop = new Fl_Box(304, 6, 118, 415);
    backdrop->box(FL_THIN_DOWN_BOX);
    backdrop->color(BACKDROP_COLOR);

    // Creation order is the Tab order.
    for (const CommandRow* c : buttonCommands())
        commandButton(*c);
    // The column's first free place, below the commands and well above Preferences.
    saves_button = commandButton<Fl_Button>(211, "Saves", "Browse the safety copies and save-game backups, and write one back.",
                                            cb_saves_button);
    preferences = commandButton<Fl_Button>(395, "Preferences", "Set program options.", cb_preferences);
    // Saves' browsing, deleting and folder need no linker: its window greys
    // out only writing a save back.
    linkButtons(operations_group, saves_button);
    followJobs(greyButtons, afterJob);
    // The buttons keep their size and place (ButtonColumn).
    operations_group->resizable(nullptr);
    operations_group->end();

    text_browser = new LogBrowser(8, 7, 287, 414);
    text_browser->type(FL_NORMAL_BROWSER);
    text_browser->box(FL_THIN_DOWN_BOX);
    text_browser->textfont(FL_COURIER);
    text_browser->textsize(10);
    text_browser->has_scrollbar(Fl_Browser_::BOTH_ALWAYS);
    text_browser->scrollbar_right();

    window->end();
    // Wider or taller, the log takes the room: the buttons keep their size,
    // their order and their place beside it.
    window->resizable(text_browser);
    window->size_range(WIN_W, WIN_H, 0, 0);
    Fl::event_dispatch(dispatch);
}

bool startUp()
{
    CommandScope command(windowReporter(), "Start-up");
    loadRememberedSettings();
    buildMainWindow();
    window->hotspot(window);
    window->show();
    Fl::atclose = closingDown;
    Fl::lock();
    printWindow(windowReporter(), "");
    printWindow(windowReporter(), "-=> PocketTetherbox GUI v%d.%d build %d <=-", BANNER_MAJOR, BANNER_MINOR,
                BANNER_BUILD);
    printWindow(windowReporter(), "");
    letEventsThrough();

    // The window goes on looking for a linker whatever the opening found.
    linker().open(windowReporter(), greetWithCartCheck, true);
    watchLinker();
    return linker().ready();
}

void greetWithCartCheck(Link& link)
{
    Cart cart;
    uint8_t scratch = 0;
    checkCart(windowReporter(), link, &cart, &scratch, &scratch, &scratch, false, true);
}

void closingDown(Fl_Window* w, void* data)
{
    if (w == (Fl_Window*)progress_window) {
        cancelProgress();
        return;
    }
    if (isPrefsWindow(w)) {
        w->hide();
        return;
    }
    if (w == window) {
        // The job under way still talks to the linker: it is cancelled now,
        // and the linker let go only once it has ended.
        if (jobRunning())
            closeWhenJobEnds();
        else
            shutDown();
        return;
    }
    w->hide();
}

void shutDown()
{
    closeProgressWindow();
    stopWatchingLinker();
    linker().close();
    if (window)
        window->hide();
}
