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

static std::vector<SettingRow> buildRows()
{
    std::vector<SettingRow> rows(6);
    SettingRow& turbo = rows[0];
    turbo.label = "Turbo Mode";
    turbo.tooltip = "On: each byte in fewer bus cycles, faster but never read back. Off: slower, each "
                    "byte checked. Auto: On only for a Cindercart.";
    turbo.menuWidth = 80;
    turbo.choices = {{TURBO_OFF, "off", "Off", nullptr}, {TURBO_ON, "on", "On", nullptr},
                     {TURBO_AUTO, "auto", "Auto", nullptr}};
    turbo.get = [](const WriteSettings& s) { return int(s.turboMode); };
    turbo.set = [](WriteSettings& s, int v) { s.turboMode = uint8_t(v); };
    turbo.unknownLine = "Unknown G_unlockBypassMode mode value %d";
    turbo.option = SettingOption::Word;
    turbo.optionName = "--turbo";
    turbo.help = "Turbo Mode; auto: on for a Cindercart only";
    turbo.manual = "Turbo Mode; auto (the default) turns it on for the maker's own flash cartridge only.";
    turbo.shownDefault = "auto";

    SettingRow& writeN = rows[1];
    writeN.label = "Write_N";
    writeN.tooltip = "Bytes sent per write command. 512 or 1024 flash fastest; 1 is a hundred times "
                     "slower but names the first byte that will not program.";
    writeN.menuWidth = 80;
    writeN.choices = writeNChoices();
    writeN.get = [](const WriteSettings& s) { return s.writeN; };
    writeN.set = [](WriteSettings& s, int v) { s.writeN = v; };
    writeN.option = SettingOption::Number;
    writeN.optionName = "--write-n";
    writeN.help = "chunk size in bytes (the window's Write_N)";
    writeN.manual = "the chunk size in bytes: 1 to 32, or a multiple of 64 up to 1024 (default 512).";
    writeN.optionValues = "1..32|64..1024";
    writeN.shownDefault = "512";
    writeN.refusal = "is not 1 to 32 or a multiple of 64 up to 1024";
    writeN.manualValue = "n";

    SettingRow& skip = rows[2];
    skip.label = "Write Processing";
    skip.tooltip = "Skip a chip to leave what it holds untouched; the ROM's bytes for that chip are "
                   "not written.";
    skip.menuWidth = 100;
    skip.choices = {{-1, nullptr, "Both chips", nullptr}, {0, "0", "Skip chip0", nullptr},
                    {1, "1", "Skip chip1", nullptr}};
    skip.get = [](const WriteSettings& s) { return s.skipChip; };
    skip.set = [](WriteSettings& s, int v) { s.skipChip = v; };
    skip.unknownLine = "Unknown skipChip mode value %d";
    skip.option = SettingOption::Number;
    skip.optionName = "--skip-chip";
    skip.help = "leave this chip neither erased nor written";
    skip.manual = "neither erase nor write that chip.";
    skip.refusal = "is not a chip: 0 or 1";

    SettingRow& erase = rows[3];
    erase.label = "Erase";
    erase.tooltip = "Whole chips: one erase, the usual way. ROM's blocks: keeps what lies past the ROM, "
                    "slower for large ROMs. Changed blocks: reads first, then rewrites only what "
                    "differs; fastest for a small change. Remembered between runs.";
    erase.menuWidth = 170;
    erase.choices = {{int(EraseScope::WholeChips), "chips", "Whole chips", "whole-chips"},
                     {int(EraseScope::RomBlocks), "rom", "ROM's blocks only", "rom-blocks"},
                     {int(EraseScope::ChangedBlocks), "changed", "Changed blocks only", "changed-blocks"}};
    erase.get = [](const WriteSettings& s) { return int(s.eraseScope); };
    erase.set = [](WriteSettings& s, int v) { s.eraseScope = EraseScope(v); };
    erase.keptAs = "erase";
    erase.option = SettingOption::Word;
    erase.optionName = "--erase";
    erase.help = "chips: whole chips; rom: the ROM's blocks only; changed: only the blocks that differ from the "
                 "file, read first";
    erase.manual = "erase whole chips (the default), only the erase blocks the ROM covers, or only the blocks "
                   "whose bytes differ from the ROM, which are then the only ones written.";
    erase.shownDefault = "chips";

    SettingRow& verify = rows[4];
    verify.label = "Verify After Writing";
    verify.tooltip = "On: reads back what was written and names the first byte that differs, a few "
                     "seconds more. Remembered between runs.";
    verify.menuWidth = 80;
    verify.choices = {{0, nullptr, "Off", nullptr}, {1, nullptr, "On", nullptr}};
    verify.get = [](const WriteSettings& s) { return int(s.verifyAfterWrite); };
    verify.set = [](WriteSettings& s, int v) { s.verifyAfterWrite = v != 0; };
    verify.keptAs = "verifyAfterWriting";
    verify.option = SettingOption::FlagOff;
    verify.optionName = "--no-verify";
    verify.help = "do not read the written bytes back and compare them with the file";
    verify.manual = "do not read the written range back and compare it with the file, as the command line "
                    "otherwise does after writing.";

    SettingRow& passes = rows[5];
    passes.label = "Read Twice";
    passes.tooltip = "On: Backup ROM reads the cartridge twice and reads again where the passes differ, "
                     "for dirty contacts; about twice as long. Off: one pass.";
    passes.menuWidth = 80;
    passes.choices = {{1, nullptr, "Off", nullptr}, {2, nullptr, "On", nullptr}};
    passes.get = [](const WriteSettings& s) { return s.readPasses; };
    passes.set = [](WriteSettings& s, int v) { s.readPasses = v; };
    passes.option = SettingOption::Number;
    passes.command = "backup";
    passes.optionName = "--passes";
    passes.help = "read the cartridge this many times and compare the passes (2: for dirty contacts)";
    passes.manual = "read the cartridge once (the default) or twice, comparing the passes and reading again "
                    "where they differ until two reads agree; a range that never does fails the backup.";
    passes.optionValues = "1|2";
    passes.shownDefault = "1";
    passes.refusal = "is not 1 or 2";

    for (SettingRow& row : rows) {
        if (row.option != SettingOption::Word && row.option != SettingOption::Number)
            continue;
        if (!row.optionValues.empty())
            continue;
        for (const SettingChoice& c : row.choices)
            if (c.word)
                row.optionValues += (row.optionValues.empty() ? "" : "|") + std::string(c.word);
    }
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
