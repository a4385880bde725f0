// Files flash and identify must not take, and a ROM larger than the
// cartridge: refused before the linker is opened or anything is erased.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "support/cli_run.h"
#include "support/log_file_records.h"

namespace {

TEST_F(CliTest, SpecialEmptyAndOversizedFilesAreRefusedBeforeAnythingIsErased)
{
    plug("flash4");
    const Bytes cart = sim::cartImage();
    Bytes big = cart + pattern(3000, 4);
    writeFile(folder + "/big.ngp", big);
    writeFile(folder + "/empty.ngp", {});
    ASSERT_EQ(mkfifo((folder + "/fifo.ngp").c_str(), 0600), 0);
    const std::string notRegular = "' is not a regular file; nothing done.";
    const struct { std::vector<std::string> args; int status; Lines tail; bool linker; } cases[] = {
        {{"flash", "fifo.ngp"}, 1, {"'fifo.ngp" + notRegular}, false},
        {{"flash", "--force", "empty.ngp"}, 1, {"'empty.ngp' is empty; nothing was erased."}, false},
        // identify exits 2 when a file could not be read
        {{"identify", "fifo.ngp", "/dev/zero"}, 2, {"'fifo.ngp" + notRegular, "'zero" + notRegular}, false},
        {{"flash", "big.ngp"}, 1,
         {"Warning! ROM size of 527288 bytes is", "larger than the flash size of 524288 bytes.",
          "Not flashing 'big.ngp':", "3000 of its bytes would not fit the cart.", "Nothing was erased."},
         true},
        {{"flash", "--force", "big.ngp"}, 0,
         {"Verify after writing: all 524288 bytes match.", "Flashing done.",
          "3000 bytes of the file did not fit on the cartridge and were not written."},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail.back());
        sim::loadImage(Bytes(cart.size(), 0x00));
        std::vector<std::string> args = c.args;
        for (std::string& a : args)
            if (a.size() > 4 && a.compare(a.size() - 4, 4, ".ngp") == 0)
                a = folder + "/" + a;
        uint64_t transfers = sim::counters().transfers;
        CliRun r = run(args);
        EXPECT_EQ(r.status, c.status) << r.out;
        std::string out = r.out.substr(0, r.out.find("Identity of '"));
        Lines lines;
        for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
            lines.push_back(out.substr(at, end - at));
        EXPECT_TRUE(linesEndWith(lines, c.tail)) << r.out;
        EXPECT_EQ(sim::counters().transfers > transfers, c.linker);
        EXPECT_TRUE(sim::cartImage() == (c.status == 0 ? slice(big, 0, cart.size()) : Bytes(cart.size(), 0x00)));
    }
}

// A silent chip 0 echoes every byte sent to it: a flash of it read back as
// written and ended done with nothing on the cartridge, and verify compared
// the file's start with chip 1. Both now refuse it before anything is erased
// or compared, in every scope and write method, as backup does.
TEST_F(CliTest, NoJobTakesASilentChipZeroForTheCartridge)
{
    plug("silent0");
    const Bytes cart = sim::cartImage();
    const std::string rom = folder + "/chip1.ngp", flashed = "Chip 0 did not answer; nothing was erased or written.";
    writeFile(rom, chipBytes(1, 0, 0x100000));
    const struct { std::vector<std::string> args; std::string line; } cases[] = {
        {{"flash", "--json", "--force", rom}, flashed},
        {{"flash", "--force", "--erase", "rom", "--write-n", "1", "--turbo", "off", rom}, flashed},
        {{"flash", "--force", "--erase", "changed", "--write-n", "1", "--turbo", "on", rom}, flashed},
        {{"flash", "--force", "--erase", "rom", "--write-n", "16", "--skip-chip", "1", rom}, flashed},
        {{"verify", rom}, "Chip 0 did not answer; nothing was compared."},
        {{"backup", folder + "/dump.ngp"}, "Chip 0 did not answer; no backup was made."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line + " " + std::to_string(c.args.size()));
        plug("silent0");
        CliRun r = run(c.args);
        EXPECT_EQ(r.status, 1) << r.out;
        std::string log = c.args[1] == "--json" ? r.err : r.out;
        EXPECT_EQ(log.substr(log.rfind('\n', log.size() - 2) + 1), c.line + "\n") << log;
        EXPECT_EQ(r.out.find("\"outcome\":\"done\""), std::string::npos) << r.out;
        EXPECT_EQ(sim::counters().blockErases + sim::counters().chipErases, 0u);
        EXPECT_EQ(sim::cartImage(), cart);
    }
}

// A name holding a line break or a tab stays on its line, on standard
// output and in the log file, whichever job prints it; a backup of such a
// name is registered in the vault all the same.
TEST_F(CliTest, ANameNeverForgesALine)
{
    ScratchStateHome state;
    plug("official16");
    const Bytes cart = sim::cartImage();
    const std::string evil = "e\nFORGED\t";
    writeFile(folder + "/" + evil + ".ngp", cart);
    writeFile(folder + "/" + evil + ".ngf", ngfFile({{0x3FA100, pattern(0x80)}}));
    writeFile(folder + "/" + evil + "bad.ngf", pattern(40));
    // The last is gone once the command line has looked: the job says why it could not open it.
    const struct { const char* cart; std::vector<std::string> args; } cases[] = {
        {"flash4", {"flash", evil + ".ngp"}},          {"official16", {"verify", evil + ".ngp"}},
        {"official16", {"verify", evil + "-missing.ngp"}}, {"official16", {"backup", evil + "2.ngp"}},
        {"official16", {"save-backup", evil + "2.ngf"}}, {"official16", {"save-write", evil + "bad.ngf"}},
        {"official16", {"save-write", evil + ".ngf", "gone"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        SCOPED_TRACE(args[0]);
        plug(c.cart);
        args[1] = folder + "/" + args[1];
        if (args.size() > 2) {
            args.pop_back();
            atBreath = [&](int n) {
                if (n == 1)
                    unlink(args[1].c_str());
            };
        }
        CliRun r = run(args);
        atBreath = nullptr;
        EXPECT_NE((r.out + r.err).find("\\x0AFORGED\\x09"), std::string::npos) << r.out << r.err;
        for (const std::string& text : {r.out, r.err})
            EXPECT_EQ(text.find("\nFORGED"), std::string::npos) << text;
        EXPECT_EQ(r.out.find('\t'), std::string::npos) << r.out;
    }
    EXPECT_EQ(run({"saves", "restore", folder + "/" + evil + "2.ngf"}).status, 0) << "registered, and listed";
    for (const LogRecord& record : logFileRecords(state.log()))
        EXPECT_TRUE(record.text.rfind("FORGED", 0) != 0 && record.text.find('\t') == std::string::npos) << record;

}

// Refusals name the file and the reason, before the linker is opened where
// the file alone decides; a cancelled backup says the file it would have
// replaced is as it was.
TEST_F(CliTest, RefusalsSayWhatAndWhyAndACancelledBackupKeepsTheOldFile)
{
    plug("official16");
    ASSERT_EQ(mkfifo((folder + "/fifo.ngp").c_str(), 0600), 0);
    std::filesystem::create_directories(folder + "/sub");
    const std::string notRegular = "' is not a regular file; nothing done.";
    const struct { std::vector<std::string> args; int status; std::string last; bool linker; } cases[] = {
        {{"verify", folder + "/fifo.ngp"}, 1, "'fifo.ngp" + notRegular, false},
        {{"verify", "/dev/zero"}, 1, "'zero" + notRegular, false},
        {{"save-write", "/dev/zero"}, 1, "'zero" + notRegular, false},
        {{"save-backup", folder + "/sub/"}, 1, "'" + folder + "/sub/" + notRegular, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.last);
        uint64_t transfers = sim::counters().transfers;
        CliRun r = run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.lastLine(), c.last) << r.out;
        EXPECT_EQ(sim::counters().transfers > transfers, c.linker);
    }

    const Bytes old = pattern(100);
    writeFile(folder + "/cart.ngp", old);
    atBreath = [](int breath) {
        if (breath == 20)
            raise(SIGINT);
    };
    CliRun r = run({"backup", folder + "/cart.ngp"});
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(r.lineFromEnd(1), "Backup aborted. Deleting the backup file.");
    EXPECT_EQ(r.lastLine(), "'cart.ngp' is as it was.");
    EXPECT_EQ(readFile(folder + "/cart.ngp"), old);
}

}  // namespace
