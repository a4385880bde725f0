// Dumps named after their list entries: identify --rename and backup into a
// folder, never over a file already there, never under a name a list made
// unsafe; and identify's exit status over a mix of files.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include <openssl/evp.h>

#include <nlohmann/json.hpp>

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
        {"Game (World).ngc", true, "Kept the name 'dump.ngp':\n'Game (World).ngc' is already there.", "dump.ngp"},
        {"../escape.ngc", false, "Kept the name 'dump.ngp':\nthe list's file name holds a path separator.", "dump.ngp"},
        {"..", false, "Kept the name 'dump.ngp':\nthe list's file name holds \"..\".", "dump.ngp"},
        {"a&#10;b.ngc", false, "Kept the name 'dump.ngp':\nthe list's file name holds a control byte.", "dump.ngp"},
        {"", false, "Kept the name 'dump.ngp':\nthe list gives it no file name.", "dump.ngp"},
        {"a&#0;b.ngc", false, "Kept the name 'dump.ngp':\nthe list's file name holds a control byte.", "dump.ngp"},
        {" ", false, "Kept the name 'dump.ngp':\nthe list's file name is only dots and blanks.", "dump.ngp"},
        {".", false, "Kept the name 'dump.ngp':\nthe list's file name is only dots and blanks.", "dump.ngp"},
        {"Wait... What.ngc", false, "Renamed 'dump.ngp' to 'Wait... What.ngc'.", "Wait... What.ngc"},
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
        EXPECT_EQ(r.lastLines(int(std::count(c.line.begin(), c.line.end(), '\n')) + 1), c.line) << c.romName;
        EXPECT_EQ(r.status, c.after == "dump.ngp" ? 1 : 0) << "a rename not made is a failure";
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

// Two passes are in the report and the JSON line: how many, and each
// range they read differently, with the reads it took; one pass has none.
TEST_F(DumpNames, TheReportAndTheJsonSayHowTheCartridgeWasRead)
{
    plug("official16");
    const struct { const char* passes; std::vector<std::string> unstable; } cases[] = {
        {"2", {"0x012345-0x012345 (3 reads)"}},
        {"1", {}},
    };
    for (const auto& c : cases) {
        sim::misreadOnce(0x12345);
        std::string dump = folder + "/read" + c.passes + ".ngp";
        CliRun r = run({"backup", "--passes", c.passes, "--report", "--json", dump});
        ASSERT_EQ(r.status, 0) << r.err;
        nlohmann::json line = nlohmann::json::parse(r.out.substr(0, r.out.find('\n')));
        EXPECT_EQ(line["passes"], std::stoi(c.passes));
        EXPECT_EQ(line["unstable"].get<std::vector<std::string>>(), c.unstable);
        std::ifstream report(dump + ".txt");
        std::string text{std::istreambuf_iterator<char>(report), std::istreambuf_iterator<char>()};
        std::string want = "Passes   = " + std::string(c.passes) + "\n";
        for (const std::string& range : c.unstable)
            want += "Unstable = " + range + "\n";
        EXPECT_NE(text.find(want + "Identity of"), std::string::npos) << text;
    }
}

// A report always describes the dump beside it, and a backup is never lost
// for its name; paths are shown and handed on as given.
TEST_F(DumpNames, BackupReportsFollowTheirDumpAndNoNameLosesIt)
{
    plug("official16");
    const std::string out = folder + "/out/", file = out + "cart.ngp", missing = folder + "/missing/";
    fs::create_directories(out);
    writeFile(out + "SIM OFFICIAL.ngp.txt", pattern(5, 5));  // a report whose dump is gone
    const std::string tooLong(300, 'n');
    const struct { std::string rom; Bytes listed; std::string verdict, folderLine; } cases[] = {
        {"x.ngc", pattern(16), "Not in the known-dump lists (1 entry).", "Named 'SIM OFFICIAL (2).ngp' after the ROM name."},
        {tooLong, sim::cartImage(), "Known dump: 'Sim' in 'L'.",
         "Named 'SIM OFFICIAL.ngp' after the ROM name: the folder refused the list's file name (File name too long)."},
    };
    for (const auto& c : cases) {
        writeList({{"Sim", c.rom, c.listed, ""}});
        CliRun again = run({"backup", "--report", file});
        std::ifstream report(file + ".txt");
        std::string text{std::istreambuf_iterator<char>(report), std::istreambuf_iterator<char>()};
        EXPECT_EQ(again.lastLine(), "Dump report written to 'cart.ngp.txt'.");
        EXPECT_NE(text.find(c.verdict), std::string::npos) << "the report of the dump now there";
        CliRun into = run(c.rom == tooLong ? std::vector<std::string>{"backup", "--json", out}
                                           : std::vector<std::string>{"backup", "--json", "--report", out});
        EXPECT_NE(into.err.find(c.folderLine), std::string::npos) << into.err;
        EXPECT_NE(into.out.find("\"file\":\"" + out + "SIM OFFICIAL"), std::string::npos) << into.out;
    }
    EXPECT_EQ(readFile(out + "SIM OFFICIAL.ngp.txt"), pattern(5, 5));
    CliRun lost = run({"backup", "--json", missing});
    EXPECT_NE(lost.err.find("'" + missing + "': No such file or directory"), std::string::npos) << lost.err;
    plug("none");
    for (const std::string& given : {missing, out})
        EXPECT_NE(run({"backup", "--json", given}).out.find("\"file\":\"" + given + "\""), std::string::npos);
}

// identify over many files says what it left out of the lists once, before
// the first image; hands back a path that is no UTF-8 exactly; renames a
// played dump only when asked to, with " (save)"; identifies a file given
// twice once.
TEST_F(DumpNames, IdentifyPlayedDumpsOddPathsAndNotesOnce)
{
    Bytes played = pattern(0x200000, 4), listed = played;
    std::fill(listed.begin() + 0x1FA000, listed.begin() + 0x1FC000, 0xFF);
    writeList({{"G", "G.ngc", listed, ""}});
    std::ofstream(lists + "/broken.dat") << "<datafile><game";
    const std::string odd = folder + "/d\xff.ngp", other = folder + "/other.ngp", again = folder + "/./d\xff.ngp";
    writeFile(odd, played);
    writeFile(other, pattern(100, 1));
    std::string bytes(4 * ((odd.size() + 2) / 3) + 1, '\0');
    bytes.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                 reinterpret_cast<const unsigned char*>(odd.data()), int(odd.size())));
    const struct { const char* option; std::string line; nlohmann::json file, base64; } cases[] = {
        {"--rename", "Kept the name 'd\\xFF.ngp':\nit is the entry's only once its save area reads as erased; "
                     "--rename-played names it 'G (save).ngc'.", nullptr, bytes},
        {"--rename-played", "Renamed 'd\\xFF.ngp' to 'G (save).ngc'.", folder + "/G (save).ngc", nullptr},
    };
    for (const auto& c : cases) {
        CliRun r = run({"identify", c.option, "--json", odd, other, again});
        EXPECT_EQ(r.status, 1) << "other.ngp is not known";
        size_t note = r.err.find("Skipped known-dump list 'broken.dat'");
        EXPECT_LT(note, r.err.find("Identity of '" + printable(odd, true) + "':")) << r.err;
        EXPECT_EQ(r.err.find("Skipped known-dump list", note + 1), std::string::npos) << "said once";
        EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Skipped '" + printable(again, true) + "': it was given before."), std::string::npos);
        nlohmann::json first = nlohmann::json::parse(r.out.substr(0, r.out.find('\n')));
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2);
        EXPECT_EQ(first["file_base64"], c.base64);
        if (c.base64.is_null()) {
            EXPECT_EQ(first["file"], c.file);
        }
        EXPECT_EQ(readFile(c.base64.is_null() ? c.file.get<std::string>() : odd), played);
    }
}

}  // namespace
