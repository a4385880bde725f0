#include "cli/cli.h"

#include <CLI/CLI.hpp>

#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "cli/interrupt.h"
#include "cli/terminal_reporter.h"
#include "core/commands.h"
#include "core/jobs/jobs.h"
#include "core/identity/identity.h"
#include "core/identity/json_lines.h"
#include "core/link/linker.h"
#include "core/link/transfer.h"
#include "core/number_text.h"
#include "core/shown_text.h"
#include "version.h"

namespace {

// What the command line was given for the one command it runs.
struct Given {
    std::string path;
    std::vector<std::string> paths;
    uint32_t address = 0;
    uint32_t value = 0;
    std::string game;
    CommandOptions options;
    // --wait: for how long a missing linker is waited for; negative: for ever.
    bool wait = false;
    double waitSeconds = -1;
};

// The job's inputs are what was given; nothing is asked. With --json, what
// each image was found to be goes out as one line of JSON.
class GivenInput : public CommandInput {
public:
    GivenInput(const Given& g, std::ostream& json, std::ostream& err) : g_(g), json_(json), err_(err) {}
    bool fileToRead(std::string* path) override
    {
        *path = g_.path;
        return true;
    }
    bool fileToWrite(const char*, std::string* path) override
    {
        *path = g_.path;
        return true;
    }
    std::vector<std::string> files() override { return g_.paths; }
    bool address(uint32_t* a) override { return *a = g_.address, true; }
    bool value(int* v) override { return *v = int(g_.value), true; }
    std::string game() override { return g_.game; }
    void aside(Reporter& r, const std::string& note) override
    {
        CommandInput::aside(r, note);
        err_ << shownText(note.c_str(), note.size()) << std::endl;
    }
    CommandOptions options() override { return g_.options; }
    bool asksUser() const override { return false; }
    void imageFound(const std::string& file, const char* outcome, const ImageReport* report) override
    {
        if (strcmp(outcome, "unreadable") == 0)
            unreadable = true;
        else if (!report || !report->verdict.trusted())
            untrusted = true;
        if (g_.options.json)
            json_ << imageJson(file, outcome, report) << std::endl;
    }

    // What was found, for a command whose exit status says so.
    bool unreadable = false, untrusted = false;
    int findingStatus() const { return unreadable ? CLI_USAGE : untrusted ? CLI_FAILED : CLI_DONE; }

private:
    const Given& g_;
    std::ostream& json_;
    std::ostream& err_;
};

// Digits only, in decimal or after 0x: a number, if perhaps too long for one.
bool allDigits(const std::string& text)
{
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? "0123456789abcdefABCDEF" : "0123456789";
    return !text.empty() && text.find_first_not_of(digits, hex ? 2 : 0) == std::string::npos;
}

// A number as the input window reads it (decimal, or hex after 0x), but
// whole; `fault` says what else is wrong with it, if anything, and `range`
// what it may be. Handed on to CLI11 in decimal, which would take a leading
// zero for octal.
CLI::Validator number(const char* shown, const char* range, std::function<const char*(uint32_t)> fault)
{
    return CLI::Validator(
        [fault, range](std::string& text) -> std::string {
            uint32_t v = 0;
            if (!exactNumberFromText(text.c_str(), &v))
                return "'" + text + "' " +
                       (allDigits(text) ? "is out of range: " + std::string(range)
                                        : "is not a number (decimal, or hexadecimal after 0x)");
            if (const char* why = fault ? fault(v) : nullptr)
                return "'" + text + "' " + why;
            text = std::to_string(v);
            return std::string();
        },
        shown);
}

// CLI11's check, with the name in its message shown as every name is: a
// line break in it must not start a line of its own.
CLI::Validator existingFile(bool dashToo)
{
    return CLI::Validator(
        [dashToo](std::string& path) -> std::string {
            if (dashToo && path == "-")
                return std::string();
            std::string given = path, why = CLI::ExistingFile(given);
            size_t at = why.rfind(path);
            if (at != std::string::npos)
                why.replace(at, path.size(), printable(path, true));
            return why;
        },
        "FILE");
}

std::vector<std::string> splitChoices(const char* values)
{
    std::vector<std::string> choices;
    std::string rest = values;
    for (size_t bar; (bar = rest.find('|')) != std::string::npos; rest.erase(0, bar + 1))
        choices.push_back(rest.substr(0, bar));
    choices.push_back(rest);
    return choices;
}

void defineArg(CLI::App& sub, const CommandArg& arg, Given& g)
{
    switch (arg.kind) {
    case ArgKind::FileToRead:
        // A job that reads its file as it comes takes "-", standard input.
        sub.add_option("FILE", g.path, arg.help)->required()->check(existingFile(arg.pipeFromCommandLineOnly));
        break;
    case ArgKind::FileToWrite:
        sub.add_option("FILE", g.path, arg.help)->required();
        break;
    case ArgKind::Files:
        // Each is read in turn; one that cannot be is said, and the rest go on.
        sub.add_option("FILE", g.paths, arg.help)->required();
        break;
    case ArgKind::Address:
        sub.add_option("ADDR", g.address, arg.help)->required()->transform(number("NUMBER", arg.range, nullptr));
        break;
    case ArgKind::ByteValue:
        sub.add_option("VALUE", g.value, arg.help)
            ->required()
            ->transform(number("0..255", "0 to 255", [](uint32_t v) { return v > 0xFF ? "is more than a byte" : nullptr; }));
        break;
    case ArgKind::Game:
        sub.add_option("GAME", g.game, arg.help);
        break;
    }
}

void defineOption(CLI::App& sub, const CommandOption& o, Given& g)
{
    auto set = [&g, &o](const std::string& value) { o.set(g.options, value); };
    CLI::Option* option = nullptr;
    switch (o.kind) {
    case OptionKind::Flag:
        sub.add_flag_callback(o.name, [set] { set(""); }, o.help);
        return;
    case OptionKind::Text:
        option = sub.add_option_function<std::string>(o.name, set, o.help);
        break;
    case OptionKind::Choice:
        option = sub.add_option_function<std::string>(o.name, set, o.help)
                     ->check(CLI::IsMember(splitChoices(o.values)));
        break;
    case OptionKind::Number:
        option = sub.add_option_function<int>(o.name, [set](int n) { set(std::to_string(n)); }, o.help)
                     ->transform(number(o.values, o.values, o.fault));
        break;
    }
    if (o.shownDefault)
        option->default_str(o.shownDefault);
}

// --wait, or --wait=SECONDS, for every command that needs the linker: one
// plugged in later is waited for.
void waitOption(CLI::App& sub, Given& g)
{
    sub.add_option_function<std::string>(
           "--wait",
           [&g](const std::string& text) {
               g.wait = true;
               g.waitSeconds = text.empty() ? -1 : std::stod(text);
           },
           "wait for a linker to be plugged in, for ever or up to SECONDS (--wait=SECONDS)")
        ->expected(0, 1)
        ->allow_extra_args(false)
        ->type_name("[=SECONDS]")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                // Plain seconds, such as 30 or 2.5: no sign, no exponent.
                char* end = nullptr;
                strtod(text.c_str(), &end);
                bool plain = text.find_first_not_of("0123456789.") == std::string::npos;
                if (text.empty() || (plain && end != text.c_str() && *end == '\0'))
                    return std::string();
                return "'" + text + "' is not a number of seconds";
            },
            "SECONDS"));
}

const char* const FOOTER =
    "The job's log goes to standard output, line for line as the window's log shows it.\n"
    "Standard error gets usage errors, the linker's start-up and shut-down lines and,\n"
    "on a terminal, a progress bar. Ctrl-C, SIGTERM or SIGHUP cancels the job; another\n"
    "signal a second or more later quits at once, without cleaning up.\n"
    "\n"
    "Exit status:\n"
    "  0  the job ended done (verify: no difference but in the save blocks of an official cartridge)\n"
    "  1  the job failed or was refused, or verify found a difference\n"
    "  2  usage error\n"
    "  3  no linker answered (within --wait's time), its firmware was refused, or it vanished\n"
    "  128+N  a signal N stopped the job or the wait (130: Ctrl-C, 143: SIGTERM, 129: SIGHUP)\n"
    "identify: 2 when any file could not be read, else 1 when any is unknown, a bad dump\n"
    "or only near a known one, or a rename asked for was not made, else 0.";

const char* baseName(const char* path)
{
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Opens the link, runs the job, lets the linker go whatever happened.
int runOnLinker(const CommandRow& command, const Given& given, const CliIo& io)
{
    if (command.beforeLinker) {
        TerminalReporter early(given.options.json ? io.err : io.out, io.err, 0, io.wallClock);
        early.command = command.name;
        GivenInput in(given, io.out, io.err);
        if (!command.beforeLinker(in, early)) {
            if (given.options.json)
                in.imageFound(given.path, "failed", nullptr);
            return CLI_FAILED;
        }
    }
    InterruptScope catchSignals(io.wallClock);
    TerminalReporter linkLines(io.err, io.err, 0, io.wallClock);
    TerminalReporter job(given.options.json ? io.err : io.out, io.err, io.barColumns, io.wallClock);
    linkLines.afterBreath = job.afterBreath = io.afterBreath;
    // The log file files the link's lines and the job's under the command.
    linkLines.command = job.command = command.name;

    Linker& link = linker();
    link.open(linkLines, nullptr, given.wait);
    if (given.wait && link.awaitsLinker())
        link.waitForLinker(given.waitSeconds, [] { return !interrupted(); });
    int status = CLI_NO_LINKER;
    GivenInput in(given, io.out, io.err);
    bool ran = link.ready();
    if (ran) {
        // A Ctrl-C during start-up cancels the job before it begins.
        Job run(link.link(), job, given.options.settings);
        bool done = linkLines.goingOn() && command.run(in, run);
        status = link.link().gone() ? CLI_NO_LINKER : done ? CLI_DONE : CLI_FAILED;
    } else if (given.wait && interrupted()) {
        status = CLI_INTERRUPTED;
    } else if (command.evenWithoutLinker) {
        Job run(link.link(), job, given.options.settings);
        command.run(in, run);
    }
    // No job ran: a script still gets its line.
    if (!ran && given.options.json)
        in.imageFound(given.path, "failed", nullptr);
    link.close();
    // Cleaned up: a script can now tell a cancel from a failure.
    if (interrupted() && status != CLI_DONE)
        return interruptedStatus();
    return status;
}

// A command on files alone: the linker is neither opened nor let go.
int runWithoutLinker(const CommandRow& command, const Given& given, const CliIo& io)
{
    TerminalReporter job(given.options.json ? io.err : io.out, io.err, io.barColumns, io.wallClock);
    job.afterBreath = io.afterBreath;
    job.command = command.name;
    GivenInput in(given, io.out, io.err);
    Job run(linker().link(), job, given.options.settings);
    bool done = command.run(in, run);
    // What was found, unless the job failed at what it was asked to do
    // besides (a rename).
    if (command.exitsByFinding)
        return in.findingStatus() == CLI_DONE && !done ? CLI_FAILED : in.findingStatus();
    return done ? CLI_DONE : CLI_FAILED;
}

}  // namespace

int runCli(int argc, const char* const argv[], const CliIo& io)
{
    const char* name = argc > 0 ? baseName(argv[0]) : "pockettetherbox-cli";
    CLI::App app("Drives the Tetherbox linker and the Neo Geo Pocket cartridge in it.", name);
    app.set_version_flag("--version", std::string(name) + " " + PTB_VERSION + "\n" + PTB_LICENCE_NOTICE);
    app.require_subcommand(1);

    Given given;
    // A script cannot look at the cartridge afterwards: the command line reads
    // back what it wrote unless told not to.
    given.options.settings.verifyAfterWrite = true;
    if (argc > 0)
        given.options.program = argv[0];
    const CommandRow* chosen = nullptr;
    std::map<std::string, CLI::App*> groups;
    for (const CommandRow& c : commands()) {
        // "saves list": "list" under "saves", made with the first of its rows.
        std::string name = c.name;
        CLI::App* parent = &app;
        size_t space = name.find(' ');
        if (space != std::string::npos) {
            std::string word = name.substr(0, space);
            CLI::App*& group = groups[word];
            if (!group) {
                group = app.add_subcommand(word, commandGroupHelp(word));
                group->require_subcommand(1);
            }
            parent = group;
            name = name.substr(space + 1);
        }
        CLI::App* sub = parent->add_subcommand(name, c.help);
        for (const CommandArg& arg : c.args)
            defineArg(*sub, arg, given);
        for (const CommandOption& o : c.options)
            defineOption(*sub, o, given);
        if (!c.withoutLinker)
            waitOption(*sub, given);
        sub->final_callback([&chosen, &c] { chosen = &c; });
    }
    // Only now: a subcommand takes its parent's footer when it is made, and
    // this one is for the main --help alone.
    app.footer(FOOTER);
    // Before the command too, where a shell's habits put it.
    waitOption(app, given);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, io.out, io.err) == 0 ? CLI_DONE : CLI_USAGE;
    }
    if (given.wait && chosen->withoutLinker) {
        io.err << "--wait: '" << chosen->name << "' needs no linker to wait for\n"
               << "Run with --help for more information.\n";
        return CLI_USAGE;
    }
    if (chosen->withoutLinker)
        return runWithoutLinker(*chosen, given, io);
    return runOnLinker(*chosen, given, io);
}
