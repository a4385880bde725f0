// What the save-game loader refuses before a byte of a file reaches the
// cartridge; files it takes are written end to end in save_jobs_test.cpp.
#include "core/saves/block_plan.h"
#include "support/saves.h"

namespace {

using NgfLoadTest = SavesTest;

// Records that add up under both layouts, but to different records: the
// short layout reads an empty record and two of 32 KB, the long one a first
// record of 64 KB (its padding taken as length) and two empty ones.
Bytes ambiguousFile()
{
    Bytes f(NGF_HEADER_LEN + 3 * NGF_BLOCK_HEADER_LEN + 0x10000, 0x11);
    auto head = [&](size_t bodyAt, uint32_t addr, uint32_t lenField) {
        putNgfBlockHeader(f.data() + NGF_HEADER_LEN + bodyAt, NgfBlockHeader{addr, lenField});
    };
    head(0, 0x3F0000, 0x10000);
    head(8, 0x3F0000, 0x8000);
    head(16 + 0x8000, 0x3F8000, 0x8000);
    head(0x10008, 0x3F0000, 0);
    head(0x10010, 0x3F0000, 0);
    putNgfHeader(f.data(), NgfHeader{NGF_VERSION, 3, uint32_t(f.size())});
    return f;
}

TEST_F(NgfLoadTest, RefusedFilesSayWhy)
{
    const std::string bad = "restoreSaveGameToCart: Bad NGF file '/saves/game.ngf'";
    const std::string badFile = "Bad NGF file '/saves/game.ngf':|";
    Bytes oneMore = ngfFile({{0x3FA000, pattern(64)}});
    oneMore.push_back(0);
    putNgfHeader(oneMore.data(), NgfHeader{NGF_VERSION, 1, uint32_t(oneMore.size())});
    std::vector<std::pair<uint32_t, Bytes>> many(257, {0x3FA000, Bytes(32, 7)});
    Bytes tooMany = ngfFile(many), most = ngfFile({many.begin(), many.end() - 1});
    Bytes capped = ngfFile({}), overCap = ngfFile({});
    putNgfHeader(capped.data(), NgfHeader{NGF_VERSION, 1, SAVE_MAX_FILE_LEN});
    putNgfHeader(overCap.data(), NgfHeader{NGF_VERSION, 1, SAVE_MAX_FILE_LEN + 1});
    Bytes version = ngfFile({});
    version[1] = 1;
    const struct { const char* what; Bytes file; std::string line; } cases[] = {
        {"one byte no record holds", oneMore, badFile + "its 1 records do not add up to len=0x51|under either record header layout."},
        {"both layouts, different records", ambiguousFile(),
         badFile + "its 3 records add up to len=0x10020|under both record header layouts,|and read differently under each."},
        {"257 records", tooMany, "restoreSaveGameToCart: numBlocks=257 overflow"},
        // Refused on the header alone: the read that follows would say how many bytes it found.
        {"len past any programmable file", overCap, badFile + "len=0x400809 is more than a save can hold|(at most 0x400808)."},
        {"len at the limit", capped, "restoreSaveGameToCart: read 0x0, but exptected 0x400800 bytes"},
        {"short header", slice(version, 0, 7), bad},
        {"version 0x0153", version, "restoreSaveGameToCart: Bad NGF file version '/saves/game.ngf' 0x153\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        clearLog();
        LoadedSave s;
        EXPECT_FALSE(loadBytes(report, c.file, &s));
        EXPECT_EQ(logLines(), c.line.back() == '\n' ? Lines{c.line} : rows(c.line));
    }
    LoadedSave s;
    EXPECT_TRUE(loadBytes(report, most, &s));
    EXPECT_EQ(s.records.size(), 256u);
}

// The fuzzer starts from these: they must load and plan, or it would spend
// its time on refusals.
TEST_F(NgfLoadTest, SaveSeedsLoadAndPlan)
{
    const uint8_t chips[2] = {16, 16};
    int count = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(__FILE__).parent_path().parent_path() / "fuzz" / "save-seeds")) {
        LoadedSave s;
        SavePlan plan;
        EXPECT_TRUE(loadBytes(report, readFile(entry.path().string()), &s) && planSaveWrite(report, s, chips, &plan)) << entry.path();
        count++;
    }
    EXPECT_GE(count, 4);
    EXPECT_TRUE(logLines().empty());
}

}  // namespace
