// Each command on the simulated linker: the job's lines on standard output as
// the window's log shows them, the link's on standard error, and the status.
#include "support/cli_run.h"

#include <sstream>

#include "support/log_file_records.h"

namespace {

// One official cartridge taken through the commands in turn.
TEST_F(CliTest, EachCommandEndsWithItsJobsVerdict)
{
    plug("official16");
    std::string same = folder + "/same.ngp", changed = folder + "/changed.ngp", image = folder + "/backup.ngp",
                save = folder + "/game.ngf";
    Bytes cart = sim::cartImage();
    writeFile(same, cart);
    cart[0x100] ^= 0xFF;  // in a protected block
    writeFile(changed, cart);
    // `then`: what follows the job's verdict, the image's identity or the cartridge's header.
    const Lines header = {"Cart header:", "  Licence  = ' LICENSED BY SNK CORPORATION'", "  Entry    = 0x00200040",
                          "  Serial   = 1234", "  Version  = 0x00", "  System   = colour (0x10)",
                          "  Title    = 'SIM OFFICIAL'"};
    const struct {
        std::vector<std::string> args;
        int status;
        std::string last;
        std::function<Lines()> then = nullptr;
    } rows[] = {
        {{"info"}, 0, "ROM name: 'SIM OFFICIAL'", [&] { return header; }},
        {{"protected"}, 0, " Block 34 (0x1FC000) Protected"},
        {{"backup", image}, 0, "Backup done. Wrote 2097152 bytes.", [&] { return identityOf(image); }},
        {{"verify", same}, 0, "The cartridge matches the file.", [&] { return identityOf(same); }},
        {{"verify", changed}, 1, "The cartridge differs from the file."},
        // The job's line comes before the one naming the file whole.
        {{"save-backup", save}, 0, "Save-game backup done.", [&] { return Lines{"Saved to '" + save + "'"}; }},
        // The job's line comes before the one naming its safety copy.
        {{"save-write", save}, 0, "Wrote 0x2000 bytes in {s} seconds.", [] { return safetyCopyLines(); }},
        {{"read-byte", "0x24"}, 0, "Byte at address 0x00000024 is 0x53 'S'"},
        {{"read-byte", "036"}, 0, "Byte at address 0x00000024 is 0x53 'S'"},  // not octal
        {{"read-byte", "0X400000"}, 1, "Invalid address 0x400000"},
        {{"read-byte", "4294967295"}, 1, "Invalid address 0xffffffff"},
        {{"write-byte", "0x201234", "90"}, 0, "Writing 0x5a 'Z' to address 0x00201234"},
    };
    for (const auto& row : rows) {
        CliRun r = run(row.args);
        EXPECT_EQ(r.status, row.status) << row.args[0] << "\n" << r.out;
        Lines out;
        for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
            out.push_back(r.out.substr(at, end - at));
        EXPECT_TRUE(linesEndWith(out, Lines{row.last} + (row.then ? row.then() : Lines{}))) << row.args[0];
        // The version request's line ends in a break of its own: shown once, as in the window.
        EXPECT_EQ(r.err, "Checking for the linker and the cart..\nLinker with v0.13 Firmware found\n") << row.args[0];
    }
    EXPECT_EQ(readFile(image), sim::cartImage());
    sim::BusCycle poke = sim::hostWritesSince(0).back();
    EXPECT_TRUE(poke.chip == 1 && poke.address == 0x1234 && poke.value == 0x5A);
}

TEST_F(CliTest, FlashTakesTheWindowsThreeSettingsAsOptions)
{
    plug("bung");
    // Chip 0 skipped: only the 64 KiB past it are written, into chip 1.
    Bytes rom = pattern(0x210000), chip0 = chipBytes(0, 0, 0x200000);
    std::copy_n(" LICENSED BY SNK CORPORATION", 28, rom.begin());  // as a homebrew game carries it
    writeFile(folder + "/homebrew.ngp", rom);
    sim::Mark m = sim::mark();
    CliRun r = run({"flash", "--write-n", "0x400", "--turbo", "on", "--skip-chip", "0", folder + "/homebrew.ngp"});
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<Command> writes = commandsSince(m, CMD_FLASH_WRITE64XN);
    ASSERT_EQ(writes.size(), 0x10000u / 1024);
    for (const Command& c : writes)
        ASSERT_TRUE(c.count == 16 && c.chip == 1 && c.turbo == 1) << int(c.count) << " packets to chip " << int(c.chip);
    EXPECT_EQ(chipBytes(1, 0, 0x10000), slice(rom, 0x200000, 0x10000));
    EXPECT_EQ(chipBytes(0, 0, 0x200000), chip0);
}

// Refused before the linker is touched, with a word on standard error only.
TEST_F(CliTest, UsageErrorsOpenNothing)
{
    plug("official16");
    std::string rom = folder + "/a.ngp";
    writeFile(rom, Bytes(64));
    const std::vector<std::vector<std::string>> wrong = {
        {}, {"erase"}, {"backup"}, {"info", "extra"}, {"verify", folder + "/missing.ngp"}, {"verify", folder},
        {"read-byte", "12ab"}, {"read-byte", "0x"}, {"read-byte", ""}, {"read-byte", " 36"}, {"read-byte", "-1"},
        {"read-byte", "0x0x24"}, {"read-byte", "0x100000000"}, {"write-byte", "0x24", "256"}, {"write-byte", "0x24"},
        {"flash", "--write-n", "33", rom}, {"flash", "--write-n", "1088", rom}, {"flash", "--write-n", "0", rom},
        {"flash", "--turbo", "maybe", rom}, {"flash", "--skip-chip", "2", rom},
    };
    for (const auto& args : wrong) {
        CliRun r = run(args);
        std::string shown = args.empty() ? "(nothing)" : args[0] + (args.size() > 1 ? " " + args[1] : "");
        EXPECT_TRUE(r.status == 2 && r.out.empty() && !r.err.empty()) << shown << ": " << r.status << r.out;
    }
    CliRun help = run({"--help"}), flashHelp = run({"flash", "--help"}), version = run({"--version"});
    EXPECT_EQ(help.status + flashHelp.status + version.status, 0);
    EXPECT_EQ(help.err + flashHelp.err + version.err, "");
    EXPECT_NE(help.out.find("  3  no linker answered"), std::string::npos) << "the statuses are not listed";
    EXPECT_NE(flashHelp.out.find("Usage: pockettetherbox-cli flash [OPTIONS] FILE"), std::string::npos);
    EXPECT_EQ(version.out.rfind("pockettetherbox-cli ", 0), 0u);
    EXPECT_TRUE(sim::transfersSince(0).empty());
}

// Status 3 is for the linker itself; a job that met a plain failure is 1.
TEST_F(CliTest, NoLinkerARefusedFirmwareOrAVanishedOneIsStatusThree)
{
    plug("official16");
    sim::noDevice();
    CliRun none = run({"info"});
    EXPECT_TRUE(none.status == 3 && none.out.empty()) << none.status;
    EXPECT_EQ(none.err, "No USB Tetherbox device found!!\nGiving up..\n");
    plug("official16");
    sim::setFirmware(0, 12);
    CliRun old = run({"info"});
    EXPECT_TRUE(old.status == 3 && old.out.empty()) << old.status;
    EXPECT_EQ(old.err.substr(old.err.find("Linker")),
              "Linker with v0.12 Firmware found\nVersion mismatch!  Expected v0.13. Giving up..\n");

    for (bool unplugged : {true, false}) {
        plug("flash4");
        unplugged ? sim::unplugAfterTransfers(120) : sim::timeoutOnTransfer(120);
        CliRun r = run({"backup", folder + "/cart.ngp"});
        EXPECT_EQ(r.status, unplugged ? 3 : 1) << r.out;
        EXPECT_FALSE(std::filesystem::exists(folder + "/cart.ngp"));
    }
}

// save-write runs Write Savegame itself: the safety copy comes first, and
// without it the cartridge is left alone.
TEST_F(CliTest, SaveWriteKeepsASafetyCopyFirst)
{
    plug("official16");
    const Bytes before = sim::cartImage();
    std::string save = folder + "/game.ngf";
    Bytes file = ngfFile({{0x3FA100, pattern(0x100, 3)}});
    writeFile(save, file);
    setenv("XDG_DATA_HOME", "/proc/self", 1);
    CliRun refused = run({"save-write", save});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.lastLine(), "Nothing was written to the cartridge.");
    EXPECT_EQ(sim::cartImage(), before);

    setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
    CliRun r = run({"save-write", save});
    EXPECT_EQ(r.status, 0) << r.out;
    std::string copy = safetyCopyLines()[1];
    ASSERT_EQ(r.lastLine(), copy);
    CliRun back = run({"save-write", copy.substr(copy.find('\'') + 1, copy.size() - copy.find('\'') - 2)});
    EXPECT_EQ(back.status, 0) << back.out;
    EXPECT_EQ(sim::cartImage(), before);
}

// What the command line says is what the log file keeps, under the command.
TEST_F(CliTest, ItsLinesGoToTheLogFileUnderTheCommandsName)
{
    ScratchStateHome state;
    plug("official16");
    CliRun r = run({"info"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<LogRecord> want;
    std::istringstream said(r.err + r.out);  // the link's start-up lines come first
    for (std::string line; std::getline(said, line);)
        want.push_back({"info", line});
    EXPECT_EQ(logFileRecords(state.log()), want);
}

}  // namespace
