#include "core/commands.h"

#include <algorithm>

#include "core/identity/header.h"
#include "core/identity/identity.h"
#include "core/jobs/image_identity.h"
#include "core/jobs/jobs.h"

namespace {

// Colour games are dumped as .ngc (or .ngpc), as --rename and the known-dump lists name them.
const char* const ROM_PATTERN = "*.{ngp,rom,bin,ngc,ngpc}";
const char* const NGF_PATTERN = "*.{ngf}";

// What a stop half-way tells the command line's user to run to undo it: the
// program that is running, as it was started (pockettetherbox-cli-sim too).
std::string restoreCommand(const CommandOptions& o)
{
    return shellWord(o.program, true) + " saves restore";
}
const char* const ANY_GAME = "--any-game";

// Passes everything on to the face's reporter, keeping what the job found
// its image to be beyond the job's own lists.
class KeepingImage : public Reporter {
public:
    explicit KeepingImage(Reporter& to) : to_(to) {}
    void line(const char* text) override { to_.line(text); }
    void beginProgress(const char* title, uint64_t totalBytes) override { to_.beginProgress(title, totalBytes); }
    void progress(float fraction) override { to_.progress(fraction); }
    bool goingOn() override { return to_.goingOn(); }
    void endProgress() override { to_.endProgress(); }
    void breathe() override { to_.breathe(); }
    void beginTimedProgress(const char* title, double typicalSeconds) override
    {
        to_.beginTimedProgress(title, typicalSeconds);
    }
    void stage(const std::string& text) override { to_.stage(text); }
    void holdCancel(bool held) override { to_.holdCancel(held); }
    void notes(const std::vector<std::string>& full, const std::vector<std::string>& brief) override
    {
        to_.notes(full, brief);
    }
    void identified(const ImageReport& report) override
    {
        kept = report;
        if (report.verdict.entry) {
            entry_ = *report.verdict.entry;
            kept.verdict.entry = &entry_;
        }
        found = true;
    }

    ImageReport kept;
    bool found = false;

private:
    Reporter& to_;
    DumpEntry entry_;
};

// Runs a job on one image and tells the face what it found, however it ended.
template <typename Run>
bool findingImage(CommandInput& in, Job& job, const std::string& file, Run run)
{
    KeepingImage keeping(job.r);
    Job keepingJob(job.link, keeping, job.settings);
    keepingJob.restoreCommand = job.restoreCommand;
    bool done = run(keepingJob);
    in.imageFound(file, done ? "done" : "failed", done && keeping.found ? &keeping.kept : nullptr);
    return done;
}

// Every file against lists read once; one that cannot be read is said and
// the rest go on.
bool identifyFiles(CommandInput& in, Job& job)
{
    Reporter& r = job.r;
    KnownDumps known = loadKnownDumps(knownDumpDir());
    logListNotes(known, r);
    bool all = true;
    CommandOptions o = in.options();
    for (const std::string& path : distinctFiles(in.files(), r)) {
        ImageReport report;
        if (!identifyImage(path, known, r, &report)) {
            in.imageFound(path, "unreadable", nullptr);
            all = false;
            continue;
        }
        std::string file = path;
        if ((o.rename || o.renamePlayed) && !renameAfterEntry(path, report, r, &file, o.renamePlayed))
            all = false;
        in.imageFound(file, "done", &report);
    }
    return all;
}

const CommandOption JSON_OPTION{
    "--json", OptionKind::Flag, "print what the image is as one JSON object; the log goes to standard error",
    "print what the image is as one JSON object on standard output (see JSON OUTPUT); the log goes to "
    "standard error.",
    nullptr, nullptr, [](CommandOptions& o, const std::string&) { o.json = true; }};

const CommandArg ADDRESS{ArgKind::Address, "cartridge address: chip 0 from 0, chip 1 from 0x200000",
                         "Enter address", nullptr, false, "0 to 0x3FFFFF; chip 1 from 0x200000"};

// The window only warns after the fact; a script gets no second look, so a
// file the console would refuse is not flashed unless asked for.
bool flashUnlessRefused(CommandInput& in, Job& job)
{
    std::string path;
    if (!in.fileToRead(&path))
        return false;
    CommandOptions o = in.options();
    // As flashrom refuses an image larger than the chip: a script would not
    // see that only part of it was written.
    job.settings.refuseOversized = !o.force;
    // Such a copy is of the block as the flash meant to leave it, on a
    // cartridge that may hold no game yet.
    if (!in.asksUser())
        job.restoreCommand = restoreCommand(o) + " " + ANY_GAME;
    return findingImage(in, job, path, [&](Job& flash) {
        CartHeader header;
        if (!o.force && readFileHeader(path, &header) && !header.licensed) {
            printWindow(flash.r, "Not flashing '%s':", printable(displayName(path.c_str()), true).c_str());
            printWindow(flash.r, "it has no valid licence text,");
            printWindow(flash.r, "so the console would refuse to start it.");
            printWindow(flash.r, "Give --force to flash it all the same.");
            return false;
        }
        return flashRom(path, flash);
    });
}

// A FIFO would hold the linker until a writer came; an empty file is no ROM;
// a file that cannot be read holds it for nothing.
bool flashFileAccepted(CommandInput& in, Reporter& r)
{
    std::string path;
    return in.fileToRead(&path) && !romFileRefused(r, path) &&
           !unreadableRefused(r, path, path.c_str(), false, FAILED_TO_OPEN);
}

bool verifyFileAccepted(CommandInput& in, Reporter& r)
{
    std::string path;
    return in.fileToRead(&path) && !unreadableRefused(r, path, displayName(path.c_str()), false, FAILED_TO_OPEN);
}

// Standard input and a named pipe are read once the job has begun.
bool saveFileAccepted(CommandInput& in, Reporter& r)
{
    std::string path;
    return in.fileToRead(&path) &&
           (path == "-" || !unreadableRefused(r, path, path.c_str(), true, SAVE_COULDNT_OPEN));
}

// A write setting's option, from its row in the settings table.
CommandOption settingOption(const SettingRow& row)
{
    static const OptionKind kinds[] = {OptionKind::Flag, OptionKind::Choice, OptionKind::Number, OptionKind::Flag};
    CommandOption o{row.optionName, kinds[int(row.option)], row.help, row.manual};
    o.values = row.optionValues.empty() ? nullptr : row.optionValues.c_str();
    o.shownDefault = row.shownDefault;
    o.manualValue = row.manualValue;
    o.set = [&row](CommandOptions& options, const std::string& v) {
        if (row.option == SettingOption::FlagOff)
            row.set(options.settings, 0);
        else if (row.option == SettingOption::Number)
            row.set(options.settings, std::stoi(v));
        else if (const SettingChoice* c = row.choiceForWord(v))
            row.set(options.settings, c->value);
    };
    if (row.option == SettingOption::Number)
        o.fault = [&row](uint32_t n) -> const char* {
            return n <= uint32_t(INT32_MAX) && row.choiceFor(int(n)) ? nullptr : row.refusal;
        };
    return o;
}

// The options the settings table gives one command.
std::vector<CommandOption> settingOptions(const std::string& command)
{
    std::vector<CommandOption> options;
    for (const SettingRow& row : writeSettingRows())
        if (row.option != SettingOption::NoOption && command == row.command)
            options.push_back(settingOption(row));
    return options;
}

std::vector<CommandOption> flashOptions()
{
    std::vector<CommandOption> options = settingOptions("flash");
    options.push_back(
        {"--force", OptionKind::Flag,
         "flash a file without valid licence text, which the console will not start, or one larger than the "
         "cartridge, of which only what fits is written",
         "write a file that has no valid licence text, which the console will not start, or one larger than the "
         "cartridge, of which only what fits is written.",
         nullptr, nullptr, [](CommandOptions& o, const std::string&) { o.force = true; }});
    options.push_back(JSON_OPTION);
    return options;
}

// Into a folder, the dump is named once it is known; a dump the lists know
// under another name may take that name.
bool backupInto(CommandInput& in, Job& job)
{
    std::string given, dump, listName;
    BackupOptions options;
    options.report = in.options().report;
    options.intoFolder = !in.asksUser();
    options.writtenTo = &dump;
    options.listName = &listName;
    KeepingImage keeping(job.r);
    Job keepingJob(job.link, keeping, job.settings);
    bool done = backupRom(
        [&](const std::string& proposed, std::string* path) {
            bool chosen = in.fileToWrite(proposed.c_str(), path);
            given = *path;
            return chosen;
        },
        keepingJob, options);
    // A backup that ended before it asked still names what it was given.
    if (given.empty() && !in.asksUser())
        in.fileToWrite(nullptr, &given);
    in.imageFound(done ? dump : given, done ? "done" : "failed", done && keeping.found ? &keeping.kept : nullptr);
    if (done && !listName.empty() && in.renameToListName(dump, listName)) {
        renameInFolder(job.r, dump, listName);
    }
    return done;
}

std::vector<CommandRow> makeCommands()
{
    return {
        {"info", "Cart Info: the chips' identification bytes, the cartridge size and the ROM name",
         "show the chips' identification bytes, the cartridge size, the ROM name and the cartridge's "
         "decoded header.",
         {"Cart Info", "Get cartridge-specific information.", 123, 2},
         {},
         {},
         [](CommandInput&, Job& job) { return cartInfo(job); }},
        {"protected", "Protected Blocks: which erase blocks are protected",
         "list every erase block as protected or unprotected.",
         {"Protected Blocks", "List all protected/unprotected blocks.", 143, 6},
         {},
         {},
         [](CommandInput&, Job& job) { return protectedBlocks(job); }},
        {"backup", "Backup ROM: copy the whole cartridge into a ROM image",
         "copy the whole cartridge, one chip or two, into a ROM image file, then give the file's size and "
         "checksums and whether it is a known dump. A partial file is deleted after a failure or Cancel. "
         "Given a folder (DIR/), the dump is named after its known-dump list entry (with \" (save)\" before "
         "the extension when it is known only once its save area reads as erased), or after the cartridge's "
         "ROM name when it is not known or the entry's name is unfit or refused by the folder (a line says "
         "why), with \" (2)\" and so on before the extension while the name, or with --report its report's "
         "name, is taken: no file is ever replaced.",
         {"Backup ROM", "Copy the inserted cartridge to a file.", 55, 1},
         {{ArgKind::FileToWrite, "the ROM image to write, or a folder (DIR/) to name it in",
           "Select file for backup", ROM_PATTERN}},
         {{"--report", OptionKind::Flag,
           "also write FILE.txt: date, version, chip IDs, protection map, checksums, header and verdict",
           "also write the dump's name plus .txt beside it: the date, the program's version, the chips' "
           "identification bytes, the protection map, the checksums, the header and the verdict. A dump "
           "that replaces a file replaces that file's report too, so a report always describes the dump "
           "beside it.",
           nullptr, nullptr, [](CommandOptions& o, const std::string&) { o.report = true; }},
          settingOptions("backup")[0], JSON_OPTION},
         // The cartridge is probed first, so that the name offered can be its
         // ROM name (a name given on the command line is taken as is).
         backupInto},
        {"verify", "Verify ROM: compare a ROM image with the cartridge, block by block",
         "compare a ROM image file with the cartridge block by block. On an official cartridge, a difference "
         "only inside its unprotected blocks (a changed save area) is reported but is not a failure; a flash "
         "cartridge has no protected blocks, and there any difference is a failure.",
         {"Verify ROM", "Compare the selected ROM file against the inserted cartridge.", 31, 4},
         {{ArgKind::FileToRead, "the ROM image to compare", "Verify a ROM", ROM_PATTERN}},
         {JSON_OPTION},
         [](CommandInput& in, Job& job) {
             std::string path;
             return in.fileToRead(&path) &&
                    findingImage(in, job, path, [&](Job& verify) { return verifyRom(path, verify); });
         },
         false,
         verifyFileAccepted},
        {"flash", "Flash ROM(s): erase the flash cartridge and write a ROM image into it",
         "erase a flash cartridge and write a ROM image (.ngp, .ngc, .rom, .bin) into it.",
         {"Flash ROM(s)", "Load NGP ROM(s) for flashing to the inserted cartridge.", 11, 0, true},
         {{ArgKind::FileToRead, "the ROM image (.ngp, .ngc, .rom, .bin)", "Load a ROM", ROM_PATTERN}},
         flashOptions(),
         flashUnlessRefused,
         false,
         flashFileAccepted},
        {"save-backup", "Backup Savegame: the save area of an official cartridge into an NGF file",
         "keep the save area (the unprotected blocks) of an official cartridge in an NGF save-game file.",
         {"Backup Savegame", "Create a NGF file from an official cartridge.  Do not use with flash cart.", 79, 3},
         {{ArgKind::FileToWrite, "the NGF file to write", "Select file for save-game backup", NGF_PATTERN}},
         {},
         [](CommandInput& in, Job& job) {
             // The game's name and today's date, in the folder last used.
             std::string proposal, path;
             if (in.asksUser()) {
                 std::string folder = in.proposalFolder();
                 proposal = (folder.empty() ? "" : folder + "/") + proposeSaveBackup(folder, job);
             }
             if (!in.fileToWrite(proposal.empty() ? nullptr : proposal.c_str(), &path)) {
                              printWindow(job.r, "No file selected.");
                 return false;
             }
             return backupSaveGame(path, job);
         }},
        {"save-write", "Write Savegame: an NGF file back into the cartridge",
         "program an NGF save-game file back into the cartridge.",
         {"Write Savegame", "Write a NGF savegame file to the inserted cartridge.", 99, 5},
         {{ArgKind::FileToRead, "the NGF save-game file; - for standard input", "Select save-game file", NGF_PATTERN, true}},
         {},
         [](CommandInput& in, Job& job) {
             std::string path;
             SaveWriteRun run;
             run.undoCommand = in.asksUser() ? "" : restoreCommand(in.options());
             run.undoAnyGame = ANY_GAME;
             return in.fileToRead(&path) && writeSaveGame(path, job, &run);
         },
         false,
         saveFileAccepted},
        {"saves list",
         "the vault: every safety copy and save-game backup, one a line (PATH, GAME, DATE, BYTES, KIND, "
         "tab-separated)",
         "list every safety copy and save-game backup the program made, one a line, games in name order and "
         "each game's newest first: the path, the game (its title and software ID, as its folder is named), "
         "the date (local time with its offset from UTC, as 2026-12-07T21:05:09+0100), the size in bytes and "
         "the kind (copy: made before a write; backup: made by save-backup), separated by tabs. In the path, "
         "control bytes, bytes that are not UTF-8 and the backslash are written as \\xNN, so that no field "
         "holds a tab. A game (its folder name, title or software ID) keeps only its lines.",
         {},
         {{ArgKind::Game, "only this game: its folder name, its title or its software ID"}},
         {},
         [](CommandInput& in, Job& job) {
             std::string note;
             bool done = listSaves(in.game(), job.r, &note);
             if (!note.empty())
                 in.aside(job.r, note);
             return done;
         },
         true},
        {"saves restore", "write a copy or backup from the vault back into the cartridge of its game",
         "write a safety copy or save-game backup from the vault back into the cartridge, as save-write does, "
         "after checking that the cartridge is the same game.",
         {},
         {{ArgKind::FileToRead, "the copy or backup, as saves list gives it"}},
         {{ANY_GAME, OptionKind::Flag, "write it to a cartridge of another game too",
           "write it even to a cartridge of another game.", nullptr, nullptr,
           [](CommandOptions& o, const std::string&) { o.anyGame = true; }}},
         [](CommandInput& in, Job& job) {
             std::string path;
             SaveWriteRun run;
             run.undoCommand = restoreCommand(in.options());
             run.undoAnyGame = ANY_GAME;
             CommandOptions o = in.options();
             return in.fileToRead(&path) && restoreSave(path, o.anyGame, &run, job);
         }},
        {"read-byte", "Read Byte: one byte at a cartridge address", "show the byte at a cartridge address.",
         {"Read Byte", "Read a single byte from the inserted cartridge.", 167, 7},
         {ADDRESS},
         {},
         [](CommandInput& in, Job& job) {
             uint32_t address = 0;
             return in.address(&address) && cartAddressValid(address, job.r) && readByte(address, job);
         }},
        {"write-byte", "Write Byte: one byte written as a single bus cycle (not necessarily programmed)",
         "write one byte to a cartridge address (not necessarily programming it into flash).",
         {"Write Byte",
          "Write a single byte to the catridge (not necessarily flashing the data to the cartridge).", 187, 8},
         {ADDRESS, {ArgKind::ByteValue, "the byte, 0 to 255", "Enter byte value", nullptr, false,
                    "0 to 0xFF; above, the low byte"}},
         {},
         [](CommandInput& in, Job& job) {
             // An address past chip 1's window is refused before a value is asked for.
             uint32_t address = 0;
             int value = 0;
             return in.address(&address) && cartAddressValid(address, job.r) && in.value(&value) &&
                    writeByte(address, value, job);
         }},
        {"doctor", "check the chain from this program to the cartridge, one line per link",
         "check the chain from this program to the cartridge and print one line for each link, with what to do "
         "where one fails: the libusb version; the udev rule in one of udev's folders; each linker on the bus "
         "(bus and address); whether this user may open it, and why not; its firmware version; whether each "
         "chip answers, with its identification bytes and size, and the header's licence text; the contacts: "
         "the header and the first 64 KiB are read twice and compared, and unstable reads name the first "
         "address that differed. Exits 0 when every link holds, 1 when one does not, and 3 when no linker "
         "could be used.",
         {},
         {},
         {},
         [](CommandInput&, Job& job) { return doctor(job); },
         false,
         nullptr,
         false,
         true},
        {"identify", "a ROM image's checksums, header and place in the known-dump lists (no linker needed)",
         "give each file's size, CRC32, MD5, SHA-1 and SHA-256, its decoded header and whether it is a known "
         "dump, near one (the same CRC32 at another size; the same size and CRC32 with another SHA-1; the "
         "header's serial and size with other bytes) or a known bad dump. A file the size of an official "
         "cartridge is also matched with the block such cartridges keep their save in (8 KB at 0x1FA000 of "
         "each 16 Mbit chip, 0xFA000 and 0x7A000 on 8 and 4 Mbit ones, 0x1FA000 and 0x2FA000 on a 24 Mbit "
         "one) taken as erased, and the verdict says it assumed so. A file that cannot be read is named with "
         "the system's reason and the others are still identified; a file given twice is identified once. "
         "The lists are read once for all the files, and what was left out of them is said once, before the "
         "first file.",
         {},
         {{ArgKind::Files, "ROM images"}},
         {{"--rename", OptionKind::Flag,
           "rename each known dump to its list entry's file name, in its folder, never over a file already there",
           "rename each known dump, in its folder, to the file name its list entry gives it; never over a "
           "file already there, and never to a name that is \"..\", only dots and blanks, nothing, or holds a "
           "path separator or a control character (a NUL too): the file keeps its name and a line says why, "
           "and the exit status is 1. A dump known only once its save area reads as erased keeps its name.",
           nullptr, nullptr, [](CommandOptions& o, const std::string&) { o.rename = true; }},
          {"--rename-played", OptionKind::Flag,
           "as --rename, and a played dump takes its entry's name with \" (save)\" before the extension",
           "as --rename, and also rename a dump known only once its save area reads as erased (a played "
           "cartridge's), whose bytes are not the entry's: to its entry's file name with \" (save)\" before the "
           "extension.",
           nullptr, nullptr, [](CommandOptions& o, const std::string&) { o.renamePlayed = true; }},
          JSON_OPTION},
         identifyFiles,
         true,
         nullptr,
         true},
    };
}

}  // namespace

const std::vector<CommandRow>& commands()
{
    static const std::vector<CommandRow> rows = makeCommands();
    return rows;
}

const char* commandGroupHelp(const std::string& word)
{
    return word == "saves" ? "the vault of safety copies and save-game backups: list, restore" : "";
}

const CommandRow* findCommand(const std::string& name)
{
    for (const CommandRow& c : commands())
        if (name == c.name)
            return &c;
    return nullptr;
}

std::vector<const CommandRow*> buttonCommands()
{
    std::vector<const CommandRow*> withButton;
    for (const CommandRow& c : commands())
        if (c.button.label)
            withButton.push_back(&c);
    std::stable_sort(withButton.begin(), withButton.end(), [](const CommandRow* a, const CommandRow* b) {
        return a->button.tabOrder < b->button.tabOrder;
    });
    return withButton;
}

const CommandArg* findArg(const CommandRow& c, ArgKind kind)
{
    for (const CommandArg& a : c.args)
        if (a.kind == kind)
            return &a;
    return nullptr;
}
