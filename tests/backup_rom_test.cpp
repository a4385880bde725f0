// Backup ROM against the simulated cartridges.
#include <zlib.h>

#include "gui/commands.h"
#include "core/report.h"
#include "support/job_helpers.h"
#include "gui/file_choice.h"

namespace {

const std::string ABORTED = "Backup aborted. Deleting the backup file.";

using BackupRom = JobTest;

// Backs up into `path`; the read requests the job sent.
std::vector<Command> backupTo(const std::string& path)
{
    return only(runWithFile("backup", path), CMD_READ64XN);
}

// Whole 8 KiB requests from chip 0, then chip 1 from its own address 0,
// into a file whose path is held whole, however long.
TEST_F(BackupRom, CopiesTheCartridgeByteExact)
{
    const std::pair<std::string, std::string> carts[] = {{"official16", "16mbit cart detected.|SIM OFFICIAL"},
                                                         {"official32", "32mbit cart detected.|SIM BIG GAME"}};
    for (const auto& [cart, probe] : carts) {
        SCOPED_TRACE(cart);
        ASSERT_TRUE(sim::insertCart(cart));
        std::vector<Command> reads = backupTo(longPath(cart + ".ngp"));
        const Bytes image = sim::cartImage();
        const std::string name = probe.substr(probe.find('|') + 1);
        EXPECT_TRUE(readFile(longPath(cart + ".ngp")) == image);
        EXPECT_TRUE(logIs(Lines{probe.substr(0, probe.find('|')), "ROM name: '" + name + "'", "Backing up ROM to '" + cart +
                                ".ngp'", "Backup done. Wrote " + std::to_string(image.size()) + " bytes."} +
                          windowIdentityOf(longPath(cart + ".ngp"))));
        EXPECT_EQ(asked(), "Select file for backup|*.{ngp,rom,bin,ngc,ngpc}|2|" + name + ".ngp");
        ASSERT_EQ(reads.size(), image.size() / 8192);
        for (uint32_t k = 0; k < reads.size(); k++)
            EXPECT_EQ(std::tie(reads[k].chip, reads[k].addr, reads[k].count), std::make_tuple(k / 256, (k % 256) * 8192, 128));
    }
}

// The default name drops trailing padding but never the first character.
TEST_F(BackupRom, DefaultName)
{
    const struct { char rom[13]; const char* proposed; } cases[] = {
        {"ZOMBIE      ", "ZOMBIE.ngp"},         {"A B\t\r\n\v\f\0 \0 ", "A B.ngp"},
        {"            ", " .ngp"},              {"\0\0\0\0\0\0\0\0\0\0\0\0", ".ngp"},
        {"AB\0DEFGHIJKL", "AB.ngp"},            {"RPG:1/2*?<> ", "RPG:1/2*?<>.ngp"},
        {"FULLTWELVE12", "FULLTWELVE12.ngp"},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < 12; i++)
            sim::cartPoke(0x24 + i, uint8_t(c.rom[i]));
        answerNoFile();
        sim::Mark m = sim::mark();
        clickCommand("backup");
        EXPECT_EQ(lastFileRequest().initial, c.proposed);
        EXPECT_EQ(logLines().back(), "No file selected.");
        EXPECT_TRUE(commandsSince(m, CMD_READ64XN).empty());
        EXPECT_EQ(progress_window, nullptr);
    }
}

// The chunk in flight when Cancel is pressed is still read; no partial
// file is left, not even on the last chunk, and one that existed before
// is kept as it was, in a folder whose path is long.
TEST_F(BackupRom, CancelLeavesNoFile)
{
    for (int at : {3, 256}) {
        SCOPED_TRACE(at);
        std::string path = longPath("old.ngp");
        writeFile(path, Bytes(100, 0x5A));
        atEvent(at);
        EXPECT_EQ(backupTo(path).size(), size_t(at));
        EXPECT_TRUE(logIs({"16mbit cart detected.", "ROM name: 'SIM OFFICIAL'", "Backing up ROM to 'old.ngp'", ABORTED,
                           "'old.ngp' is as it was."}));
        EXPECT_EQ(readFile(path), Bytes(100, 0x5A));
        EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(path).parent_path()), fs::directory_iterator()), 1);
    }
}

// The fault strikes the sixth request (at 0xA000); the transfer's own lines
// come first, then the job's.
TEST_F(BackupRom, LinkFailureAbortsAndDeletesThePartialFile)
{
    const LinkFault cases[] = {{[] { sim::timeoutOnTransfer(3); }, TIMED_OUT},
                               {[] { sim::shortPacketOnTransfer(3); }, {"libusb_bulk_transfer fail (addr=0xA000)"}},
                               {[] { sim::unplugAfterTransfers(40); }, GONE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines.back());
        replug();
        std::string path = scratchPath("cut.ngp");
        atEvent(6, c.strike);
        EXPECT_EQ(backupTo(path).size(), 6u);
        EXPECT_TRUE(logIs(Lines{"16mbit cart detected.", "ROM name: 'SIM OFFICIAL'", "Backing up ROM to 'cut.ngp'"} +
                          c.lines + Lines{"Wut?! usb recv error..", ABORTED} + (c.lines == GONE ? GONE_NOTICE : Lines{})));
        EXPECT_FALSE(fs::exists(path));
    }
}

TEST_F(BackupRom, AProbeThatMetLinkFailuresStartsNothing)
{
    // One failed read of the device byte would make this 8 Mbit cartridge
    // look like 16 Mbit, and the backup twice its real size.
    sim::insertCart("official8");
    sim::wrongCodeOnTransfer(16);
    EXPECT_TRUE(backupTo(scratchPath("eight.ngp")).empty());
    EXPECT_TRUE(logHasInOrder({"read_byte: get_read_reply failure", "Cart check failed; backup not started."}));
    EXPECT_EQ(logLines().back(), "Cart check failed; backup not started.");
    EXPECT_EQ(lastFileRequest().count, 0);
    EXPECT_FALSE(fs::exists(scratchPath("eight.ngp")));

    sim::unplugAfterTransfers(0);  // a linker gone before the job
    backupTo(scratchPath("eight.ngp"));
    EXPECT_TRUE(logEndsWith(Lines{"Cart check failed; backup not started."} + GONE_NOTICE));
    EXPECT_EQ(lastFileRequest().count, 0);

    // With no cartridge no file is asked for, let alone emptied.
    replug();
    sim::insertCart("none");
    std::string path = scratchPath("empty.ngp");
    EXPECT_TRUE(backupTo(path).empty());
    EXPECT_TRUE(logIs({"No cart detected!", "Nothing to back up."}));
    EXPECT_EQ(lastFileRequest().count, 0);
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(BackupRom, AShortWriteIsAnAbortNeverDone)
{
    for (rlim_t limit : {rlim_t(300000), rlim_t(0x200000 - 100)}) {
        SCOPED_TRACE(limit);
        std::string path = scratchPath("full.ngp");
        {
            FileSizeLimit full(limit);
            backupTo(path);
        }
        EXPECT_TRUE(logIs({"16mbit cart detected.", "ROM name: 'SIM OFFICIAL'", "Backing up ROM to 'full.ngp'",
                           "Can't write to the backup file: File too large", ABORTED}));
        EXPECT_FALSE(fs::exists(path));
    }

    // A path beyond what the system takes at all: refused, nothing sent.
    // Each refusal is followed by the path and the system's reason.
    const std::pair<std::string, const char*> refused[] = {
        {scratchPath(std::string(5000, 'x') + ".ngp"), "': File name too long"},
        {scratchPath("no-such-folder/x.ngp"), "': No such file or directory"},
    };
    for (const auto& [path, reason] : refused) {
        EXPECT_TRUE(backupTo(path).empty());
        auto lines = logLines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "Can't open file!");
        std::string shown = ("'" + path + reason).substr(0, LOG_LINE_BYTES - 1);
        EXPECT_EQ(lines.back(), shown);
    }
}

// A dump the lists know under another file name is offered that name; a
// yes renames it beside, never over, what is there; a no leaves it be.
TEST_F(BackupRom, OffersTheListNameOfAKnownDumpInOneClick)
{
    std::string lists = scratchPath("dat");
    fs::create_directories(lists);
    setenv("PTB_DAT_DIR", lists.c_str(), 1);
    const Bytes image = sim::cartImage();
    char crc[9];
    snprintf(crc, sizeof crc, "%08x", unsigned(crc32(0, image.data(), uInt(image.size()))));
    std::ofstream(lists + "/l.dat") << "<datafile><header><name>L</name></header><game name=\"Sim\"><rom name=\"Sim (World).ngc\" size=\""
                                    << image.size() << "\" crc=\"" << crc << "\"/></game></datafile>";
    static std::vector<std::string> offered;
    static bool yes;
    g_listNameOfferHook = [](const std::string& dump, const std::string& name) {
        offered.push_back(dump.substr(dump.rfind('/') + 1) + ">" + name);
        return yes;
    };
    const struct { bool yes, taken; std::string last, kept; } cases[] = {
        {false, false, "Known dump: 'Sim' in 'L'.", "cart.ngp"},
        {true, false, "Renamed 'cart.ngp' to 'Sim (World).ngc'.", "Sim (World).ngc"},
        {true, true, "Kept the name 'cart.ngp':|'Sim (World).ngc' is already there.", "cart.ngp"},
    };
    for (const auto& c : cases) {
        fs::remove(scratchPath("Sim (World).ngc"));
        if (c.taken)
            writeFile(scratchPath("Sim (World).ngc"), Bytes{1});
        offered.clear();
        yes = c.yes;
        clearLog();
        backupTo(scratchPath("cart.ngp"));
        EXPECT_EQ(offered, Lines{"cart.ngp>Sim (World).ngc"});
        const Lines want = rows(c.last), log = logLines();
        EXPECT_EQ(Lines(log.end() - long(std::min(want.size(), log.size())), log.end()), want);
        EXPECT_EQ(readFile(scratchPath(c.kept)), image);
        EXPECT_EQ(readFile(scratchPath("Sim (World).ngc")), c.taken ? Bytes{1} : c.yes ? image : Bytes{});
        fs::remove(scratchPath("cart.ngp"));
    }
    // Backed up under its list name already: nothing to offer.
    offered.clear();
    fs::remove(scratchPath("Sim (World).ngc"));
    backupTo(scratchPath("Sim (World).ngc"));
    EXPECT_TRUE(offered.empty());
    g_listNameOfferHook = nullptr;
    unsetenv("PTB_DAT_DIR");
}

}  // namespace
