// The vault on the command line: the listing's stable format, a restore that
// puts the exact bytes back, and one refused on another game's cartridge.
#include <regex>

#include "core/saves/vault.h"
#include "support/cli_run.h"

namespace {

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

    CliRun list = run({"saves-list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.err, "") << "no linker opened";
    std::vector<VaultEntry> entries = vaultEntries();
    ASSERT_EQ(entries.size(), 2u);
    const std::string date = "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\+0000";
    EXPECT_TRUE(std::regex_match(list.out, std::regex("SIM_OFFICIAL-1234\t" + date + "\t8208\tcopy\t" + entries[0].path + "\n" +
                                                      "SIM_OFFICIAL-1234\t" + date + "\t8208\tbackup\t" + std::filesystem::canonical(mine).string() + "\n")))
        << list.out;
    EXPECT_EQ(run({"saves-list", "1234"}).out, list.out);
    EXPECT_EQ(run({"saves-list", "OTHER"}).out, "");

    // The copy undoes the write, the backup too; each run adds a copy of its own.
    struct { std::string path; int status; Bytes cart; } rows[] = {
        {entries[0].path, 0, before}, {mine, 0, before}, {folder + "/new.ngf", 1, before}};
    for (const auto& row : rows) {
        sim::loadImage(written);
        CliRun r = run({"saves-restore", row.path});
        EXPECT_EQ(r.status, row.status) << r.out;
        EXPECT_EQ(sim::cartImage(), row.status ? written : row.cart) << row.path;
    }
    EXPECT_EQ(run({"saves-restore", folder + "/new.ngf"}).lastLine(),
              "restoreSaveGameToCart: '" + folder + "/new.ngf' is no safety copy or backup the vault holds; nothing was written to the cartridge.");

    // Another game's cartridge: refused, unless told otherwise.
    plug("official8");
    const Bytes other = sim::cartImage();
    CliRun refused = run({"saves-restore", mine});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.lastLine(), "restoreSaveGameToCart: '" + std::filesystem::canonical(mine).string() +
                                      "' is a save of SIM_OFFICIAL-1234, and the cartridge is SIM_OFFICL_8-1234; nothing was written to the cartridge.");
    EXPECT_EQ(sim::cartImage(), other);
    unsetenv("TZ");
    tzset();
}

}  // namespace
