// Safety copies on disk: where they go, that they arrive whole or not at
// all, and that each game keeps only its newest; and the proposed backup
// name, which must not create anything.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <regex>

#include "core/saves/proposed_name.h"
#include "core/saves/safety_copy.h"
#include "support/saves.h"

namespace {

class SafetyCopyTest : public SavesTest {
protected:
    // Stamps are local time: make it one every machine agrees on.
    std::optional<EnvVar> tz;
    void SetUp() override
    {
        SavesTest::SetUp();
        tz.emplace("TZ", "UTC");
        tzset();
    }
    void TearDown() override
    {
        SavesTest::TearDown();
        tz.reset();
        tzset();
    }
};

// 2024-03-05 06:07:08 UTC.
const time_t WHEN = 1709618828;

std::vector<std::string> filesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(SafetyCopyTest, GameFolderNames)
{
    const struct { const char* title; uint8_t id[2]; std::string name; } cases[] = {
        {"SIM OFFICIAL", {0x34, 0x12}, "SIM_OFFICIAL-1234"},
        {"SONIC\0\0\0\0\0\0\0", {0x61, 0x00}, "SONIC-0061"},
        {"../../etc/x ", {0xFF, 0xAB}, "______etc_x-ABFF"},
        {"            ", {0, 0}, "untitled-0000"},
        {".hidden-Ok_1", {1, 2}, "_hidden-Ok_1-0201"},
    };
    for (const auto& c : cases) {
        uint8_t header[CART_HEADER_BYTES] = {};
        memcpy(header + CART_HEADER_NAME_ADDR, c.title, 12);
        header[CART_HEADER_ID_ADDR] = c.id[0];
        header[CART_HEADER_ID_ADDR + 1] = c.id[1];
        EXPECT_EQ(gameFolderName(header), c.name);
    }
}

TEST_F(SafetyCopyTest, RootFollowsXdgDataHome)
{
    EnvVar home("HOME", "/home/owner");
    const std::pair<const char*, std::string> cases[] = {
        {"/data", "/data/pockettetherbox/saves"},
        {nullptr, "/home/owner/.local/share/pockettetherbox/saves"},
        {"", "/home/owner/.local/share/pockettetherbox/saves"},
        {"relative/share", "/home/owner/.local/share/pockettetherbox/saves"},
    };
    for (const auto& [xdg, root] : cases) {
        EnvVar data("XDG_DATA_HOME", xdg);
        EXPECT_EQ(safetyCopyRoot(), root) << (xdg ? xdg : "unset");
    }
}

TEST_F(SafetyCopyTest, CopiesArriveWholeUnderTheirTime)
{
    std::string folder = scratchPath("saves/GAME-0001");
    Bytes ngf = ngfFile({{0x3FA000, pattern(0x2000)}});
    std::string first, second;
    ASSERT_TRUE(storeSafetyCopy(report, folder, ngf, WHEN, &first));
    ASSERT_TRUE(storeSafetyCopy(report, folder, pattern(9), WHEN, &second));
    EXPECT_EQ(first, folder + "/2024-03-05_06-07-08+0000.ngf");
    EXPECT_EQ(second, folder + "/2024-03-05_06-07-08+0000_2.ngf");
    EXPECT_EQ(readFile(first), ngf);
    EXPECT_EQ(readFile(second), pattern(9));
    EXPECT_EQ(filesIn(folder), (Lines{"2024-03-05_06-07-08+0000.ngf", "2024-03-05_06-07-08+0000_2.ngf"})) << "no temporary file left";
    EXPECT_TRUE(logLines().empty());
}

// Order is by time, then by the count within one second (10 after 2);
// files of other names are not the store's to remove, nor are copies dated
// years ahead, which push out none dated right.
TEST_F(SafetyCopyTest, OnlyTheNewestAreKept)
{
    std::string folder = scratchPath("GAME-0001");
    fs::create_directories(folder);
    for (const char* other : {"notes.txt", "2020-01-01_00-00-00.ngf.bak", "2020-01-01_00-00-00_x.ngf"})
        writeFile(folder + "/" + other, pattern(3));
    std::string path;
    for (int i = 0; i < SAFETY_COPIES_KEPT + 2; i++)
        ASSERT_TRUE(storeSafetyCopy(report, folder, pattern(4), WHEN + 60 * i, &path));
    Lines names = filesIn(folder);
    EXPECT_EQ(names.size(), size_t(SAFETY_COPIES_KEPT + 3));
    EXPECT_EQ(std::count(names.begin(), names.end(), "2024-03-05_06-07-08+0000.ngf"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "2024-03-05_06-09-08+0000.ngf"), 1);

    for (const char* n : {"2030-01-01_00-00-00.ngf", "2030-01-01_00-00-00_2.ngf", "2030-01-01_00-00-00_10.ngf"})
        writeFile(folder + "/" + n, pattern(3));
    pruneSafetyCopies(report, folder, 2);
    EXPECT_EQ(filesIn(folder), (Lines{"2020-01-01_00-00-00.ngf.bak", "2020-01-01_00-00-00_x.ngf",
                                      "2024-03-05_06-57-08+0000.ngf", "2024-03-05_06-58-08+0000.ngf",
                                      "2030-01-01_00-00-00.ngf", "2030-01-01_00-00-00_10.ngf",
                                      "2030-01-01_00-00-00_2.ngf", "notes.txt"}));
}

// Backup Savegame's proposal: the game's name and the date, made unique in
// the folder without creating anything there.
TEST_F(SafetyCopyTest, ProposedNameCreatesNothing)
{
    std::string folder = scratchPath("work");
    fs::create_directories(folder);
    uint8_t header[CART_HEADER_BYTES] = {};
    memcpy(header + CART_HEADER_NAME_ADDR, "SONIC  ", 7);
    header[CART_HEADER_ID_ADDR] = 0x61;
    struct tm day = {};
    day.tm_year = 2024 - 1900, day.tm_mon = 2, day.tm_mday = 5, day.tm_hour = 12;
    time_t when = mktime(&day);
    const struct { const char* folder; const uint8_t* header; const char* taken; const char* name; } rows[] = {
        {"", header, nullptr, "SONIC-0061-2024-03-05.ngf"},
        {"", nullptr, nullptr, "savegame-2024-03-05.ngf"},
        // A taken name, even a dangling link, is passed over.
        {"", header, "SONIC-0061-2024-03-05.ngf", "SONIC-0061-2024-03-05-2.ngf"},
        {"", header, "SONIC-0061-2024-03-05-2.ngf", "SONIC-0061-2024-03-05-3.ngf"},
        // A folder that cannot be written to still gets a proposal.
        {"/proc/self", header, nullptr, "SONIC-0061-2024-03-05.ngf"},
    };
    Lines made;
    for (const auto& r : rows) {
        if (r.taken) {
            ASSERT_EQ(symlink("/nowhere/at/all", (folder + "/" + r.taken).c_str()), 0);
            made.push_back(r.taken);
        }
        EXPECT_EQ(saveBackupName(*r.folder ? r.folder : folder, r.header ? gameFolderName(r.header) : "", when), r.name);
        Lines sorted = made;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(filesIn(folder), sorted);
    }
}

}  // namespace
