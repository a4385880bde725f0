// The toolkit's file chooser as the user meets it: a name typed over the
// one proposed, or edited, is taken exactly as typed, and a saving chooser
// asks before it replaces a file. Driven by key presses and clicks.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_File_Input.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "gui/file_choice.h"
#include "support/find_widget.h"

namespace fs = std::filesystem;

namespace {

void key(Fl_Window* w, int keysym, const char* text = "")
{
    Fl::e_keysym = keysym;
    Fl::e_state = 0;
    Fl::e_text = const_cast<char*>(text);
    Fl::e_length = int(strlen(text));
    Fl::handle(FL_KEYBOARD, w);
}

void type(Fl_Window* w, const std::string& s)
{
    for (char c : s) {
        char one[2] = {c, 0};
        key(w, (unsigned char)c, one);
    }
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

// One step per window the user meets: the chooser or the question asked
// before replacing a file. A chooser and the question alternate, so a window
// other than the last one acted on is the next one met.
using Step = std::function<void(Fl_Window*)>;
std::vector<Step> g_steps;
size_t g_next = 0;
Fl_Window* g_acted = nullptr;
Fl_Window* g_seen = nullptr;
int g_steady = 0;
int g_ticks = 0;
// Only a window left waiting reaches this many ticks with no step taken; a
// loaded machine filling in the chooser slowly does not.
const int TICKS_WITHOUT_A_STEP = 1500;

void tick(void*)
{
    Fl::repeat_timeout(0.02, tick);
    Fl_Window* m = Fl::modal();
    if (++g_ticks > TICKS_WITHOUT_A_STEP) {
        std::vector<Fl_Window*> shown;
        for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w))
            shown.push_back(w);
        for (Fl_Window* w : shown)
            w->hide();
        return;
    }
    // A window is acted on once it has stayed up a few ticks: the chooser
    // is still being filled in when it first shows.
    if (!m)
        g_acted = nullptr;  // a window met next may reuse a closed one's place
    g_steady = m && m == g_seen ? g_steady + 1 : 0;
    g_seen = m;
    if (m && m->shown() && m != g_acted && g_steady >= 3 && g_next < g_steps.size()) {
        g_acted = m;
        g_ticks = 0;
        g_steps[g_next++](m);
    }
}

std::string choose(FileChoiceMode mode, const std::string& proposed, std::vector<Step> steps)
{
    g_steps = std::move(steps);
    g_next = 0;
    g_ticks = 0;
    g_acted = g_seen = nullptr;
    g_steady = 0;
    Fl::add_timeout(0.02, tick);
    std::string path;
    bool chosen = chooseFile("Select file for backup", "*.{ngp,rom,bin}", mode, proposed.c_str(), &path);
    Fl::remove_timeout(tick);
    EXPECT_LE(g_ticks, TICKS_WITHOUT_A_STEP) << "a window was left waiting";
    EXPECT_EQ(g_next, g_steps.size()) << "the user met fewer windows than expected";
    return chosen ? path : "(none)";
}

Fl_File_Input* nameField(Fl_Window* w)
{
    Fl_File_Input* f = findIn<Fl_File_Input>(w);
    if (f)
        Fl::focus(f);
    return f;
}

// Types `text` over what the field holds (selected, as proposed).
Step typeOver(const std::string& text, std::string* shown = nullptr)
{
    return [=](Fl_Window* w) {
        Fl_File_Input* f = nameField(w);
        ASSERT_NE(f, nullptr);
        if (shown)
            *shown = f->value();
        EXPECT_EQ(f->mark(), 0) << "the proposal is selected, to be typed over";
        EXPECT_EQ(f->position(), f->size());
        type(w, text);
        key(w, FL_Enter, "\r");
    };
}

// Types `text` over the proposal and clicks OK.
Step typeThenOk(const std::string& text)
{
    return [=](Fl_Window* w) {
        nameField(w);
        type(w, text);
        Fl_Return_Button* ok = findIn<Fl_Return_Button>(w);
        ASSERT_NE(ok, nullptr);
        click(ok);
    };
}

// Edits the end of the proposal: `erase` characters off, `add` typed on.
Step editEnd(int erase, const std::string& add)
{
    return [=](Fl_Window* w) {
        nameField(w);
        key(w, FL_End);
        for (int i = 0; i < erase; i++)
            key(w, FL_BackSpace);
        type(w, add);
        key(w, FL_Enter, "\r");
    };
}

Step answer(const char* button, std::string* message)
{
    return [=](Fl_Window* w) {
        // The question names the file it would replace.
        *message = "";
        for (int i = 0; i < w->children(); i++)
            if (w->child(i)->label() && !w->child(i)->as_group() && !dynamic_cast<Fl_Button*>(w->child(i)))
                *message += w->child(i)->label();
        if (strcmp(button, "Escape") == 0 || strcmp(button, "Enter") == 0) {
            strcmp(button, "Enter") ? key(w, FL_Escape, "\033") : key(w, FL_Enter, "\r");
            return;
        }
        Fl_Button* b = findIn<Fl_Button>(w, button);
        ASSERT_NE(b, nullptr) << button;
        click(b);
    };
}

class FileChoice : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_fileChoiceHook = nullptr;
        dir = fs::temp_directory_path() / ("ptb-choice-" + std::to_string(getpid()));
        fs::create_directories(dir / "other");
        std::ofstream(dir / "SIM OFFICIAL.ngp") << "an earlier dump";
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(FileChoice, WhatIsTypedIsWhatIsChosen)
{
    const std::string proposed = (dir / "NEW GAME.ngp").string();
    std::string shown;
    setenv("PTB_CHOICE_DIR", dir.c_str(), 1);
    const struct { const char* what; Step step; std::string path; } rows[] = {
        {"typed over", typeOver("backup1.ngp", &shown), (dir / "backup1.ngp").string()},
        {"edited", editEnd(4, "-2.rom"), (dir / "NEW GAME-2.rom").string()},
        {"a folder typed", typeOver("other/b.ngp"), (dir / "other/b.ngp").string()},
        {"a whole path typed", typeOver((dir / "other/c.bin").string()), (dir / "other/c.bin").string()},
        {"a name led by ~", typeOver("~draft.ngp"), (dir / "~draft.ngp").string()},
        {"a name led by $", typeOver("$5 game.ngp"), (dir / "$5 game.ngp").string()},
        {"a variable's folder", typeOver("$PTB_CHOICE_DIR/other/d.ngp"), (dir / "other/d.ngp").string()},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(choose(CHOOSE_CREATE, proposed, {r.step}), r.path);
    }
    EXPECT_EQ(shown, "NEW GAME.ngp") << "the name alone is proposed in the field, its folder shown above";
}

// Saving over an existing file is asked first: Cancel (or Enter, or Escape)
// goes back to the chooser, Replace (a click or its key) takes the file.
TEST_F(FileChoice, ReplacingAFileIsAskedFirst)
{
    const std::string existing = (dir / "SIM OFFICIAL.ngp").string();
    std::string message, again;
    EXPECT_EQ(choose(CHOOSE_CREATE, existing,
                     {typeOver("SIM OFFICIAL.ngp"), answer("Cancel", &message), typeOver("SIM OFFICIAL 2.ngp", &again)}),
              (dir / "SIM OFFICIAL 2.ngp").string());
    EXPECT_NE(message.find("'SIM OFFICIAL.ngp' already exists."), std::string::npos) << message;
    EXPECT_EQ(again, "SIM OFFICIAL.ngp") << "back in the chooser, the name is there to edit";
    EXPECT_EQ(choose(CHOOSE_CREATE, existing, {typeOver("SIM OFFICIAL.ngp"), answer("Escape", &message), typeOver("x.ngp")}),
              (dir / "x.ngp").string());
    EXPECT_EQ(choose(CHOOSE_CREATE, existing, {typeOver("SIM OFFICIAL.ngp"), answer("Enter", &message), typeOver("y.ngp")}),
              (dir / "y.ngp").string());
    EXPECT_EQ(choose(CHOOSE_CREATE, existing, {typeOver("SIM OFFICIAL.ngp"), answer("&Replace", &message)}), existing);
    EXPECT_EQ(choose(CHOOSE_CREATE, existing, {typeOver("SIM OFFICIAL.ngp"), [](Fl_Window* w) { static char r[] = "r"; key(w, 'r', r); }}),
              existing);
    // A folder is opened, not offered for replacing; a name with '@' is
    // asked about as it is written ('@@' is how a label shows one).
    std::ofstream(dir / "a@b.ngp") << "another dump";
    EXPECT_EQ(choose(CHOOSE_CREATE, existing, {typeThenOk("other"), editEnd(0, "y.ngp")}),
              (dir / "other/y.ngp").string());
    EXPECT_EQ(choose(CHOOSE_CREATE, existing, {typeOver("a@b.ngp"), answer("Cancel", &message), typeOver("z.ngp")}),
              (dir / "z.ngp").string());
    EXPECT_NE(message.find("'a@@b.ngp' already exists."), std::string::npos) << message;
    // Opening a file asks nothing.
    EXPECT_EQ(choose(CHOOSE_EXISTING, existing, {typeOver("SIM OFFICIAL.ngp")}), existing);
}

}  // namespace
