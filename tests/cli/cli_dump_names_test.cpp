// Dumps named after their list entries: identify --rename and backup into a
// folder, never over a file already there, never under a name a list made
// unsafe; and identify's exit status over a mix of files.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core/identity/identity.h"
#include "support/cli_run.h"

namespace fs = std::filesystem;

namespace {

class DumpNames : public CliTest {
protected:
    std::string lists;
    void SetUp() override
    {
        CliTest::SetUp();
        lists = folder + "/dat";
        fs::create_directories(lists);
        setenv("PTB_DAT_DIR", lists.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("PTB_DAT_DIR");
        CliTest::TearDown();
    }
    // One list knowing each image under a game and a ROM file name.
    void writeList(const std::vector<std::tuple<std::string, std::string, Bytes, std::string>>& entries)
    {
        std::ofstream out(lists + "/l.dat");
        out << "<datafile><header><name>L</name></header>";
        for (const auto& [game, rom, image, extra] : entries) {
            ImageHasher h;
            h.update(image.data(), image.size());
            h.finish();
            char crc[9];
            snprintf(crc, sizeof crc, "%08x", unsigned(h.digests().crc32));
            out << "<game name=\"" << game << "\"><rom name=\"" << rom << "\" size=\"" << image.size()
                << "\" crc=\"" << crc << "\"" << extra << "/></game>";
        }
        out << "</datafile>";
    }
};

TEST_F(DumpNames, IdentifyExitStatusIsTheWorstOfItsFiles)
{
    const Bytes known = pattern(100, 1), bad = pattern(100, 2), other = pattern(100, 3);
    writeList({{"Known", "k.ngc", known, ""}, {"Bad", "b.ngc", bad, " status=\"baddump\""}});
    writeFile(folder + "/known.ngp", known);
    writeFile(folder + "/bad.ngp", bad);
    writeFile(folder + "/other.ngp", other);
    const struct { std::vector<std::string> files; int status; } cases[] = {
        {{"known.ngp"}, 0},
        {{"known.ngp", "bad.ngp"}, 1},
        {{"other.ngp", "known.ngp"}, 1},
        {{"known.ngp", "missing.ngp"}, 2},
        {{"missing.ngp", "other.ngp", "bad.ngp"}, 2},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"identify"};
        for (const std::string& f : c.files)
            args.push_back(folder + "/" + f);
        EXPECT_EQ(run(args).status, c.status) << c.files[0] << " +" << c.files.size() - 1;
    }
    CliRun json = run({"identify", "--json", folder + "/bad.ngp"});
    EXPECT_NE(json.out.find("\"verdict\":\"known_bad\""), std::string::npos) << json.out;
    EXPECT_EQ(json.out.substr(0, 1) + std::to_string(std::count(json.out.begin(), json.out.end(), '\n')), "{1");
    EXPECT_NE(json.err.find("Known bad dump: 'Bad' in 'L'."), std::string::npos) << "the log goes to standard error";
}

// A list is untrusted: its file name is used only when it is one plain name,
// and a file already there is never replaced.
TEST_F(DumpNames, RenameTakesTheListNameOnlyWhenSafeAndFree)
{
    const struct { std::string romName; bool taken; std::string line; std::string after; } cases[] = {
        {"Game (World).ngc", false, "Renamed 'dump.ngp' to 'Game (World).ngc'.", "Game (World).ngc"},
        {"Game (World).ngc", true, "Kept the name 'dump.ngp': 'Game (World).ngc' is already there.", "dump.ngp"},
        {"../escape.ngc", false, "Kept the name 'dump.ngp': the list's file name holds a path separator.", "dump.ngp"},
        {"..", false, "Kept the name 'dump.ngp': the list's file name holds \"..\".", "dump.ngp"},
        {"a&#10;b.ngc", false, "Kept the name 'dump.ngp': the list's file name holds a control byte.", "dump.ngp"},
        {"", false, "Kept the name 'dump.ngp': the list gives it no file name.", "dump.ngp"},
    };
    const Bytes image = pattern(300, 9);
    for (const auto& c : cases) {
        fs::remove_all(folder + "/roms");
        fs::create_directories(folder + "/roms");
        writeList({{"Game", c.romName, image, ""}});
        writeFile(folder + "/roms/dump.ngp", image);
        const Bytes there = pattern(7, 1);
        if (c.taken)
            writeFile(folder + "/roms/" + c.romName, there);
        CliRun r = run({"identify", "--rename", folder + "/roms/dump.ngp"});
        EXPECT_EQ(r.lastLine(), c.line) << c.romName;
        EXPECT_EQ(readFile(folder + "/roms/" + c.after), image) << c.romName;
        if (c.taken) {
            EXPECT_EQ(readFile(folder + "/roms/" + c.romName), there) << "left as it was";
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(folder + "/roms"), fs::directory_iterator()), c.taken ? 2 : 1);
    }
}

// Backups into a folder: after the ROM name, then after the list entry once
// the dump is known, each time beside what is there, with its report.
TEST_F(DumpNames, BackupIntoAFolderNamesTheDumpAndNeverReplacesAFile)
{
    plug("official16");
    std::string out = folder + "/out/";
    fs::create_directories(out);
    writeFile(out + "SIM OFFICIAL.ngp", pattern(5, 5));
    CliRun first = run({"backup", out});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.lastLine(), "Named 'SIM OFFICIAL (2).ngp' after the ROM name.");
    EXPECT_EQ(readFile(out + "SIM OFFICIAL.ngp"), pattern(5, 5));
    EXPECT_EQ(readFile(out + "SIM OFFICIAL (2).ngp"), sim::cartImage());

    writeList({{"Sim", "Sim (World).ngc", sim::cartImage(), ""}});
    for (const char* name : {"Sim (World).ngc", "Sim (World) (2).ngc"}) {
        CliRun known = run({"backup", "--report", out});
        EXPECT_EQ(known.lastLine(), std::string("Named '") + name + "' after its list entry.");
        EXPECT_EQ(readFile(out + name), sim::cartImage());
        std::ifstream report(out + name + ".txt");
        std::string text{std::istreambuf_iterator<char>(report), std::istreambuf_iterator<char>()};
        for (const char* part : {"Chip 0   = manufacturer 0x", "P-P (P: protected)", "Known dump: 'Sim' in 'L'."})
            EXPECT_NE(text.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 6);
}

// On a 16 + 8 Mbit cartridge each chip's protection map has that chip's own
// blocks: 35 for chip 0, 19 for chip 1, each save block where it is.
TEST_F(DumpNames, TheReportMapsEachChipByItsOwnBlocks)
{
    plug("official24");
    std::string dump = folder + "/mixed.ngp";
    ASSERT_EQ(run({"backup", "--report", dump}).status, 0);
    std::ifstream report(dump + ".txt");
    std::string text{std::istreambuf_iterator<char>(report), std::istreambuf_iterator<char>()};
    EXPECT_NE(text.find("16 Mbit\n  Blocks = " + std::string(33, 'P') + "-P (P: protected)\nChip 1"), std::string::npos)
        << text;
    EXPECT_NE(text.find("8 Mbit\n  Blocks = " + std::string(17, 'P') + "-P (P: protected)\n"), std::string::npos) << text;
}

}  // namespace
