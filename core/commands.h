// Every command the user can give, each described once: its name on the
// command line and its button, what it takes and the job it runs. The
// window's buttons, the command line with its --help, and both manual pages
// are all built from these rows, so a new command is a row here and its job.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/report.h"
#include "core/settings.h"

// What a command's options set. The window fills it from its Preferences;
// the command line from the options given.
struct CommandOptions {
    WriteSettings settings;
    bool force = false;   // flash a file the console would refuse
    bool json = false;    // what each image is, for scripts (the command line's --json)
    bool rename = false;  // identify: known dumps take their list entry's file name
    bool renamePlayed = false;  // identify: played ones too, with " (save)"
    bool report = false;  // backup: "<dump>.txt" beside the dump
    bool anyGame = false; // saves restore: a cartridge of another game too
    // The program as it was started, for the commands a log line hands back.
    std::string program = "pockettetherbox-cli";
};

struct ImageReport;
class Job;

// Where a job's inputs come from while it runs: the window asks the user for
// each when the job reaches it, the command line hands over what was given.
class CommandInput {
public:
    virtual ~CommandInput() = default;
    // The row's file to read; false once the face has said none was chosen.
    virtual bool fileToRead(std::string* path) = 0;
    // The row's file to write, offering `proposed` (may be null); false when
    // none was chosen, which the job itself reports.
    virtual bool fileToWrite(const char* proposed, std::string* path) = 0;
    virtual std::vector<std::string> files() = 0;
    // The row's address and byte value; false when the user closed the
    // window unanswered, which is no error and is not logged.
    virtual bool address(uint32_t* address) = 0;
    virtual bool value(int* value) = 0;
    // The row's game; none when left out. No button takes one.
    virtual std::string game() { return std::string(); }
    virtual CommandOptions options() = 0;
    // Whether a person answers: only then is a file name worth proposing.
    virtual bool asksUser() const = 0;
    // The folder a proposed name goes in: the one last used for the row's
    // file to write ("" for the working folder).
    virtual std::string proposalFolder() { return ""; }
    // After a backup whose dump the lists know under another file name:
    // whether to give it that name.
    virtual bool renameToListName(const std::string& dump, const std::string& listName) { return false; }
    // What the command found an image to be, once it has ended with it:
    // "done", "failed" or "unreadable", and what is known (null: nothing).
    virtual void imageFound(const std::string& file, const char* outcome, const ImageReport* report) {}
    // A note beside a command's lines, for one whose lines are a format of
    // their own (saves list): kept apart from them, and in the log file.
    virtual void aside(Reporter& r, const std::string& note) { logToFileOnly(r, note.c_str()); }
};

enum class ArgKind {
    FileToRead,   // FILE, which must exist
    FileToWrite,  // FILE
    Files,        // FILE..., each of which must exist
    Address,      // ADDR: a cartridge address
    ByteValue,    // VALUE: 0 to 255
    Game,         // GAME, which may be left out: a game as the vault names it
};

struct CommandArg {
    ArgKind kind;
    const char* help;  // its line in --help
    // The window's question: the file chooser's title, or the number
    // window's prompt; with the chooser's pattern for files.
    const char* ask = nullptr;
    const char* pattern = nullptr;
    // The job reads the file as it comes, so the command line may feed it a
    // pipe; the window refuses one, whose writer might never write.
    bool pipeFromCommandLineOnly = false;
    // The number window's line of what it takes.
    const char* range = nullptr;
};

enum class OptionKind {
    Flag,    // no value
    Choice,  // one of `values`, "a|b|c"
    Number,  // decimal, or hexadecimal after 0x; `values` shows what it takes
    Text,    // any text, such as a file name
};

struct CommandOption {
    const char* name;  // "--write-n"
    OptionKind kind;
    const char* help;    // its line in --help
    const char* manual;  // its paragraph in the manual page
    const char* values = nullptr;
    const char* shownDefault = nullptr;  // shown with it; the setting's own default
    // Stores the value (a Number's in decimal; a Flag's is empty).
    std::function<void(CommandOptions& o, const std::string& value)> set = nullptr;
    // What else is wrong with a Number, if anything.
    std::function<const char*(uint32_t n)> fault = nullptr;
    const char* manualValue = nullptr;  // the value as the manual page names it: "n"
};

// A command's button: where it stands in the window's column of buttons.
struct CommandButton {
    const char* label = nullptr;  // null: the command has no button
    const char* tooltip = nullptr;
    int y = 0;
    int tabOrder = 0;     // the order the buttons are made in, which Tab follows
    bool enter = false;   // pressed by the Enter key
};

struct CommandRow {
    // On the command line, and in its log file records. Two words ("saves
    // list") make the second a subcommand of the first.
    const char* name;
    const char* help;    // its line in --help
    const char* manual;  // its paragraph in the manual pages
    CommandButton button;
    std::vector<CommandArg> args;
    std::vector<CommandOption> options;
    // True only when the job ended done. The face builds the Job: its
    // link, its reporter and the settings the options or Preferences give.
    bool (*run)(CommandInput& in, Job& job);
    bool withoutLinker = false;  // works on files alone
    // Checks of the arguments made before the command line opens the linker,
    // so that a file refused never holds it; true when the job may run.
    bool (*beforeLinker)(CommandInput& in, Reporter& r) = nullptr;
    // The exit status tells what was found, not whether the job was done:
    // a file unreadable, else one unknown, bad or near, else all known.
    bool exitsByFinding = false;
    // Runs even when no linker could be used, to say why; the exit status
    // still says that none could.
    bool evenWithoutLinker = false;
};

// In the command line's order.
const std::vector<CommandRow>& commands();
// The row with this command-line name, or null.
const CommandRow* findCommand(const std::string& name);
// The --help line of a first word that several rows share ("saves").
const char* commandGroupHelp(const std::string& word);
// The rows with a button, in the order the window makes them.
std::vector<const CommandRow*> buttonCommands();
// The first argument of that kind, or null.
const CommandArg* findArg(const CommandRow& c, ArgKind kind);
