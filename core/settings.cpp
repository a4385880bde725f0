#include "core/settings.h"

#include "core/report.h"

bool writeNOffered(int n)
{
    return (n >= 1 && n <= 32) || (n % 64 == 0 && n >= 64 && n <= 1024);
}

const SettingChoice* SettingRow::choiceFor(int value) const
{
    for (const SettingChoice& c : choices)
        if (c.value == value)
            return &c;
    return nullptr;
}

const SettingChoice* SettingRow::choiceForWord(const std::string& word) const
{
    for (const SettingChoice& c : choices)
        if (c.word && word == c.word)
            return &c;
    return nullptr;
}

static std::vector<SettingChoice> writeNChoices()
{
    std::vector<SettingChoice> choices;
    for (int n = 1; n <= 1024; n++)
        if (writeNOffered(n))
            choices.push_back({n, nullptr, std::to_string(n), nullptr});
    return choices;
}

// A row's menu: its label, width and tooltip, its choices, and the field of
// WriteSettings it shows.
static SettingRow menu(const char* label, int width, const char* tooltip, std::vector<SettingChoice> choices,
                       int (*get)(const WriteSettings&), void (*set)(WriteSettings&, int))
{
    SettingRow row;
    row.label = label;
    row.menuWidth = width;
    row.tooltip = tooltip;
    row.choices = std::move(choices);
    row.get = get;
    row.set = set;
    return row;
}

// The row's option on the command line: `values` as --help shows them (by
// default, the choices' words).
static void option(SettingRow* row, SettingOption kind, const char* name, const char* help, const char* manual,
                   const char* shownDefault = nullptr, std::string values = "")
{
    row->option = kind;
    row->optionName = name;
    row->help = help;
    row->manual = manual;
    row->shownDefault = shownDefault;
    if (values.empty())
        for (const SettingChoice& c : row->choices)
            if (c.word)
                values += (values.empty() ? "" : "|") + std::string(c.word);
    row->optionValues = values;
}

static std::vector<SettingRow> buildRows()
{
    std::vector<SettingRow> rows;
    rows.push_back(menu("Turbo Mode", 80,
                        "On: each byte in fewer bus cycles, faster but never read back. Off: slower, each "
                        "byte checked. Auto: On only for a Cindercart.",
                        {{TURBO_OFF, "off", "Off", nullptr}, {TURBO_ON, "on", "On", nullptr},
                         {TURBO_AUTO, "auto", "Auto", nullptr}},
                        [](const WriteSettings& s) { return int(s.turboMode); },
                        [](WriteSettings& s, int v) { s.turboMode = uint8_t(v); }));
    rows.back().unknownLine = "Unknown G_unlockBypassMode mode value %d";
    option(&rows.back(), SettingOption::Word, "--turbo", "Turbo Mode; auto: on for a Cindercart only",
           "Turbo Mode; auto (the default) turns it on for the maker's own flash cartridge only.", "auto");

    rows.push_back(menu("Write_N", 80,
                        "Bytes sent per write command. 512 or 1024 flash fastest; 1 is a hundred times "
                        "slower but names the first byte that will not program.",
                        writeNChoices(), [](const WriteSettings& s) { return s.writeN; },
                        [](WriteSettings& s, int v) { s.writeN = v; }));
    option(&rows.back(), SettingOption::Number, "--write-n", "chunk size in bytes (the window's Write_N)",
           "the chunk size in bytes: 1 to 32, or a multiple of 64 up to 1024 (default 512).", "512",
           "1..32|64..1024");
    rows.back().refusal = "is not 1 to 32 or a multiple of 64 up to 1024";
    rows.back().manualValue = "n";

    rows.push_back(menu("Write Processing", 100,
                        "Skip a chip to leave what it holds untouched; the ROM's bytes for that chip are "
                        "not written.",
                        {{-1, nullptr, "Both chips", nullptr}, {0, "0", "Skip chip0", nullptr},
                         {1, "1", "Skip chip1", nullptr}},
                        [](const WriteSettings& s) { return s.skipChip; },
                        [](WriteSettings& s, int v) { s.skipChip = v; }));
    rows.back().unknownLine = "Unknown skipChip mode value %d";
    option(&rows.back(), SettingOption::Number, "--skip-chip", "leave this chip neither erased nor written",
           "neither erase nor write that chip.");
    rows.back().refusal = "is not a chip: 0 or 1";

    rows.push_back(menu("Erase", 170,
                        "Whole chips: one erase, the usual way. ROM's blocks: keeps what lies past the ROM, "
                        "slower for large ROMs. Changed blocks: reads first, then rewrites only what "
                        "differs; fastest for a small change. Remembered between runs.",
                        {{int(EraseScope::WholeChips), "chips", "Whole chips", "whole-chips"},
                         {int(EraseScope::RomBlocks), "rom", "ROM's blocks only", "rom-blocks"},
                         {int(EraseScope::ChangedBlocks), "changed", "Changed blocks only", "changed-blocks"}},
                        [](const WriteSettings& s) { return int(s.eraseScope); },
                        [](WriteSettings& s, int v) { s.eraseScope = EraseScope(v); }));
    rows.back().keptAs = "erase";
    option(&rows.back(), SettingOption::Word, "--erase",
           "chips: whole chips; rom: the ROM's blocks only; changed: only the blocks that differ from the "
           "file, read first",
           "erase whole chips (the default), only the erase blocks the ROM covers, or only the blocks "
           "whose bytes differ from the ROM, which are then the only ones written.",
           "chips");

    rows.push_back(menu("Verify After Writing", 80,
                        "On: reads back what was written and names the first byte that differs, a few "
                        "seconds more. Remembered between runs.",
                        {{0, nullptr, "Off", nullptr}, {1, nullptr, "On", nullptr}},
                        [](const WriteSettings& s) { return int(s.verifyAfterWrite); },
                        [](WriteSettings& s, int v) { s.verifyAfterWrite = v != 0; }));
    rows.back().keptAs = "verifyAfterWriting";
    option(&rows.back(), SettingOption::FlagOff, "--no-verify",
           "do not read the written bytes back and compare them with the file",
           "do not read the written range back and compare it with the file, as the command line "
           "otherwise does after writing.");

    rows.push_back(menu("Read Twice", 80,
                        "On: Backup ROM reads the cartridge twice and reads again where the passes differ, "
                        "for dirty contacts; about twice as long. Off: one pass.",
                        {{1, nullptr, "Off", nullptr}, {2, nullptr, "On", nullptr}},
                        [](const WriteSettings& s) { return s.readPasses; },
                        [](WriteSettings& s, int v) { s.readPasses = v; }));
    rows.back().command = "backup";
    option(&rows.back(), SettingOption::Number, "--passes",
           "read the cartridge this many times and compare the passes (2: for dirty contacts)",
           "read the cartridge once (the default) or twice, comparing the passes and reading again "
           "where they differ until two reads agree; a range that never does fails the backup.",
           "1", "1|2");
    rows.back().refusal = "is not 1 or 2";
    return rows;
}

const std::vector<SettingRow>& writeSettingRows()
{
    static const std::vector<SettingRow> rows = buildRows();
    return rows;
}

bool isCindercart(uint8_t factoryProt)
{
    return factoryProt == 0x85 || factoryProt == 0x83;
}

bool decideTurbo(Reporter& r, uint8_t turboMode, uint8_t factoryProt)
{
    if (turboMode == TURBO_AUTO) {
        bool cinder = isCindercart(factoryProt);
        printWindow(r, "");
        printWindow(r, cinder ? "Turbo Mode ON for Cindercart cartridge!"
                           : "Turbo Mode OFF for non-Cindercart cartridge!");
        printWindow(r, "");
        return cinder;
    }
    if (turboMode == TURBO_ON) {
        printWindow(r, "");
        printWindow(r, "Turbo Mode forced ON!");
        printWindow(r, "Verification is recommended!");
        printWindow(r, "");
        return true;
    }
    return false;
}
