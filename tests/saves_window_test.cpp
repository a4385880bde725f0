// The "Saves" window as the user meets it: opened from its button, an entry
// picked with the arrow keys, buttons clicked and questions answered, over
// the simulated cartridge and a vault in the test's scratch folder.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Output.H>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

#include "core/saves/safety_copy.h"
#include "gui/log.h"
#include "core/saves/vault.h"
#include "gui/commands.h"
#include "gui/main_window.h"
#include "gui/on_screen.h"
#include "gui/saves_window.h"
#include "support/job_helpers.h"

namespace {

void send(Fl_Window* w, int event, int keysym, int state = 0)
{
    Fl::e_keysym = keysym;
    Fl::e_state = state;
    Fl::handle(event, w);
}

void click(Fl_Widget* b)
{
    Fl::e_x = b->x() + b->w() / 2;
    Fl::e_y = b->y() + b->h() / 2;
    send(b->window(), FL_PUSH, FL_Button + FL_LEFT_MOUSE, FL_BUTTON1);
    send(b->window(), FL_RELEASE, FL_Button + FL_LEFT_MOUSE);
}

Lines listed()
{
    Lines lines;
    for (int i = 1; i <= savesList->size(); i++)
        lines.push_back(savesList->text(i));
    return lines;
}

// Up to the top, then down until the selected line holds `text`.
void pick(const char* text)
{
    Fl::focus(savesList);
    for (int i = 0; i < 2 * savesList->size(); i++) {
        if (savesList->value() && strstr(savesList->text(savesList->value()), text))
            return;
        send(savesWindow, FL_KEYBOARD, i < savesList->size() ? FL_Up : FL_Down);
    }
    ADD_FAILURE() << "no line holds " << text;
}

// One step at a time, each on the Saves window once nothing runs from it or
// on a question; a watchdog closes every window when ten seconds pass with
// no step, so a broken one fails, while a slow machine is only slow.
struct Step {
    bool onQuestion;
    std::function<void(Fl_Window*)> act;
};
std::vector<Step> g_steps;
size_t g_next = 0;
int g_ticks = 0;
std::string g_question;

void tick(void*)
{
    Fl::repeat_timeout(0.02, tick);
    Fl_Window* m = Fl::modal();
    if (++g_ticks > 500)
        while (Fl::first_window())
            Fl::first_window()->hide();
    else if (m && g_next < g_steps.size() &&
             (g_steps[g_next].onQuestion ? m != savesWindow && m != (Fl_Window*)progress_window
                                         : m == savesWindow && savesWindow->active())) {
        g_ticks = 0;
        g_steps[g_next++].act(m);
    }
}

Step onWindow(std::function<void()> act)
{
    return {false, [act](Fl_Window*) { act(); }};
}

// Clicks `button` (or presses Enter), keeping the question's text (its
// longest label).
Step answer(const char* button)
{
    return {true, [button](Fl_Window* w) {
                if (strcmp(button, "Enter") == 0) {
                    Fl::e_keysym = FL_Enter, Fl::e_state = 0, Fl::e_text = const_cast<char*>("\r"), Fl::e_length = 1;
                    Fl::handle(FL_KEYBOARD, w);
                    return;
                }
                g_question.clear();
                Fl_Widget* chosen = nullptr;
                for (int i = 0; i < w->children(); i++) {
                    Fl_Widget* c = w->child(i);
                    if (dynamic_cast<Fl_Button*>(c) && c->visible() && !strcmp(c->label(), button))
                        chosen = c;
                    else if (c->label() && strlen(c->label()) > g_question.size())
                        g_question = c->label();
                }
                ASSERT_NE(chosen, nullptr) << button;
                click(chosen);
            }};
}

class SavesWindow : public JobTest {
protected:
    void SetUp() override
    {
        JobTest::SetUp();
        sim::setEraseTimes(0.001, 0.01);
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    void TearDown() override
    {
        unsetenv("TZ");
        tzset();
        g_openFolder = nullptr;
        JobTest::TearDown();
    }
    // Opens the window from its button, acts the steps out, then closes it
    // (unless the steps closed the program).
    void openSaves(std::vector<Step> steps, bool closeAtEnd = true)
    {
        g_steps = std::move(steps);
        if (closeAtEnd)
            g_steps.push_back(onWindow([] { click(savesCloseButton); }));
        g_next = g_ticks = 0;
        Fl::add_timeout(0.02, tick);
        saves_button->do_callback();
        Fl::remove_timeout(tick);
        EXPECT_EQ(g_next, g_steps.size()) << "the window closed before the user was done";
        EXPECT_EQ(savesWindow, nullptr);
    }
    std::string game(const std::string& name) { return safetyCopyRoot() + "/" + name; }
};

const time_t WHEN = 1729989000;  // 2024-10-27 00:30 UTC

// By game, newest first, with date, size and what made it; nothing can be
// written until an entry is picked, which then shows its whole path.
TEST_F(SavesWindow, ListsEveryCopyAndBackupByGame)
{
    Lines shown[2];
    std::string picked, path, mine = scratchPath("mine.ngf");
    bool writable[3] = {};
    openSaves({onWindow([&] { shown[0] = listed(), writable[0] = savesWriteButton->active(); })});
    for (auto [name, bytes, when] : {std::make_tuple("SONIC-0061", 10, WHEN), std::make_tuple("SONIC-0061", 11, WHEN + 60),
                                     std::make_tuple("PUZZLE-0002", 40, WHEN + 5)})
        ASSERT_TRUE(storeSafetyCopy(windowReporter(), game(name), pattern(bytes), when, &path));
    writeFile(mine, saveOfSize(30));
    const timespec yearAgo[2] = {{WHEN - 365 * 86400, 0}, {WHEN - 365 * 86400, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, mine.c_str(), yearAgo, 0), 0);
    ASSERT_TRUE(registerBackup("SONIC-0061", mine));
    openSaves({onWindow([&] {
        shown[1] = listed(), writable[1] = savesWriteButton->active();
        pick("your backup");
        picked = savesPath->value(), writable[2] = savesWriteButton->active() && savesDeleteButton->active();
    })});
    EXPECT_EQ(shown[0], Lines{"No safety copies or save-game backups yet."});
    EXPECT_EQ(shown[1], (Lines{"@b@.PUZZLE, serial 0002", "  2024-10-27 00:30:05\t40 bytes\tsafety copy before a write",
                               "@b@.SONIC, serial 0061", "  2024-10-27 00:31:00\t11 bytes\tsafety copy before a write",
                               "  2024-10-27 00:30:00\t10 bytes\tsafety copy before a write",
                               "  2023-10-28 00:30:00\t30 bytes\tyour backup"}));
    EXPECT_EQ(picked, fs::canonical(mine).string());
    EXPECT_EQ(std::vector<bool>(writable, writable + 3), (std::vector<bool>{false, false, true}));
}

// Written back byte for byte by Write Savegame's own job, and the list then
// shows the copy that write made; a save of another game is asked about
// first, naming both games, and Cancel writes nothing, nor does closing the
// main window while the question is up (the last answer given was yes).
TEST_F(SavesWindow, WritesTheSaveBackAndAsksBeforeAnotherGame)
{
    std::string backup = scratchPath("game.ngf");
    runWithFile("save-backup", backup);
    const Bytes saved = slice(sim::chip(0).contents(), 0x1FA000, 0x2000);
    auto play = [] {
        Bytes b = pattern(0x2000, uint32_t(sim::clockSeconds() * 1000));
        std::copy(b.begin(), b.end(), sim::chip(0).contents().begin() + 0x1FA000);
        clearLog();
        return sim::chip(0).contents();
    };
    Step writeBackup = onWindow([] { pick("your backup"), click(savesWriteButton); });
    Lines shown;
    play();
    openSaves({writeBackup, onWindow([&] { shown = listed(); })});
    EXPECT_EQ(slice(sim::chip(0).contents(), 0x1FA000, 0x2000), saved);
    EXPECT_TRUE(logEndsWith(Lines{"Writing a save-game done.", "Wrote 0x2000 bytes in {s} seconds."} + safetyCopyLines()));
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_NE(shown[1].find("\t8208 bytes\tsafety copy before a write"), std::string::npos) << shown[1];

    std::copy_n("OTHER GAME  ", 12, sim::chip(0).contents().begin() + 0x24);
    Step closeProgram{true, [](Fl_Window*) { closingDown(window, nullptr); }};
    for (const char* given : {"Cancel", "Enter", "&Write anyway", "close"}) {
        SCOPED_TRACE(given);
        const bool written = strcmp(given, "&Write anyway") == 0, closed = strcmp(given, "close") == 0;
        const Bytes before = play();
        sim::Mark m = sim::mark();
        openSaves({writeBackup, closed ? closeProgram : answer(given)}, !closed);
        EXPECT_TRUE(closed || strcmp(given, "Enter") == 0 || g_question == "This is a save of SIM_OFFICIAL-1234, and the cartridge is OTHER_GAME-1234.\n"
                              "Write it to this cartridge anyway?") << g_question;
        if (written) {
            EXPECT_EQ(slice(sim::chip(0).contents(), 0x1FA000, 0x2000), saved);
            EXPECT_NE(safetyCopyLines()[1].find("/OTHER_GAME-1234/"), std::string::npos) << safetyCopyLines()[1];
            continue;
        }
        EXPECT_EQ(sim::chip(0).contents(), before);
        EXPECT_TRUE(commandsSince(m, CMD_FLASH_WRITE_32).empty());
        EXPECT_TRUE(logIs({"'" + fs::canonical(backup).string() + "':", "a save of SIM_OFFICIAL-1234,",
                           "and the cartridge is OTHER_GAME-1234;", "nothing was written to the cartridge."}));
    }
}

// Delete asks, then removes the file; Open folder hands the file's folder
// to the launcher, and one that fails is logged: without xdg-open, with the
// folder's path to copy from the path field.
TEST_F(SavesWindow, DeleteAsksFirstAndOpenFolderHandsOverTheFolder)
{
    std::string copy, mine = scratchPath("mine.ngf");
    ASSERT_TRUE(storeSafetyCopy(windowReporter(), game("SONIC-0061"), pattern(10), WHEN, &copy));
    writeFile(mine, saveOfSize(30));
    ASSERT_TRUE(registerBackup("SONIC-0061", mine));
    Lines opened, shown;
    g_openFolder = [&](const std::string& f) {
        opened.push_back(f);
        errno = opened.size() == 2 ? ENOENT : EACCES;
        return opened.size() == 1;
    };
    bool keptOnCancel = false, keptOnEnter = false;
    std::string pathField;
    openSaves({onWindow([] { pick("safety copy"), click(savesDeleteButton); }), answer("Cancel"),
               onWindow([&] { keptOnCancel = fs::exists(copy), click(savesDeleteButton); }), answer("Enter"),
               onWindow([&] { keptOnEnter = fs::exists(copy), click(savesDeleteButton); }), answer("&Delete"),
               onWindow([&] { shown = listed(), pick("your backup"), click(savesFolderButton), click(savesFolderButton); }),
               onWindow([&] { pathField = savesPath->value(), click(savesFolderButton); })});
    EXPECT_TRUE(keptOnCancel);
    EXPECT_TRUE(keptOnEnter);
    EXPECT_FALSE(fs::exists(copy));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_NE(shown[1].find("your backup"), std::string::npos);
    const std::string folder = fs::canonical(mine).parent_path();
    EXPECT_EQ(opened, Lines(3, folder));
    EXPECT_EQ(pathField, folder);
    EXPECT_TRUE(logIs({"Deleted '" + copy + "'.", "xdg-open is missing: install xdg-utils to open folders.",
                       "The folder is '" + folder + "'.", "Could not open the folder '" + folder + "': Permission denied"}));
}

// Browsing and deleting need no linker; writing back does.
TEST_F(SavesWindow, WithoutALinkerOnlyWritingIsGreyedOut)
{
    std::string copy;
    ASSERT_TRUE(storeSafetyCopy(windowReporter(), game("SONIC-0061"), pattern(10), WHEN, &copy));
    closeLink();
    sim::noDevice();
    bool writable = true, deletable = false, openable = false;
    openSaves({onWindow([&] {
        pick("safety copy");
        writable = savesWriteButton->active(), deletable = savesDeleteButton->active();
        openable = savesFolderButton->active();
    })});
    EXPECT_FALSE(writable);
    EXPECT_TRUE(deletable && openable);
}

// The Saves window opens beside the main window, right where there is room,
// else left, its top level with the main window's and on the screen; it
// never covers the log.
TEST(SavesWindowPlace, BesideTheMainWindowOnTheScreen)
{
    int sx, sy, sw, sh;
    Fl::screen_work_area(sx, sy, sw, sh, 0, 0);
    const int GAP = 12, W = 300, H = 200;
    const struct { int x, y, w; int wantX, wantY; } cases[] = {
        {sx + 10, sy + 40, 400, sx + 10 + 400 + GAP, sy + 40},           // room on the right
        {sx + sw - 420, sy + 40, 400, sx + sw - 420 - GAP - W, sy + 40},  // only on the left
        {sx + 10, sy + sh - 50, 400, sx + 10 + 400 + GAP, sy + sh - H},   // kept on the screen
    };
    for (const auto& c : cases) {
        Fl_Window main(c.x, c.y, c.w, 300), saves(0, 0, W, H);
        placeBeside(&saves, &main);
        EXPECT_EQ(std::make_pair(saves.x(), saves.y()), std::make_pair(c.wantX, c.wantY)) << c.x << "," << c.y;
        EXPECT_TRUE(saves.x() >= main.x() + main.w() || saves.x() + saves.w() <= main.x()) << "over the log";
    }
}

}  // namespace
