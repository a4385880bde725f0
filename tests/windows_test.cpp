// The progress and number windows, shown for real under the X server and
// driven the way a user drives them: key presses into the focused field, the
// close control, the Cancel button.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Progress.H>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "gui/input.h"
#include "gui/progress.h"

namespace {

// ---- the user at the number window -------------------------------------

// A key press into the focused field (or into `to`), the text it types.
void key(int keysym, const char* text = "", Fl_Window* to = input_window)
{
    if (to == input_window)
        Fl::focus(input_number);
    Fl::e_keysym = keysym;
    Fl::e_state = 0;
    Fl::e_text = const_cast<char*>(text);
    Fl::e_length = int(strlen(text));
    Fl::handle(FL_KEYBOARD, to);
}

void type(const char* s)
{
    for (; *s; s++) {
        char one[2] = {*s, 0};
        key((unsigned char)*s, one);
    }
}

void emptyField()
{
    key(FL_End);
    while (input_number->size() > 0)
        key(FL_BackSpace);
}

// What the user does, one step each time the window's event loop comes round
// (every 20 ms), while the window is up. A watchdog closes the window after
// a few seconds so that a broken window fails the test instead of hanging it.
std::vector<std::function<void()>> g_steps;
size_t g_next = 0;
int g_ticks = 0;

void tick(void*)
{
    if (++g_ticks > 250 && input_window)
        input_window->hide();
    else if (input_window && input_window->shown() && g_next < g_steps.size())
        g_steps[g_next++]();
    Fl::repeat_timeout(0.02, tick);
}

// Runs makeInputWindow with the user acting out the steps: the number
// entered, or -1 for a window closed unanswered.
int64_t askUser(const char* prompt, std::vector<std::function<void()>> steps)
{
    g_steps = std::move(steps);
    g_next = 0;
    g_ticks = 0;
    Fl::add_timeout(0.02, tick);
    uint32_t value = 0;
    int64_t result = makeInputWindow(prompt, "0 to 0x3FFFFF", &value) ? int64_t(value) : -1;
    Fl::remove_timeout(tick);
    EXPECT_LE(g_ticks, 250) << "the window did not answer in time";
    EXPECT_EQ(g_next, g_steps.size()) << "the window closed before the user was done";
    EXPECT_EQ(input_window, nullptr) << "the window must be gone once answered";
    return result;
}

int64_t typeAndEnter(const char* text)
{
    return askUser("Enter address", {[=] {
                        emptyField();
                        type(text);
                        key(FL_Enter);
                    }});
}

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override { g_inputHook = nullptr; }
    void TearDown() override { closeProgressWindow(); }
};

// ---- progress window ------------------------------------------------------

TEST_F(WindowsTest, ProgressWindowAndItsCancel)
{
    EXPECT_EQ(makeProgressWindow("Backing up a ROM"), 0);
    ASSERT_NE(progress_window, nullptr);
    EXPECT_TRUE(progress_window->modal());
    EXPECT_STREQ(progress_window->label(), "Backing up a ROM");
    EXPECT_TRUE(progressShown());

    // Cancel hides the window without destroying it.
    Fl_Double_Window* shownWindow = progress_window;
    progress_button->do_callback();
    EXPECT_EQ(progress_window, shownWindow);
    EXPECT_NE(progress_bar, nullptr);
    EXPECT_FALSE(progress_window->shown());
    EXPECT_FALSE(progressShown());
    updateProgressWindow(0.75f);  // a job may still update once after the press
    EXPECT_EQ(progress_bar->value(), 0.75f);

    closeProgressWindow();
    EXPECT_EQ(progress_window, nullptr);
    EXPECT_EQ(progress_bar, nullptr);
    EXPECT_EQ(progress_button, nullptr);
    EXPECT_FALSE(progressShown());

    makeProgressWindow("Erasing Cartridge");  // Escape works as Cancel does
    key(FL_Escape, "", progress_window);
    EXPECT_NE(progress_window, nullptr);
    EXPECT_FALSE(progressShown());
}

// Whether `w` is centred (within 2 pixels) on the pointer as it was just
// before or just after it came up: other tests may share the X server.
bool centredOnPointer(Fl_Window* w, int x0, int y0, int x1, int y1)
{
    int cx = w->x() + w->w() / 2, cy = w->y() + w->h() / 2;
    return (std::abs(cx - x0) <= 2 && std::abs(cy - y0) <= 2) || (std::abs(cx - x1) <= 2 && std::abs(cy - y1) <= 2);
}

TEST_F(WindowsTest, WindowsOpenUnderThePointer)
{
    int x0, y0, x1, y1;
    Fl::get_mouse(x0, y0);
    makeProgressWindow("Backing up a ROM");
    Fl::get_mouse(x1, y1);
    EXPECT_TRUE(centredOnPointer(progress_window, x0, y0, x1, y1));
    Fl::get_mouse(x0, y0);
    askUser("Enter address", {[&] {
        Fl::get_mouse(x1, y1);
        EXPECT_TRUE(centredOnPointer(input_window, x0, y0, x1, y1));
        input_window->do_callback();
    }});
}

// ---- number window --------------------------------------------------------

// Enter on the untouched "0x" is no answer: the window stays open.
TEST_F(WindowsTest, InputWindowAnswers)
{
    auto first = [] {
        EXPECT_STREQ(input_window->label(), "Enter byte value");
        EXPECT_TRUE(input_window->modal());
        EXPECT_STREQ(input_number->value(), "0x");
        key(FL_Enter);
    };
    auto second = [] {
        EXPECT_TRUE(input_window->shown());
        EXPECT_EQ(G_input_value, nullptr);
        key(FL_End);
        type("1F");
        key(FL_Enter);
    };
    EXPECT_EQ(askUser("Enter byte value", {first, second}), 0x1F);
    EXPECT_EQ(askUser("Enter address", {[] { input_window->do_callback(); }}), -1) << "closed";
    EXPECT_EQ(askUser("Enter address", {[] { type("55"), key(FL_Escape); }}), -1) << "typed but never entered";
    EXPECT_EQ(typeAndEnter("0X1f"), 31);
    EXPECT_EQ(typeAndEnter("0xFFFFFFFF"), 0xFFFFFFFF) << "a whole 32 bits, never taken for a closed window";
}

// Text that is not wholly one number is refused as the command line
// refuses it: the window stays open and says so, the prompt and the range
// in sight, until a number is entered or the window is closed.
TEST_F(WindowsTest, InputWindowRefusesWhatIsNotANumber)
{
    for (const char* typed : {"zz", "12ab", "", "-1", " 0x10", "0x", "0x-10", "99999999999999999999999"}) {
        SCOPED_TRACE(typed);
        std::vector<std::string> inside;
        auto enter = [&] {
            emptyField();
            type(typed);
            key(FL_Enter);
        };
        auto seen = [&] {
            EXPECT_TRUE(input_window->shown()) << "refused text must not close the window";
            for (int i = 0; i < input_window->children(); i++)
                if (const char* l = input_window->child(i)->label())
                    inside.push_back(l);
            emptyField();
            type("0x2A");
            key(FL_Enter);
        };
        EXPECT_EQ(askUser("Enter address", {enter, seen}), 42);
        for (const char* shown : {"Enter address", "0 to 0x3FFFFF", INPUT_REFUSED})
            EXPECT_NE(std::find(inside.begin(), inside.end(), shown), inside.end()) << shown;
    }
}

// The reading alone, shared with the command line.
TEST(ExactNumberFromText, WholeNumbersOfAtMost32Bits)
{
    const std::pair<const char*, int64_t> cases[] = {  // -1: refused
        {"0x1F", 31}, {"0X1f", 31}, {"010", 10}, {"0x80000000", 0x80000000}, {"0xFFFFFFFF", 0xFFFFFFFF},
        {"4294967295", 0xFFFFFFFF}, {"0x", -1}, {"", -1}, {"12ab", -1}, {"zz", -1}, {"0x100000000", -1},
        {"4294967296", -1}, {"-1", -1}, {"0x-10", -1}, {" 42", -1}, {"42 ", -1}, {"0x0x1", -1},
    };
    for (auto [text, value] : cases) {
        uint32_t got = 7;
        bool taken = exactNumberFromText(text, &got);
        EXPECT_EQ(taken ? int64_t(got) : -1, value) << "'" << text << "'";
    }
}

}  // namespace
