// Each command on the simulated linker: the job's lines on standard output as
// the window's log shows them, the link's lines on standard error, and the
// exit status a script acts on.
#include "support/cli_run.h"

namespace {

const std::string LINK_READY = "Checking for the linker and the cart..\nLinker with v0.13 Firmware found\n";

TEST_F(CliTest, InfoPrintsTheJobsLinesAloneAndTheLinkLinesApart)
{
    plug("official16");
    CliRun r = run({"info"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.outLines(), (Lines{"Chip #0 info:", "  ManufID  = 0x98", "  DeviceID = 0x2F", "  FactoryProt = 0x81",
                                   "16mbit cart detected.", "ROM name: 'SIM OFFICIAL'"}));
    EXPECT_EQ(r.err, LINK_READY) << "the version request's line ends in a break of its own; shown once";
    EXPECT_EQ(commandsSince(0).back().code, CMD_BLINK_LED) << "the linker was not let go";
    EXPECT_EQ(sim::ledSetting(), 2);
}

TEST_F(CliTest, BackupThenVerifyOfTheSameCartridge)
{
    plug("official16");
    std::string image = scratch("cart.ngp");
    CliRun backup = run({"backup", image});
    EXPECT_EQ(backup.status, 0);
    EXPECT_EQ(backup.outLines().back(), "Backup done. Wrote 2097152 bytes.");
    EXPECT_EQ(readFile(image), sim::cartImage());

    EXPECT_EQ(run({"verify", image}).status, 0);
    Bytes changed = readFile(image);
    changed[0x100] ^= 0xFF;  // in a protected block
    writeFile(image, changed);
    CliRun verify = run({"verify", image});
    EXPECT_EQ(verify.status, 1) << verify.out;
}

TEST_F(CliTest, FlashTakesTheWindowsThreeSettingsAsOptions)
{
    plug("bung");
    // Chip 0 skipped: only the 64 KiB past it are written, into chip 1.
    Bytes rom = pattern(0x210000);
    std::string file = scratch("homebrew.ngp");
    writeFile(file, rom);
    Bytes chip0 = chipBytes(0, 0, 0x200000);
    sim::Mark m = sim::mark();
    CliRun r = run({"flash", "--write-n", "0x400", "--turbo", "on", "--skip-chip", "0", file});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.outLines().back(), "Flashing done.");
    std::vector<Command> writes = commandsSince(m, CMD_FLASH_WRITE64XN);
    ASSERT_EQ(writes.size(), 0x10000u / 1024);
    for (const Command& c : writes)
        ASSERT_TRUE(c.count == 16 && c.chip == 1 && c.turbo == 1)
            << int(c.count) << " packets to chip " << int(c.chip) << ", turbo " << int(c.turbo);
    EXPECT_EQ(chipBytes(1, 0, 0x10000), slice(rom, 0x200000, 0x10000));
    EXPECT_EQ(chipBytes(0, 0, 0x200000), chip0);
}

TEST_F(CliTest, SaveGameOutAndBackIn)
{
    plug("official16");
    std::string save = scratch("game.ngf");
    Bytes saveArea = chipBytes(0, 0x1FA000, 0x2000);
    EXPECT_EQ(run({"save-backup", save}).status, 0);
    sim::loadImage(Bytes(0x200000, 0x00));
    CliRun r = run({"save-write", save});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(chipBytes(0, 0x1FA000, 0x2000), saveArea);
}

TEST_F(CliTest, NumbersInDecimalOrHexAsTheInputWindowTakesThem)
{
    plug("official16");
    Lines hex = run({"read-byte", "0x24"}).outLines();
    EXPECT_EQ(hex, Lines{"Byte at address 0x00000024 is 0x53 'S'"});
    EXPECT_EQ(run({"read-byte", "36"}).outLines(), hex);
    EXPECT_EQ(run({"read-byte", "0X24"}).outLines(), hex);
    EXPECT_EQ(run({"read-byte", "036"}).outLines(), hex) << "a leading zero is not octal";

    sim::Mark m = sim::mark();
    CliRun w = run({"write-byte", "0x201234", "90"});
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(w.outLines(), Lines{"Writing 0x5a 'Z' to address 0x00201234"});
    std::vector<sim::BusCycle> cycles = sim::hostWritesSince(m);
    ASSERT_EQ(cycles.size(), 1u);
    EXPECT_EQ(cycles[0].chip, 1);
    EXPECT_EQ(cycles[0].address, 0x1234u);
    EXPECT_EQ(cycles[0].value, 0x5A);
}

TEST_F(CliTest, AnAddressPastTheCartridgeIsTheJobsRefusal)
{
    plug("official16");
    CliRun r = run({"read-byte", "0x400000"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.outLines(), Lines{"Invalid address 0x400000"});
}

// Refused before the linker is touched, with a word on standard error only.
TEST_F(CliTest, UsageErrorsOpenNothing)
{
    plug("official16");
    std::string rom = scratch("a.ngp");
    writeFile(rom, Bytes(64));
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"erase"},
        {"backup"},
        {"verify", scratch("missing.ngp")},
        {"read-byte", "12ab"},
        {"read-byte", "0x"},
        {"read-byte", ""},
        {"read-byte", " 36"},
        {"read-byte", "-1"},
        {"read-byte", "0x0x24"},
        {"read-byte", "0x100000000"},
        {"write-byte", "0x24", "256"},
        {"write-byte", "0x24"},
        {"flash", "--write-n", "33", rom},
        {"flash", "--write-n", "1088", rom},
        {"flash", "--write-n", "0", rom},
        {"flash", "--turbo", "maybe", rom},
        {"flash", "--skip-chip", "2", rom},
        {"info", "extra"},
    };
    for (const auto& args : wrong) {
        sim::Mark m = sim::mark();
        CliRun r = run(args);
        std::string shown = args.empty() ? "(nothing)" : args[0] + (args.size() > 1 ? " " + args[1] : "");
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_NE(r.err, "") << shown;
        EXPECT_TRUE(sim::transfersSince(m).empty()) << shown;
    }
}

TEST_F(CliTest, HelpAndVersionGoToStandardOutput)
{
    plug("official16");
    CliRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* listed : {"info", "protected", "backup", "verify", "flash", "save-backup", "save-write",
                               "read-byte", "write-byte", "  3  no linker answered"})
        EXPECT_NE(help.out.find(listed), std::string::npos) << listed;
    CliRun flashHelp = run({"flash", "--help"});
    EXPECT_EQ(flashHelp.status, 0);
    EXPECT_NE(flashHelp.out.find("Usage: pockettetherbox-cli flash [OPTIONS] FILE"), std::string::npos);
    EXPECT_NE(flashHelp.out.find("--write-n"), std::string::npos);
    CliRun version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("pockettetherbox-cli ", 0), 0u);
    EXPECT_EQ(help.err + flashHelp.err + version.err, "");
    EXPECT_TRUE(sim::transfersSince(0).empty());
}

// Status 3 is for the linker itself; a job that met a plain failure is 1.
TEST_F(CliTest, NoLinkerARefusedFirmwareOrAVanishedOneIsStatusThree)
{
    plug("official16");
    sim::noDevice();
    CliRun none = run({"info"});
    EXPECT_EQ(none.status, 3);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "No USB Tetherbox device found!!\nGiving up..\n");

    plug("official16");
    sim::setFirmware(0, 12);
    CliRun old = run({"info"});
    EXPECT_EQ(old.status, 3);
    EXPECT_EQ(old.err, "Checking for the linker and the cart..\nLinker with v0.12 Firmware found\n"
                       "Version mismatch!  Expected v0.13. Giving up..\n");
    EXPECT_EQ(old.out, "");

    plug("official16");
    sim::failClaimInterface(-6);
    EXPECT_EQ(run({"info"}).status, 3);

    plug("flash4");
    std::string image = scratch("cart.ngp");
    sim::unplugAfterTransfers(120);
    CliRun gone = run({"backup", image});
    EXPECT_EQ(gone.status, 3) << gone.out;
    EXPECT_FALSE(std::filesystem::exists(image));

    plug("flash4");
    sim::timeoutOnTransfer(120);
    CliRun late = run({"backup", image});
    EXPECT_EQ(late.status, 1) << late.out;
    EXPECT_FALSE(std::filesystem::exists(image));
}

}  // namespace
