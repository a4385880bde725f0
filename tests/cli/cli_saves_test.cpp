// The vault on the command line: the listing's stable format, a restore that
// puts the exact bytes back, one refused on another game's cartridge, and
// the command a stopped write names, run as a shell would run it.
#include <wordexp.h>

#include <functional>
#include <regex>

#include "core/saves/vault.h"
#include "support/cli_run.h"

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST_F(CliTest, SavesListAndRestore)
{
    setenv("TZ", "UTC0", 1);
    tzset();
    plug("official16");
    const Bytes before = sim::cartImage();
    std::string mine = folder + "/mine.ngf";
    ASSERT_EQ(run({"save-backup", mine}).status, 0);
    writeFile(folder + "/new.ngf", ngfFile({{0x3FA100, pattern(0x80)}}));
    ASSERT_EQ(run({"save-write", folder + "/new.ngf"}).status, 0);
    const Bytes written = sim::cartImage();

    // PATH, GAME, DATE, BYTES, KIND; the copy of the one block erased, the
    // backup of the one block unprotected; newest first.
    CliRun list = run({"saves", "list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.err, "") << "no linker opened";
    std::vector<VaultEntry> entries = vaultEntries();
    ASSERT_EQ(entries.size(), 2u);
    const std::regex line("([^\t]+)\tSIM_OFFICIAL-1234\t\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\+0000\t(\\d+)\t(copy|backup)");
    std::vector<std::vector<std::string>> rows;
    for (const std::string& l : linesOf(list.out)) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(l, m, line)) << l;
        rows.push_back({m[1], m[2], m[3]});
    }
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{entries[0].path, "8208", "copy"},
                                                           {std::filesystem::canonical(mine).string(), "8208", "backup"}}));
    EXPECT_EQ(run({"saves", "list", "1234"}).out, list.out);
    EXPECT_EQ(run({"saves", "list", "OTHER"}).out, "");
    EXPECT_EQ(run({"saves"}).status, 2) << "a subcommand is needed";

    // The copy undoes the write, the backup too; each run adds a copy of its own.
    struct { std::string path; int status; Bytes cart; } restores[] = {
        {entries[0].path, 0, before}, {mine, 0, before}, {folder + "/new.ngf", 1, written}};
    for (const auto& row : restores) {
        sim::loadImage(written);
        CliRun r = run({"saves", "restore", row.path});
        EXPECT_EQ(r.status, row.status) << r.out;
        EXPECT_EQ(sim::cartImage(), row.cart) << row.path;
    }
    EXPECT_EQ(run({"saves", "restore", folder + "/new.ngf"}).lastLine(),
              "restoreSaveGameToCart: '" + folder + "/new.ngf' is no safety copy or backup the vault holds; nothing was written to the cartridge.");

    // Another game's cartridge: refused, unless told otherwise.
    plug("official8");
    const Bytes other = sim::cartImage();
    CliRun refused = run({"saves", "restore", mine});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.lastLine(), "restoreSaveGameToCart: '" + std::filesystem::canonical(mine).string() +
                                      "' is a save of SIM_OFFICIAL-1234, and the cartridge is SIM_OFFICL_8-1234; nothing was written to the cartridge.");
    EXPECT_EQ(sim::cartImage(), other);
    unsetenv("TZ");
    tzset();
}

// One file backed up from two games holds the last one's save: it is listed
// once, under that game, and refused on the other game's cartridge.
TEST_F(CliTest, ABackupBelongsToTheLastGameWrittenToIt)
{
    std::string mine = folder + "/mine.ngf";
    for (const char* cart : {"official32", "official16"}) {
        plug(cart);
        ASSERT_EQ(run({"save-backup", mine}).status, 0);
    }
    const std::string canonical = std::filesystem::canonical(mine).string();
    CliRun list = run({"saves", "list"});
    ASSERT_EQ(linesOf(list.out).size(), 1u) << list.out;
    EXPECT_EQ(list.out.rfind(canonical + "\tSIM_OFFICIAL-1234\t", 0), 0u) << list.out;

    plug("official32");
    const Bytes before = sim::cartImage();
    CliRun refused = run({"saves", "restore", mine});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.lastLine(), "restoreSaveGameToCart: '" + canonical + "' is a save of SIM_OFFICIAL-1234, "
                                  "and the cartridge is SIM_BIG_GAME-1234; nothing was written to the cartridge.");
    EXPECT_EQ(sim::cartImage(), before);
}

// A write stopped half-way: chip 1's erase never ends after chip 0's block
// was written; or a header byte never programs, which leaves the cartridge
// of no known game. Once the cartridge has been powered off, the line's
// command, split as a shell splits it, puts every block back.
TEST_F(CliTest, AStoppedWriteNamesACommandThatUndoesIt)
{
    setenv("XDG_DATA_HOME", (folder + "/it's data").c_str(), 1);
    const struct { const char* cart; std::vector<std::pair<uint32_t, Bytes>> records; std::function<void()> fault; bool anyGame; } cases[] = {
        {"official32", {{0x3FA000, pattern(0x100, 1)}, {0x9FA000, pattern(0x100, 2)}}, [] { sim::chipEraseNeverEnds(1); }, false},
        {"cindercart", {{0x200100, pattern(0x100, 3)}}, [] { sim::byteNeverPrograms(0, 0x24); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cart);
        plug(c.cart);
        const Bytes before = sim::cartImage();
        writeFile(folder + "/two.ngf", ngfFile(c.records));
        c.fault();
        CliRun stopped = run({"save-write", folder + "/two.ngf"});
        EXPECT_EQ(stopped.status, 1);
        const std::string lead = "To put those blocks back as they were: ";
        ASSERT_EQ(stopped.lastLine().rfind(lead, 0), 0u) << stopped.out;
        EXPECT_EQ(stopped.lastLine().find(" restore --any-game '") != std::string::npos, c.anyGame) << stopped.lastLine();
        wordexp_t words;
        ASSERT_EQ(wordexp(stopped.lastLine().substr(lead.size()).c_str(), &words, WRDE_NOCMD | WRDE_UNDEF), 0);
        std::vector<std::string> command(words.we_wordv + 1, words.we_wordv + words.we_wordc);
        ASSERT_EQ(std::string(words.we_wordv[0]), "pockettetherbox-cli");
        wordfree(&words);

        sim::clearFaults();
        sim::unplugNow();
        sim::plugInNow();
        CliRun undone = run(command);
        EXPECT_EQ(undone.status, 0) << undone.out;
        EXPECT_EQ(sim::cartImage(), before);
    }
}

}  // namespace
