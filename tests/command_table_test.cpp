// Every row of the command table reaches every face it belongs to: the
// command line (listed in --help, its arguments and options parsed), the
// manual pages, and, for a row with a button, the window.
#include <gtest/gtest.h>

#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>

#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "core/commands.h"
#include "core/link/linker.h"
#include "gui/commands.h"
#include "gui/input.h"
#include "gui/log.h"
#include "gui/main_window.h"
#include "sim.h"
#include "support/job_fixture.h"

namespace {

std::vector<std::string> g_asked;

const char* answerZero(const char* prompt)
{
    g_asked.push_back(prompt);
    return "0";
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// As the manual page's roff writes it.
std::string roff(std::string text)
{
    for (size_t at = 0; (at = text.find('-', at)) != std::string::npos; at += 2)
        text.insert(at, "\\");
    return text;
}

struct Cli {
    int status;
    std::string out, err;
};

Cli runCliWith(std::vector<std::string> args)
{
    args.insert(args.begin(), "pockettetherbox-cli");
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    CliIo io{out, err, 0, [] { return 0.0; }, nullptr};
    int status = runCli(int(argv.size()), argv.data(), io);
    return {status, out.str(), err.str()};
}

Fl_Button* buttonLabelled(const char* label, int* found)
{
    Fl_Button* button = nullptr;
    for (int i = 0; i < operations_group->children(); i++) {
        Fl_Widget* w = operations_group->child(i);
        if (w->label() && std::string(w->label()) == label) {
            button = dynamic_cast<Fl_Button*>(w);
            ++*found;
        }
    }
    return button;
}

class CommandTable : public JobTest {};

TEST_F(CommandTable, EveryRowReachesItsFaces)
{
    std::string image = scratchPath("image.ngp");
    std::ofstream(image) << std::string(64, '\0');
    std::string cliPage = readAll(PTB_MAN_DIR "/pockettetherbox-cli.1");
    std::string windowPage = readAll(PTB_MAN_DIR "/pockettetherbox.1");
    ASSERT_FALSE(cliPage.empty() || windowPage.empty()) << "the manual pages were not built";

    // The window first, on the linker the fixture opened.
    size_t buttons = 0;
    for (const CommandRow& c : commands()) {
        SCOPED_TRACE(c.name);
        int found = 0;
        Fl_Button* b = c.button.label ? buttonLabelled(c.button.label, &found) : nullptr;
        if (!c.button.label)
            continue;
        buttons++;
        ASSERT_TRUE(b != nullptr && found == 1) << c.button.label;
        EXPECT_STREQ(b->tooltip(), c.button.tooltip);
        EXPECT_EQ(b->y(), c.button.y);
        EXPECT_TRUE(b->callback() == cb_command_button && b->user_data() == &c);
        EXPECT_NE(windowPage.find(".B " + roff(c.button.label) + "\n"), std::string::npos);

        // Pressed, it asks what the row says, in the row's order.
        g_asked.clear();
        g_inputHook = answerZero;
        answerNoFile();
        clearLog();
        int files = lastFileRequest().count;
        b->do_callback();
        g_inputHook = nullptr;
        std::vector<std::string> expected;
        for (const CommandArg& a : c.args)
            if (a.kind == ArgKind::FileToRead || a.kind == ArgKind::FileToWrite) {
                EXPECT_EQ(lastFileRequest().count, files + 1);
                EXPECT_EQ(lastFileRequest().title, a.ask);
                EXPECT_EQ(lastFileRequest().pattern, a.pattern);
            } else
                expected.push_back(a.ask);
        EXPECT_EQ(g_asked, expected);
        EXPECT_FALSE(logLines().empty());
    }
    int children = operations_group->children();
    EXPECT_EQ(size_t(children), buttons + 3) << "the backdrop, the rows' buttons, Saves and Preferences";

    // The command line next, with no linker: a subcommand that parsed goes on
    // to look for one (status 3) or, on files alone, runs to the end.
    closeLink();
    sim::noDevice();
    std::string help = runCliWith({"--help"}).out;
    for (const CommandRow& c : commands()) {
        SCOPED_TRACE(c.name);
        // "saves list" is "list" in the help of "saves".
        std::string name = c.name;
        size_t space = name.find(' ');
        std::vector<std::string> words{name.substr(0, space)};
        if (space != std::string::npos)
            words.push_back(name.substr(space + 1));
        std::string listing = words.size() == 1 ? help : runCliWith({words[0], "--help"}).out;
        EXPECT_NE(help.find("  " + words[0] + " "), std::string::npos);
        EXPECT_NE(listing.find("  " + words.back() + " "), std::string::npos);
        EXPECT_NE(listing.find(c.help), std::string::npos);
        std::string macroName = words.size() == 1 ? roff(name) : "\"" + roff(name) + "\"";
        std::string page = c.args.empty() ? ".B " + roff(name) + "\n" : ".BI " + macroName + " \"";
        EXPECT_NE(cliPage.find(page), std::string::npos);

        std::vector<std::string> args = words;
        for (const CommandOption& o : c.options) {
            EXPECT_NE(cliPage.find(roff(o.name)), std::string::npos) << o.name;
            args.push_back(o.name);
            if (o.kind == OptionKind::Choice)
                args.push_back(std::string(o.values).substr(0, std::string(o.values).find('|')));
            else if (o.kind == OptionKind::Number)
                args.push_back("1");
            else if (o.kind == OptionKind::Text)
                args.push_back(scratchPath("option.txt"));
        }
        for (const CommandArg& a : c.args)
            args.push_back(a.kind == ArgKind::FileToWrite ? scratchPath("out.bin")
                           : a.kind == ArgKind::Address || a.kind == ArgKind::ByteValue ? "0x10"
                                                                                         : image);
        std::vector<std::string> helpArgs = words;
        helpArgs.push_back("--help");
        Cli own = runCliWith(helpArgs), given = runCliWith(args);
        EXPECT_EQ(own.status, 0);
        EXPECT_NE(own.out.find("Usage: pockettetherbox-cli " + std::string(c.name)), std::string::npos);
        for (const CommandOption& o : c.options)
            EXPECT_NE(own.out.find(o.help), std::string::npos) << o.name;
        // identify tells what it found: with no lists, the image is not known.
        EXPECT_EQ(given.status, c.exitsByFinding ? 1 : c.withoutLinker ? 0 : 3) << given.err;
    }
}

}  // namespace
