#include "cli/cli.h"

#include <CLI/CLI.hpp>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "cli/interrupt.h"
#include "cli/terminal_reporter.h"
#include "core/jobs/image_identity.h"
#include "core/jobs/jobs.h"
#include "core/link/transfer.h"
#include "core/number_text.h"
#include "version.h"

namespace {

// What the command line gathered for the one command it runs.
struct CommandArgs {
    std::string path;
    std::vector<std::string> paths;  // identify takes several
    bool force = false;
    uint32_t address = 0;
    uint32_t value = 0;
    WriteSettings settings;
};

// One row per command: its name, its help, the arguments it takes, and the
// job it runs (true only when the job ended done), and whether it works on
// files alone. A new option is a line in `define` and a field of CommandArgs.
struct Command {
    const char* name;
    const char* help;
    void (*define)(CLI::App& sub, CommandArgs& args);
    bool (*run)(const CommandArgs& args, Reporter& r);
    bool withoutLinker = false;
    // Checks of the arguments that need no linker, made before it is opened,
    // so that a refused file never holds it; true when the command may run.
    bool (*beforeLinker)(const CommandArgs& args, Reporter& r) = nullptr;
};

// A number as the input window reads it (decimal, or hex after 0x), but
// whole; `fault` says what else is wrong with it, if anything. Handed on to
// CLI11 in decimal, which would take a leading zero for octal.
CLI::Validator number(const char* shown, std::function<const char*(uint32_t)> fault)
{
    return CLI::Validator(
        [fault](std::string& text) -> std::string {
            uint32_t v = 0;
            if (!exactNumberFromText(text.c_str(), &v))
                return "'" + text + "' is not a number (decimal, or hexadecimal after 0x)";
            if (const char* why = fault(v))
                return "'" + text + "' " + why;
            text = std::to_string(v);
            return std::string();
        },
        shown);
}

CLI::Validator numberUpTo(uint32_t max, const char* shown, const char* tooLarge)
{
    return number(shown, [max, tooLarge](uint32_t v) { return v > max ? tooLarge : nullptr; });
}

// The chunk sizes the window's Write_N menu offers.
CLI::Validator writeNChoices()
{
    return number("1..32|64..1024", [](uint32_t n) -> const char* {
        bool offered = (n >= 1 && n <= 32) || (n % 64 == 0 && n >= 64 && n <= 1024);
        return offered ? nullptr : "is not 1 to 32 or a multiple of 64 up to 1024";
    });
}

void inputFile(CLI::App& sub, CommandArgs& a, const char* help)
{
    sub.add_option("FILE", a.path, help)->required()->check(CLI::ExistingFile);
}

void outputFile(CLI::App& sub, CommandArgs& a, const char* help)
{
    sub.add_option("FILE", a.path, help)->required();
}

void address(CLI::App& sub, CommandArgs& a)
{
    sub.add_option("ADDR", a.address, "cartridge address: chip 0 from 0, chip 1 from 0x200000")
        ->required()
        ->transform(numberUpTo(UINT32_MAX, "NUMBER", nullptr));
}

void noArguments(CLI::App&, CommandArgs&) {}

void defineFlash(CLI::App& sub, CommandArgs& a)
{
    inputFile(sub, a, "the ROM image (.ngp, .rom, .bin)");
    sub.add_option("--write-n", a.settings.writeN, "chunk size in bytes (the window's Write_N)")
        ->transform(writeNChoices())
        ->capture_default_str();
    sub.add_option_function<std::string>(
           "--turbo",
           [&a](const std::string& mode) {
               a.settings.turboMode = mode == "on" ? TURBO_ON : mode == "off" ? TURBO_OFF : TURBO_AUTO;
           },
           "Turbo Mode; auto: on for a Cindercart only")
        ->check(CLI::IsMember({"auto", "on", "off"}))
        ->default_str("auto");
    sub.add_option("--skip-chip", a.settings.skipChip, "leave this chip neither erased nor written")
        ->transform(numberUpTo(1, "0|1", "is not a chip: 0 or 1"));
    sub.add_option_function<std::string>(
           "--erase",
           [&a](const std::string& scope) {
               a.settings.eraseScope = scope == "rom"       ? EraseScope::RomBlocks
                                       : scope == "changed" ? EraseScope::ChangedBlocks
                                                            : EraseScope::WholeChips;
           },
           "chips: whole chips; rom: the ROM's blocks only; changed: only the blocks that differ "
           "from the file, read first")
        ->check(CLI::IsMember({"chips", "rom", "changed"}))
        ->default_str("chips");
    // A script cannot look at the cartridge afterwards: the command line reads
    // back what it wrote unless told not to.
    a.settings.verifyAfterWrite = true;
    sub.add_flag_callback("--no-verify", [&a] { a.settings.verifyAfterWrite = false; },
                          "do not read the written bytes back and compare them with the file");
    sub.add_flag("--force", a.force,
                 "flash a file without valid licence text, which the console will not start, or one "
                 "larger than the cartridge, of which only what fits is written");
}

// The window only warns after the fact; a script gets no second look, so a
// file the console would refuse is not flashed unless asked for.
bool flashUnlessRefused(const CommandArgs& a, Reporter& r)
{
    CartHeader header;
    if (!a.force && readFileHeader(a.path, &header) && !header.licensed) {
        ReporterScope scope(r);
        printWindow("Not flashing '%s': it has no valid licence text,",
                    printable(displayName(a.path.c_str()), true).c_str());
        printWindow("so the console would refuse to start it. Give --force to flash it all the same.");
        return false;
    }
    // As flashrom refuses an image larger than the chip: a script would not
    // see that only part of it was written.
    WriteSettings settings = a.settings;
    settings.refuseOversized = !a.force;
    return flashRom(a.path, settings, r);
}

// A FIFO would hold the linker until a writer came; an empty file is no ROM.
bool flashFileAccepted(const CommandArgs& a, Reporter& r)
{
    ReporterScope scope(r);
    return !romFileRefused(a.path);
}

bool identifyAll(const CommandArgs& a, Reporter& r)
{
    bool all = true;
    for (const std::string& path : a.paths)
        all = identifyImage(path, r) && all;
    return all;
}

void defineWriteByte(CLI::App& sub, CommandArgs& a)
{
    address(sub, a);
    sub.add_option("VALUE", a.value, "the byte, 0 to 255")
        ->required()
        ->transform(numberUpTo(0xFF, "0..255", "is more than a byte"));
}

const Command COMMANDS[] = {
    {"info", "Cart Info: the chips' identification bytes, the cartridge size and the ROM name",
     noArguments, [](const CommandArgs&, Reporter& r) { return cartInfo(r); }},
    {"protected", "Protected Blocks: which erase blocks are protected", noArguments,
     [](const CommandArgs&, Reporter& r) { return protectedBlocks(r); }},
    {"backup", "Backup ROM: copy the whole cartridge into a ROM image",
     [](CLI::App& sub, CommandArgs& a) { outputFile(sub, a, "the ROM image to write"); },
     [](const CommandArgs& a, Reporter& r) {
         // The name was given before the cartridge was probed; its ROM name is not offered.
         return backupRom(
             [&a](const std::string&, std::string* path) {
                 *path = a.path;
                 return true;
             },
             r);
     }},
    {"verify", "Verify ROM: compare a ROM image with the cartridge, block by block",
     [](CLI::App& sub, CommandArgs& a) { inputFile(sub, a, "the ROM image to compare"); },
     [](const CommandArgs& a, Reporter& r) { return verifyRom(a.path, r); }},
    {"flash", "Flash ROM(s): erase the flash cartridge and write a ROM image into it", defineFlash,
     flashUnlessRefused, false, flashFileAccepted},
    {"save-backup", "Backup Savegame: the save area of an official cartridge into an NGF file",
     [](CLI::App& sub, CommandArgs& a) { outputFile(sub, a, "the NGF file to write"); },
     [](const CommandArgs& a, Reporter& r) { return backupSaveGame(a.path, r); }},
    {"save-write", "Write Savegame: an NGF file back into the cartridge",
     [](CLI::App& sub, CommandArgs& a) { inputFile(sub, a, "the NGF save-game file"); },
     [](const CommandArgs& a, Reporter& r) { return writeSaveGame(a.path, a.settings, r); }},
    {"read-byte", "Read Byte: one byte at a cartridge address", address,
     [](const CommandArgs& a, Reporter& r) {
         return cartAddressValid(a.address, r) && readByte(a.address, r);
     }},
    {"write-byte", "Write Byte: one byte written as a single bus cycle (not necessarily programmed)",
     defineWriteByte,
     [](const CommandArgs& a, Reporter& r) {
         return cartAddressValid(a.address, r) && writeByte(a.address, int(a.value), r);
     }},
    {"identify", "a ROM image's checksums, header and place in the known-dump lists (no linker needed)",
     [](CLI::App& sub, CommandArgs& a) {
         sub.add_option("FILE", a.paths, "ROM images")->required()->check(CLI::ExistingFile);
     },
     identifyAll, true},
};

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
    "  3  no linker answered, its firmware was refused, or it vanished\n"
    "  128+N  a signal N stopped the job (130: Ctrl-C, 143: SIGTERM, 129: SIGHUP)";

const char* baseName(const char* path)
{
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Opens the link, runs the job, lets the linker go whatever happened.
int runOnLinker(const Command& command, const CommandArgs& args, const CliIo& io)
{
    // The log file files the link's lines and the job's under the command.
    CommandScope named(command.name);
    if (command.beforeLinker) {
        TerminalReporter early(io.out, io.err, 0, io.wallClock);
        if (!command.beforeLinker(args, early))
            return CLI_FAILED;
    }
    InterruptScope catchSignals(io.wallClock);
    TerminalReporter linkLines(io.err, io.err, 0, io.wallClock);
    TerminalReporter job(io.out, io.err, io.barColumns, io.wallClock);
    linkLines.afterBreath = job.afterBreath = io.afterBreath;
    setDefaultReporter(&linkLines);

    int status = CLI_NO_LINKER;
    if (openLink()) {
        // A Ctrl-C during start-up cancels the job before it begins.
        bool done = linkLines.goingOn() && command.run(args, job);
        status = linkGone() ? CLI_NO_LINKER : done ? CLI_DONE : CLI_FAILED;
    }
    closeLink();
    setDefaultReporter(nullptr);
    // Cleaned up: a script can now tell a cancel from a failure.
    if (interrupted() && status != CLI_DONE)
        return interruptedStatus();
    return status;
}

// A command on files alone: the linker is neither opened nor let go.
int runWithoutLinker(const Command& command, const CommandArgs& args, const CliIo& io)
{
    CommandScope named(command.name);
    TerminalReporter job(io.out, io.err, io.barColumns, io.wallClock);
    job.afterBreath = io.afterBreath;
    return command.run(args, job) ? CLI_DONE : CLI_FAILED;
}

}  // namespace

int runCli(int argc, const char* const argv[], const CliIo& io)
{
    const char* name = argc > 0 ? baseName(argv[0]) : "pockettetherbox-cli";
    CLI::App app("Drives the Tetherbox linker and the Neo Geo Pocket cartridge in it.", name);
    app.set_version_flag("--version", std::string(name) + " " + PTB_VERSION);
    app.require_subcommand(1);
    app.footer(FOOTER);

    CommandArgs args;
    const Command* chosen = nullptr;
    for (const Command& c : COMMANDS) {
        CLI::App* sub = app.add_subcommand(c.name, c.help);
        sub->footer(FOOTER);
        c.define(*sub, args);
        sub->final_callback([&chosen, &c] { chosen = &c; });
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, io.out, io.err) == 0 ? CLI_DONE : CLI_USAGE;
    }
    if (chosen->withoutLinker)
        return runWithoutLinker(*chosen, args, io);
    return runOnLinker(*chosen, args, io);
}
