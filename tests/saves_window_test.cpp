// The "Saves" window as the user meets it: opened from its button, an entry
// picked with the keys, buttons clicked, questions answered; against the
// simulated cartridge and a vault in the test's scratch folder.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Box.H>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

#include "core/saves/safety_copy.h"
#include "core/saves/vault.h"
#include "gui/commands.h"
#include "gui/main_window.h"
#include "gui/saves_window.h"
#include "support/job_helpers.h"

namespace {

void key(Fl_Window* w, int keysym)
{
    Fl::e_keysym = keysym;
    Fl::e_state = 0;
    Fl::e_text = const_cast<char*>("");
    Fl::e_length = 0;
    Fl::handle(FL_KEYBOARD, w);
}

void click(Fl_Widget* b)
{
    Fl_Window* w = b->window();
    Fl::e_x = b->x() + b->w() / 2;
    Fl::e_y = b->y() + b->h() / 2;
    Fl::e_x_root = w->x() + Fl::e_x;
    Fl::e_y_root = w->y() + Fl::e_y;
    Fl::e_keysym = FL_Button + FL_LEFT_MOUSE;
    Fl::e_state = FL_BUTTON1;
    Fl::handle(FL_PUSH, w);
    Fl::e_state = 0;
    Fl::handle(FL_RELEASE, w);
}

// The list's lines as the browser holds them.
Lines listed()
{
    Lines lines;
    for (int i = 1; i <= savesList->size(); i++)
        lines.push_back(savesList->text(i));
    return lines;
}

// Arrow keys, top to bottom, until the selected line holds `text`.
void pick(const std::string& text)
{
    Fl::focus(savesList);
    for (int i = 0; i < savesList->size(); i++)
        key(savesWindow, FL_Up);
    for (int i = 0; i <= savesList->size(); i++, key(savesWindow, FL_Down))
        if (savesList->value() && strstr(savesList->text(savesList->value()), text.c_str()))
            return;
    ADD_FAILURE() << "no line holds " << text;
}

// What the user does, one step at a time: on the Saves window once nothing
// runs from it, or on the question a step before raised. A watchdog closes
// every window after ten seconds, so a broken window fails instead of hanging.
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
    if (++g_ticks > 500) {
        for (Fl_Window* w = Fl::first_window(); w; w = Fl::first_window())
            w->hide();
        return;
    }
    if (!m || !m->shown() || g_next >= g_steps.size())
        return;
    bool question = m != savesWindow && m != (Fl_Window*)progress_window;
    if (g_steps[g_next].onQuestion ? question : m == savesWindow && savesWindow->active())
        g_steps[g_next++].act(m);
}

Step onWindow(std::function<void()> act)
{
    return {false, [act](Fl_Window*) { act(); }};
}

// The question's text is kept; `button` answers it.
Step answer(const char* button)
{
    return {true, [button](Fl_Window* w) {
                g_question.clear();
                Fl_Button* chosen = nullptr;
                for (int i = 0; i < w->children(); i++) {
                    Fl_Widget* c = w->child(i);
                    Fl_Button* b = dynamic_cast<Fl_Button*>(c);
                    if (b && b->visible() && b->label() && strcmp(b->label(), button) == 0)
                        chosen = b;
                    else if (!b && c->label() && strlen(c->label()) > g_question.size())
                        g_question = c->label();  // the text, not the icon beside it
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
    // Opens the window from its button, acts the steps out, then closes it.
    void openSaves(std::vector<Step> steps)
    {
        g_steps = std::move(steps);
        g_steps.push_back(onWindow([] { click(savesCloseButton); }));
        g_next = 0;
        g_ticks = 0;
        Fl::add_timeout(0.02, tick);
        saves_button->do_callback();
        Fl::remove_timeout(tick);
        EXPECT_LE(g_ticks, 500) << "a window was left waiting";
        EXPECT_EQ(g_next, g_steps.size()) << "the window closed before the user was done";
        EXPECT_EQ(savesWindow, nullptr);
    }
    std::string game(const std::string& name) { return safetyCopyRoot() + "/" + name; }
};

// 2024-10-27 00:30 UTC.
const time_t WHEN = 1729989000;

// Grouped by game, newest first, each with its date, size and what made it;
// an entry picked shows its whole file, a '@' in it drawn as it is.
TEST_F(SavesWindow, ListsEveryCopyAndBackupByGame)
{
    Lines shown;
    bool writable = true;
    auto look = [&] { shown = listed(); writable = savesWriteButton->active(); };
    openSaves({onWindow(look)});
    EXPECT_EQ(shown, Lines{"No safety copies or save-game backups yet."});
    EXPECT_FALSE(writable);

    std::string path, mine = scratchPath("mine@home.ngf");
    ASSERT_TRUE(storeSafetyCopy(game("SONIC-0061"), pattern(10), WHEN, &path));
    ASSERT_TRUE(storeSafetyCopy(game("SONIC-0061"), pattern(11), WHEN + 60, &path));
    ASSERT_TRUE(storeSafetyCopy(game("PUZZLE-0002"), pattern(40), WHEN + 5, &path));
    writeFile(mine, pattern(30));
    const timespec yearAgo[2] = {{WHEN - 365 * 86400, 0}, {WHEN - 365 * 86400, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, mine.c_str(), yearAgo, 0), 0);
    ASSERT_TRUE(registerBackup("SONIC-0061", mine));
    std::string picked;
    bool pickedWritable = false;
    openSaves({onWindow(look), onWindow([&] {
                   pick("your backup");
                   picked = savesPath->label();
                   pickedWritable = savesWriteButton->active() && savesDeleteButton->active();
               })});
    EXPECT_EQ(shown, (Lines{"@b@.PUZZLE, serial 0002", "  2024-10-27 00:30:05\t40 bytes\tsafety copy before a write",
                            "@b@.SONIC, serial 0061", "  2024-10-27 00:31:00\t11 bytes\tsafety copy before a write",
                            "  2024-10-27 00:30:00\t10 bytes\tsafety copy before a write",
                            "  2023-10-28 00:30:00\t30 bytes\tyour backup"}));
    EXPECT_FALSE(writable) << "nothing is selected when the window opens";
    std::string whole = fs::canonical(mine).string();
    EXPECT_EQ(picked, whole.replace(whole.find('@'), 1, "@@"));
    EXPECT_TRUE(pickedWritable);
}

// Written back byte for byte by Write Savegame's own job, the list showing
// the copy that write made; a save of another game is asked about first,
// naming both, and Cancel writes nothing.
TEST_F(SavesWindow, WritesTheSaveBackAndAsksBeforeAnotherGame)
{
    std::string backup = scratchPath("game.ngf");
    runWithFile(cb_backupSaveGame_button, backup);
    ASSERT_EQ(findLine("Save-game backup done."), 1);
    const Bytes saved = slice(sim::chip(0).contents(), 0x1FA000, 0x2000);
    auto play = [] {
        Bytes b = pattern(0x2000, uint32_t(sim::clockSeconds() * 1000));
        std::copy(b.begin(), b.end(), sim::chip(0).contents().begin() + 0x1FA000);
        return sim::chip(0).contents();
    };
    auto writeBackup = onWindow([] {
        pick("your backup");
        click(savesWriteButton);
    });
    Lines shown;
    play();
    clearLog();
    openSaves({writeBackup, onWindow([&] { shown = listed(); })});
    EXPECT_EQ(slice(sim::chip(0).contents(), 0x1FA000, 0x2000), saved);
    EXPECT_TRUE(logEndsWith({"Writing a save-game", "Writing a save-game done.", "Wrote 0x2000 bytes in {s} seconds.",
                             safetyCopyLine()}));
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_NE(shown[1].find("\t8208 bytes\tsafety copy before a write"), std::string::npos) << shown[1];

    std::copy_n("OTHER GAME  ", 12, sim::chip(0).contents().begin() + 0x24);
    const struct { const char* button; bool written; } answers[] = {{"Cancel", false}, {"Write anyway", true}};
    for (const auto& a : answers) {
        SCOPED_TRACE(a.button);
        const Bytes before = play();
        clearLog();
        sim::Mark m = sim::mark();
        openSaves({writeBackup, answer(a.button)});
        EXPECT_EQ(g_question, "This is a save of SIM_OFFICIAL-1234, and the cartridge is OTHER_GAME-1234.\n"
                              "Write it to this cartridge anyway?");
        if (a.written) {
            EXPECT_EQ(slice(sim::chip(0).contents(), 0x1FA000, 0x2000), saved);
            EXPECT_NE(safetyCopyLine().find("/OTHER_GAME-1234/"), std::string::npos) << safetyCopyLine();
            continue;
        }
        EXPECT_EQ(sim::chip(0).contents(), before);
        EXPECT_TRUE(commandsSince(m, CMD_FLASH_WRITE_32).empty());
        EXPECT_TRUE(logIs({"restoreSaveGameToCart: '" + fs::canonical(backup).string() +
                           "' is a save of SIM_OFFICIAL-1234, and the cartridge is OTHER_GAME-1234; nothing was "
                           "written to the cartridge."}));
    }
}

// Delete asks first and then removes the file; Open folder hands the
// file's folder to the launcher, and a launcher that fails is logged.
TEST_F(SavesWindow, DeleteAsksFirstAndOpenFolderHandsOverTheFolder)
{
    std::string copy, mine = scratchPath("mine.ngf");
    ASSERT_TRUE(storeSafetyCopy(game("SONIC-0061"), pattern(10), WHEN, &copy));
    writeFile(mine, pattern(30));
    ASSERT_TRUE(registerBackup("SONIC-0061", mine));
    Lines opened, shown;
    g_openFolder = [&](const std::string& folder) {
        opened.push_back(folder);
        errno = ENOENT;
        return opened.size() == 1;
    };
    bool keptOnCancel = false;
    openSaves({onWindow([] {
                   pick("safety copy");
                   click(savesDeleteButton);
               }),
               answer("Cancel"),
               onWindow([&] {
                   keptOnCancel = fs::exists(copy);
                   click(savesDeleteButton);
               }),
               answer("Delete"),
               onWindow([&] {
                   shown = listed();
                   pick("your backup");
                   click(savesFolderButton);
                   click(savesFolderButton);
               })});
    EXPECT_TRUE(keptOnCancel);
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_TRUE(fs::exists(mine));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_NE(shown[1].find("your backup"), std::string::npos);
    std::string folder = fs::canonical(mine).parent_path().string();
    EXPECT_EQ(opened, Lines(2, folder));
    EXPECT_TRUE(logIs({"Deleted '" + copy + "'.",
                       "Could not open the folder '" + folder + "': No such file or directory"}));
}

}  // namespace
