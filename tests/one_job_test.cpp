// One job at a time in the window. Once Cancel has hidden the progress
// window nothing modal shields the main window while a flash waits for its
// erase: its buttons, the Enter key, Escape and the close control must
// start nothing and let the linker go under nothing.
#include <sys/stat.h>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_File_Input.H>
#include <FL/Fl_Group.H>
#include <FL/fl_ask.H>

#include "gui/commands.h"
#include "gui/log.h"
#include "gui/file_choice.h"
#include "gui/input.h"
#include "gui/main_window.h"
#include "gui/prefs.h"
#include "support/find_widget.h"
#include "support/job_helpers.h"

namespace {

const char* const ERASING = "Erasing Cartridge";
const std::string CANCELLED = "Flashing cancelled: chip 0 is now blank.";

// A key press as the toolkit delivers it to the main window.
void press(int keysym, const char* text)
{
    Fl::e_keysym = keysym;
    Fl::e_state = 0;
    Fl::e_text = const_cast<char*>(text);
    Fl::e_length = int(strlen(text));
    Fl::handle(FL_KEYBOARD, window);
}

class OneJob : public JobTest {
protected:
    void SetUp() override
    {
        JobTest::SetUp();
        // An erase long enough for a user to act during it.
        sim::setEraseTimes(0.001, 2.0);
        sim::insertCart("flash4");
        saved_ = Fl::atclose;
        Fl::atclose = closingDown;
        operations_group->activate();
        window->show();
    }
    void TearDown() override
    {
        window->hide();
        operations_group->deactivate();
        Fl::atclose = saved_;
        JobTest::TearDown();
    }
    std::vector<Command> flash()
    {
        writeFile(scratchPath("game.ngp"), pattern(4096));
        return runWithFile("flash", scratchPath("game.ngp"));
    }

private:
    void (*saved_)(Fl_Window*, void*) = nullptr;
};

// Cancel then the close control as the window system sends it (while the
// progress window is still up and modal), or the close hook alone: the job
// waits for the erase, writes nothing, and only then is the linker let go
// and the window closed, which ends the program's event loop.
TEST_F(OneJob, ClosingDuringAnEraseWaitsForTheJobThenLetsTheLinkerGo)
{
    const std::function<void()> closes[] = {
        [] {
            cb_progress_button(nullptr, nullptr);
            EXPECT_TRUE(progress_window->shown()) << "Cancel during an erase keeps the window up";
            Fl::handle(FL_CLOSE, window);
        },
        [] { closingDown(window, nullptr); },
    };
    for (const auto& close : closes) {
        if (!theLink().handle()) {
            sim::usbReset();
            ASSERT_TRUE(openLink(windowReporter()));
            window->show();
        }
        atEvent(3, [&] {
            close();
            EXPECT_NE(theLink().handle(), nullptr) << "the linker was let go under the job";
            EXPECT_TRUE(window->shown());
        }, ERASING);
        auto cmds = flash();
        EXPECT_EQ(logLines().back(), CANCELLED);
        EXPECT_TRUE(only(cmds, CMD_FLASH_WRITE64XN).empty());
        EXPECT_TRUE(allErased(0, 0, 0x80000)) << "the erase was cut short";
        EXPECT_EQ(theLink().handle(), nullptr);
        EXPECT_EQ(sim::ledSetting(), LED_AT_SHUTDOWN);
        ASSERT_FALSE(cmds.empty());
        EXPECT_EQ(cmds.back().code, CMD_BLINK_LED) << "nothing is sent after the linker is let go";
        EXPECT_FALSE(window->shown());
        EXPECT_EQ(Fl::first_window(), nullptr) << "a window is left to keep the program running";
    }
}

// What the user does in the window a job waits on, once it is up.
std::function<void(Fl_Window*)> g_inWaitedOn;

void actInWaitedOn(void*)
{
    Fl::repeat_timeout(0.02, actInWaitedOn);
    Fl_Window* m = Fl::modal();
    if (m && m != (Fl_Window*)progress_window && g_inWaitedOn) {
        auto act = std::move(g_inWaitedOn);
        g_inWaitedOn = nullptr;
        act(m);
    }
}

// The main window closed while the job waits on a chooser holding a name,
// on the question before replacing a file (the last question anyone
// answered said yes), or just after a name was given: nothing is erased,
// replaced or written, and the log says so.
TEST_F(OneJob, ClosingWhileTheJobAsksChangesNothing)
{
    const std::string game = scratchPath("game.ngp"), dump = scratchPath("dump.ngp");
    writeFile(game, pattern(4096));
    writeFile(dump, Bytes{1, 2, 3});
    // A name in the chooser's field, given with Enter or not.
    auto named = [](std::string name, bool enter) {
        return [=](Fl_Window* w) {
            Fl_File_Input* field = findIn<Fl_File_Input>(w);
            ASSERT_NE(field, nullptr);
            field->value(name.c_str());
            if (!enter)
                return closingDown(window, nullptr);
            Fl::e_keysym = FL_Enter;
            field->do_callback();
            g_inWaitedOn = [](Fl_Window*) { closingDown(window, nullptr); };
        };
    };
    const struct {
        const char* what;
        const char* command;
        std::function<void(Fl_Window*)> user;
        Lines log;
    } rows[] = {
        {"chooser", "flash", named(game, false), {"No file selected."}},
        {"question", "backup", named(dump, true),
         {"4mbit cart detected.", "ROM name: 'SMALL4'", "No file selected."}},
        {"after the name", "flash", nullptr,
         {"4mbit cart detected.", "ROM name: 'SMALL4'", "ROM size of 4096 bytes is",
          "smaller than the flash size of 524288 bytes.", "", "Turbo Mode OFF for non-Cindercart cartridge!",
          "", "Flashing cancelled; nothing erased or written."}},
    };
    // A question answered yes earlier in the program's life.
    g_inWaitedOn = [](Fl_Window* w) { findIn<Fl_Button>(w, "Yes")->do_callback(); };
    Fl::add_timeout(0.02, actInWaitedOn);
    ASSERT_EQ(fl_choice("Earlier?", "No", "Yes", nullptr), 1);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        if (!theLink().handle()) {
            sim::usbReset();
            ASSERT_TRUE(openLink(windowReporter()));
            window->show();
        }
        clearLog();
        sim::Mark m = sim::mark();
        if (r.user) {
            g_fileChoiceHook = nullptr;
            g_inWaitedOn = r.user;
        } else {
            g_fileChoiceHook = [](const char*, const char*, FileChoiceMode, const char*, std::string* path) {
                closingDown(window, nullptr);
                *path = scratchPath("game.ngp");
                return true;
            };
        }
        clickCommand(r.command);
        g_inWaitedOn = nullptr;
        EXPECT_TRUE(logIs(r.log));
        auto cmds = commandsSince(m);
        EXPECT_TRUE(std::none_of(cmds.begin(), cmds.end(), [](const Command& c) {
            return c.code == CMD_WRITE && c.addr == 0x5555 && c.value == 0x10;
        })) << "a chip erase was sent";
        EXPECT_TRUE(only(cmds, CMD_FLASH_WRITE64XN).empty());
        EXPECT_EQ(readFile(dump), (Bytes{1, 2, 3}));
        EXPECT_EQ(theLink().handle(), nullptr) << "the program did not close";
    }
    Fl::remove_timeout(actInWaitedOn);
    g_fileChoiceHook = nullptr;
}

// A click on another command, the Enter key and Preferences, after Cancel
// during an erase: nothing starts, no file is asked for, no chip is read
// mid-erase; the buttons are greyed meanwhile and given back at the end.
TEST_F(OneJob, NoOtherCommandStartsDuringAJob)
{
    bool tried = false;
    atEvent(3, [&] {
        cb_progress_button(nullptr, nullptr);
        EXPECT_FALSE(commandButton("verify")->active_r());
        commandButton("verify")->do_callback();
        commandButton("backup")->do_callback();
        press(FL_Enter, "\r");
        preferences->do_callback();
        EXPECT_EQ(prefsWindow, nullptr);
        tried = true;
    }, ERASING);
    auto cmds = flash();
    EXPECT_TRUE(tried);
    EXPECT_EQ(lastFileRequest().count, 1) << "a second command asked for a file";
    EXPECT_TRUE(only(cmds, CMD_READ64XN).empty());
    EXPECT_TRUE(logIs({"4mbit cart detected.", "ROM name: 'SMALL4'", "ROM size of 4096 bytes is",
                       "smaller than the flash size of 524288 bytes.", "", "Turbo Mode OFF for non-Cindercart cartridge!",
                       "", CANCELLED}));
    EXPECT_TRUE(commandButton("verify")->active_r());
    EXPECT_NE(theLink().handle(), nullptr);

    // Once the job is over the same click runs.
    answerNoFile();
    commandButton("verify")->do_callback();
    EXPECT_EQ(lastFileRequest().count, 2);
}

// After an unplug every button says so in one line, before any file or
// number is asked for. The job that met it ends with that line too, once
// it has ended.
TEST_F(OneJob, AfterAnUnplugEveryButtonSaysSoOnce)
{
    sim::unplugAfterTransfers(0);
    clickCommand("info");
    EXPECT_TRUE(logIs(GONE + GONE_NOTICE));
    static int numbersAsked = 0;
    g_inputHook = [](const char*) -> const char* { return numbersAsked++, "0x10"; };
    const char* const commands[] = {"flash", "verify",    "backup",    "save-backup", "save-write",
                                     "info",  "protected", "read-byte", "write-byte"};
    for (auto command : commands) {
        clearLog();
        clickCommand(command);
        EXPECT_TRUE(logIs({"The linker is gone. Plug it in again."}));
    }
    g_inputHook = nullptr;
    EXPECT_EQ(lastFileRequest().count, 0);
    EXPECT_EQ(numbersAsked, 0);
}

// The window reads no pipe, not even for Write Savegame, whose job takes
// one from the command line: a writer that never writes would hold it.
TEST_F(OneJob, TheWindowReadsNoPipe)
{
    std::string fifo = scratchPath("save.ngf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    sim::Mark m = sim::mark();
    clearLog();
    answerFileChoice(fifo);
    clickCommand("save-write");
    EXPECT_TRUE(logIs({"'save.ngf' is not a regular file; nothing done."}));
    EXPECT_TRUE(sim::transfersSince(m).empty());
}

}  // namespace
