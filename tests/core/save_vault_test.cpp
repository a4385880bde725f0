// The vault on disk: copies ordered by when they were made whatever the
// clock's zone, never a copy over another file, and the backups the user
// registered found again and never pruned.
#include <fstream>
#include <thread>

#include "core/saves/safety_copy.h"
#include "core/saves/vault.h"
#include "support/saves.h"

namespace {

class VaultTest : public SavesTest {
protected:
    std::optional<EnvVar> data;
    void SetUp() override
    {
        SavesTest::SetUp();
        data.emplace("XDG_DATA_HOME", scratchPath("data").c_str());
    }
    void TearDown() override
    {
        data.reset();
        SavesTest::TearDown();
        tzset();
    }
    std::string game(const std::string& name) { return safetyCopyRoot() + "/" + name; }
};

// 2024-10-27 00:30 UTC: 02:30 summer time in Central Europe, half an hour
// before its clocks go back to 02:00.
const time_t FALL_BACK = 1729989000;

// Each run writes its copies in turn, each under its zone; with one copy
// kept, the last one made must be it.
TEST_F(VaultTest, TheNewestCopySurvivesAZoneChange)
{
    const struct { const char* what; std::vector<std::pair<const char*, time_t>> writes; } cases[] = {
        {"daylight saving ends between two copies", {{"CET-1CEST,M3.5.0,M10.5.0/3", FALL_BACK}, {"CET-1CEST,M3.5.0,M10.5.0/3", FALL_BACK + 2400}}},
        {"the machine moves west", {{"UTC0", FALL_BACK}, {"EST5EDT,M3.2.0,M11.1.0", FALL_BACK + 60}}},
        {"and back east", {{"EST5EDT,M3.2.0,M11.1.0", FALL_BACK}, {"JST-9", FALL_BACK + 60}, {"UTC0", FALL_BACK + 120}}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string folder = game("GAME-" + std::to_string(++n));
        std::string path;
        for (const auto& [zone, when] : c.writes) {
            EnvVar tz("TZ", zone);
            tzset();
            ASSERT_TRUE(storeSafetyCopy(report, folder, pattern(16, uint32_t(when)), when, &path, 1));
        }
        std::vector<VaultEntry> left = vaultEntries();
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(left[0].path, path);
        EXPECT_EQ(left[0].when, c.writes.back().second);
        EXPECT_EQ(readFile(path), pattern(16, uint32_t(c.writes.back().second)));
        for (const VaultEntry& e : left)
            deleteVaultEntry(e);
    }
    tzset();
}

// A name that is taken, even by a link to nothing, is never written over,
// and two runs in the same second each keep their own copy.
TEST_F(VaultTest, ACopyNeverReplacesAFile)
{
    EnvVar tz("TZ", "UTC0");
    tzset();
    std::string folder = game("GAME-0001");
    fs::create_directories(folder);
    ASSERT_EQ(symlink("/nowhere/at/all", (folder + "/2024-10-27_00-30-00+0000.ngf").c_str()), 0);
    std::string path;
    ASSERT_TRUE(storeSafetyCopy(report, folder, pattern(8), FALL_BACK, &path));
    EXPECT_EQ(path, folder + "/2024-10-27_00-30-00+0000_2.ngf");
    EXPECT_TRUE(fs::is_symlink(folder + "/2024-10-27_00-30-00+0000.ngf"));

    std::vector<std::string> paths[2];
    auto run = [&](int id) {
        for (int i = 0; i < 20; i++) {
            std::string p;
            if (storeSafetyCopy(report, folder, pattern(64, id * 100 + i), FALL_BACK + 1, &p, 100))
                paths[id].push_back(p);
        }
    };
    std::thread a(run, 0), b(run, 1);
    a.join();
    b.join();
    for (int id = 0; id < 2; id++) {
        ASSERT_EQ(paths[id].size(), 20u);
        for (int i = 0; i < 20; i++)
            EXPECT_EQ(readFile(paths[id][i]), pattern(64, id * 100 + i)) << paths[id][i];
    }
}

// Listed by game, newest first, with their kind and size; a game by its
// folder name, its title or its ID; a registered backup is never pruned
// and leaves the vault when deleted.
TEST_F(VaultTest, CopiesAndBackupsByGame)
{
    EnvVar tz("TZ", "UTC0");
    tzset();
    std::string path;
    ASSERT_TRUE(storeSafetyCopy(report, game("SONIC-0061"), pattern(10), FALL_BACK, &path, 2));
    std::string mine = scratchPath("elsewhere/sonic.ngf"), odd = game("SONIC-0061") + "/2020-01-01_00-00-00.ngf";
    fs::create_directories(scratchPath("elsewhere"));
    writeFile(mine, saveOfSize(30));
    writeFile(odd, saveOfSize(20));
    ASSERT_TRUE(registerBackup("SONIC-0061", mine));
    ASSERT_TRUE(registerBackup("SONIC-0061", odd));
    ASSERT_TRUE(registerBackup("SONIC-0061", mine)) << "registered once";
    ASSERT_TRUE(storeSafetyCopy(report, game("PUZZLE-0002"), pattern(40), FALL_BACK + 5, &path, 2));
    for (int i = 1; i <= 3; i++)
        ASSERT_TRUE(storeSafetyCopy(report, game("SONIC-0061"), pattern(10 + i), FALL_BACK + 60 * i, &path, 2));
    fs::last_write_time(mine, fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 3));
    fs::last_write_time(odd, fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 5));

    using Row = std::tuple<std::string, std::string, uint64_t, std::string>;  // game, file, bytes, kind
    std::vector<Row> rows;
    for (const VaultEntry& e : vaultEntries())
        rows.push_back({e.game, fs::path(e.path).filename().string(), e.bytes, saveKindName(e.kind)});
    EXPECT_EQ(rows, (std::vector<Row>{{"PUZZLE-0002", "2024-10-27_00-30-05+0000.ngf", 40, "copy"},
                                      {"SONIC-0061", "2024-10-27_00-33-00+0000.ngf", 13, "copy"},
                                      {"SONIC-0061", "2024-10-27_00-32-00+0000.ngf", 12, "copy"},
                                      {"SONIC-0061", "sonic.ngf", 30, "backup"},
                                      {"SONIC-0061", "2020-01-01_00-00-00.ngf", 20, "backup"}}));
    for (const char* name : {"SONIC-0061", "SONIC", "0061"})
        EXPECT_EQ(vaultEntries(name).size(), 4u) << name;
    EXPECT_TRUE(vaultEntries("SONIC-0062").empty());

    VaultEntry e;
    ASSERT_TRUE(findVaultEntry(scratchPath("elsewhere/../elsewhere/sonic.ngf"), &e));
    EXPECT_EQ(std::make_pair(e.game, e.kind), std::make_pair(std::string("SONIC-0061"), SaveKind::Backup));
    EXPECT_FALSE(findVaultEntry(scratchPath("nowhere.ngf"), &e));
    ASSERT_TRUE(deleteVaultEntry(vaultEntries("SONIC").back()));
    EXPECT_FALSE(fs::exists(odd));
    EXPECT_EQ(registeredBackups(game("SONIC-0061")), Lines{fs::canonical(mine).string()});
}

// Backups registered and deleted from several runs at once: no line is
// lost to another run's register renamed over it.
TEST_F(VaultTest, RegistersFromRunsAtOnceLoseNothing)
{
    fs::create_directories(scratchPath("elsewhere"));
    const int RUNS = 4, EACH = 25;
    std::string gone = scratchPath("elsewhere/gone.ngf");
    writeFile(gone, saveOfSize(8));
    ASSERT_TRUE(registerBackup("SONIC-0061", gone));
    VaultEntry e;
    ASSERT_TRUE(findVaultEntry(gone, &e));
    std::vector<std::thread> runs;
    for (int id = 0; id < RUNS; id++)
        runs.emplace_back([&, id] {
            for (int i = 0; i < EACH; i++)
                EXPECT_TRUE(registerBackup("SONIC-0061", scratchPath("elsewhere/" + std::to_string(id * EACH + i))));
        });
    runs.emplace_back([&] { EXPECT_TRUE(deleteVaultEntry(e)); });
    for (std::thread& t : runs)
        t.join();
    Lines lines = registeredBackups(game("SONIC-0061")), wanted;
    for (int n = 0; n < RUNS * EACH; n++)
        wanted.push_back(fs::weakly_canonical(scratchPath("elsewhere/" + std::to_string(n))).string());
    std::sort(lines.begin(), lines.end());
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(lines, wanted);
}

// The register is read warily: only absolute lines without control bytes
// from its first MiB; a line naming the file another way still finds it;
// copies of one second list newest first.
TEST_F(VaultTest, TheRegisterIsReadWarily)
{
    EnvVar tz("TZ", "UTC0");
    tzset();
    fs::create_directories(scratchPath("elsewhere"));
    std::string folder = game("SONIC-0061"), good = scratchPath("elsewhere/good.ngf");
    for (const char* name : {"good.ngf", "far.ngf", "bell\a.ngf"})
        writeFile(scratchPath("elsewhere/") + name, saveOfSize(8));
    std::string path;
    for (int i = 0; i < 3; i++)
        ASSERT_TRUE(storeSafetyCopy(report, folder, pattern(4), FALL_BACK, &path));
    std::string filler(1 << 20, '/');
    for (size_t at = 100; at < filler.size(); at += 100)
        filler[at] = '\n';
    std::ofstream(folder + "/backups.list") << scratchPath("elsewhere/../elsewhere/good.ngf") << "\nelsewhere/good.ngf\n"
                                            << scratchPath("elsewhere/bell\a.ngf") << "\n" << filler << "\n"
                                            << scratchPath("elsewhere/far.ngf") << "\n";
    Lines names;
    for (const VaultEntry& e : vaultEntries())
        names.push_back(fs::path(e.path).filename().string());
    EXPECT_EQ(names, (Lines{"good.ngf", "2024-10-27_00-30-00+0000_3.ngf", "2024-10-27_00-30-00+0000_2.ngf",
                            "2024-10-27_00-30-00+0000.ngf"}));
    VaultEntry e;
    ASSERT_TRUE(findVaultEntry(good, &e));
    EXPECT_EQ(e.kind, SaveKind::Backup);
    // Registered, a name with a control byte is written so that it reads
    // back whole.
    EXPECT_TRUE(registerBackup("SONIC-0061", scratchPath("elsewhere/bell\a.ngf")));
    EXPECT_TRUE(findVaultEntry(scratchPath("elsewhere/bell\a.ngf"), &e));
}

// The register may name any file: only saves are listed or deleted, the
// rest passed over with one note; a name holding a line break or a tab is
// registered, read back and listed whole.
TEST_F(VaultTest, OnlySavesAreTheVaultsWhateverTheRegisterNames)
{
    fs::create_directories(scratchPath("elsewhere"));
    const std::string text = scratchPath("elsewhere/important.txt"), odd = scratchPath("elsewhere/new\nline\t.ngf"),
                      save = scratchPath("elsewhere/save.ngf");
    writeFile(text, Bytes(27, 'x'));
    writeFile(odd, saveOfSize(40));
    writeFile(save, saveOfSize(30));
    for (const std::string& p : {text, odd, save})
        ASSERT_TRUE(registerBackup("SONIC-0061", p)) << p;
    EXPECT_EQ(registeredBackups(game("SONIC-0061")), (Lines{text, odd, save}));
    std::vector<std::string> passedOver;
    Lines listed;
    for (const VaultEntry& e : vaultEntries("", &passedOver))
        listed.push_back(e.path);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (Lines{odd, save}));
    EXPECT_EQ(passedOverNote(passedOver), "Passed over 1 file named in the vault's backups.list that does not read "
                                          "as an NGF save: '" + text + "'.");
    VaultEntry e;
    EXPECT_FALSE(findVaultEntry(text, &e));
    ASSERT_TRUE(findVaultEntry(save, &e));
    writeFile(save, Bytes(30, 'y'));  // replaced since it was listed
    EXPECT_FALSE(deleteVaultEntry(e));
    EXPECT_TRUE(fs::exists(save));
}

// Names that are no moment are no copies; copies dated more than a day
// ahead neither count nor go, and a held copy is passed over by the prune.
TEST_F(VaultTest, OnlyMomentsAreCopiesAndNoneFromTheFuturePushesOut)
{
    EnvVar tz("TZ", "UTC0");
    tzset();
    const struct { const char* name; bool copy; } names[] = {
        {"2024-02-29_23-59-59-1200_2.ngf", true}, {"2026-13-45_99-99-99+9999.ngf", false},
        {"2023-02-29_00-00-00+0000.ngf", false},  {"2024-01-01_24-00-00+0000.ngf", false},
        {"2024-01-01_00-00-00+1460.ngf", false},  {"2024-01-01_00-00-00+0000_1.ngf", false},
    };
    std::string folder = game("SONIC-0061"), path;
    fs::create_directories(folder);
    for (const auto& n : names) {
        time_t when;
        unsigned count;
        EXPECT_EQ(safetyCopyTime(n.name, &when, &count), n.copy) << n.name;
        writeFile(folder + "/" + n.name, pattern(8));
    }
    const time_t now = time(nullptr);
    Lines future, genuine;
    for (int i = 0; i < 5; i++) {
        ASSERT_TRUE(storeSafetyCopy(report, folder, pattern(8, i), now + 2 * 86400 + i, &path, -1));
        future.push_back(path);
        ASSERT_TRUE(storeSafetyCopy(report, folder, pattern(8, i), now - 3600 * (i + 1), &path, -1));
        genuine.push_back(path);
    }
    {
        HeldSave held(genuine.back());
        ASSERT_TRUE(held.held());
        ASSERT_TRUE(storeSafetyCopy(report, folder, pattern(8), now, &path, 3));
    }
    Lines left;
    for (const VaultEntry& e : vaultEntries())
        left.push_back(e.path);
    EXPECT_EQ(left, (Lines{future[4], future[3], future[2], future[1], future[0], path, genuine[0], genuine[4]}));
    for (const auto& n : names)
        EXPECT_NE(fs::exists(folder + "/" + n.name), n.copy) << n.name << ": the oldest copy goes, no other name";
}

}  // namespace
