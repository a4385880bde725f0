// The NGF format on its own: layouts, address mapping, the writer's records
// and the reader's checks, all without a linker.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/cart/detect.h"
#include "gui/log.h"
#include "core/saves/ngf.h"
#include "core/saves/ngf_load.h"
#include "support/job_helpers.h"
#include "gui/main_window.h"

namespace {

class NgfTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!window)
            buildMainWindow();
        clearLog();
        cart.chipSize[0] = 16;
    }
    Cart cart;  // every slot protected until a case opens some
};

// A file of `count` records of `blockLen` bytes at 0x3FA000 upward; the
// header says `len` (0: the file's size) and `numBlocks` (-1: count).
Bytes fileWith(int count, uint32_t blockLen, uint32_t len = 0, int numBlocks = -1, uint16_t version = NGF_VERSION)
{
    Bytes f(NGF_HEADER_LEN);
    for (int i = 0; i < count; i++) {
        uint8_t head[NGF_BLOCK_HEADER_LEN];
        putNgfBlockHeader(head, NgfBlockHeader{0x3FA000 + i * blockLen, blockLen});
        f.insert(f.end(), head, head + sizeof head);
        f.insert(f.end(), blockLen, uint8_t(i));
    }
    putNgfHeader(f.data(), NgfHeader{version, uint16_t(numBlocks < 0 ? count : numBlocks), len ? len : uint32_t(f.size())});
    return f;
}

// Loads through a stream over an exact-size heap copy, as Write Savegame
// loads a file, so any read past the end is caught.
bool parse(const Bytes& file, LoadedSave* save)
{
    auto copy = std::make_unique<uint8_t[]>(std::max<size_t>(file.size(), 1));
    std::copy(file.begin(), file.end(), copy.get());
    FILE* f = fmemopen(copy.get(), file.size(), "rb");
    if (!f)
        return false;
    bool ok = loadNgfFile(windowReporter(), f, "/saves/game.ngf", save);
    fclose(f);
    return ok;
}

Bytes withBlockLen(Bytes f, uint32_t blockLen)
{
    putNgfBlockHeader(f.data() + 8, NgfBlockHeader{0x3FA000, blockLen});
    return f;
}

TEST_F(NgfTest, WriterRecordsAndTheKnownSixteenBytes)
{
    cart.prot[33] = 0;
    NgfBlockHeader r[NGF_MAX_WRITE_BLOCKS];
    ASSERT_EQ(ngfRecordList(cart, r), 1);
    EXPECT_EQ(ngfFileLen(r, 1), 0x2010u);
    uint8_t bytes[16];
    putNgfHeader(bytes, NgfHeader{NGF_VERSION, 1, ngfFileLen(r, 1)});
    putNgfBlockHeader(bytes + 8, r[0]);
    const uint8_t expected[16] = {0x53, 0x00, 0x01, 0x00, 0x10, 0x20, 0x00, 0x00,
                                  0x00, 0xA0, 0x3F, 0x00, 0x00, 0x20, 0x00, 0x00};
    EXPECT_EQ(memcmp(bytes, expected, 16), 0);  // the reader's side is in ReaderChecks

    // Chip 0 before chip 1, and chip 1's slots only when it was detected.
    cart.chipSize[1] = 16;
    cart.prot[BLOCKS_PER_CHIP + 0] = cart.prot[BLOCKS_PER_CHIP + 33] = cart.prot[34] = cart.prot[2] = 0;
    cart.prot[33] = 1;
    ASSERT_EQ(ngfRecordList(cart, r), 4);
    std::vector<std::pair<uint32_t, uint32_t>> got;
    for (int i = 0; i < 4; i++)
        got.push_back({r[i].NGPCaddr, r[i].blockLen});
    EXPECT_EQ(got, (decltype(got){{0x220000, 0x10000}, {0x3FC000, 0x4000}, {0x800000, 0x10000}, {0x9FA000, 0x2000}}));
    EXPECT_EQ(ngfFileLen(r, 4), 8u + 4 * 8 + 0x10000 + 0x4000 + 0x10000 + 0x2000);
    cart.chipSize[1] = 0;
    EXPECT_EQ(ngfRecordList(cart, r), 2);

    cart.chipSize[1] = 16;
    memset(cart.prot, 0, sizeof cart.prot);
    ASSERT_EQ(ngfRecordList(cart, r), 70);
    EXPECT_EQ(ngfFileLen(r, 70), 8u + 70 * 8 + 2 * 0x200000);
    EXPECT_EQ(r[69].NGPCaddr, 0x9FC000u);
}

TEST_F(NgfTest, ConsoleAndCartAddresses)
{
    const std::pair<uint32_t, uint32_t> valid[] = {
        {0x200000, 0x000000}, {0x3FFFFF, 0x1FFFFF}, {0x800000, 0x200000}, {0x9FFFFF, 0x3FFFFF}};
    for (auto [console, cart] : valid) {
        uint32_t got = 0xDEADBEEF;
        EXPECT_TRUE(cartAddrFromConsole(console, &got)) << std::hex << console;
        EXPECT_EQ(got, cart) << std::hex << console;
        EXPECT_EQ(consoleAddrFromCart(cart), console) << std::hex << cart;
    }
    for (uint32_t bad : {0x1FFFFFu, 0x400000u, 0x7FFFFFu, 0xA00000u}) {
        uint32_t cart = 0;
        EXPECT_FALSE(cartAddrFromConsole(bad, &cart)) << std::hex << bad;
    }
    const std::pair<NgfBlockHeader, bool> records[] = {
        {{0x3FFFE0, 0x20}, true}, {{0x3FFFE0, 0x40}, false},       {{0x9FFFFF, 1}, true},
        {{0x9FFFFF, 2}, false},   {{0x800000, 0xFFFFFFFF}, false}, {{0x400000, 0}, false}};
    for (auto [rec, fits] : records)
        EXPECT_EQ(recordFitsItsChip(rec), fits) << std::hex << rec.NGPCaddr << " " << rec.blockLen;
}

// Every file the reader meets, loaded from an exact-size heap copy so that
// any read past the end is caught: accepted silently, or refused with one line.
// The loader Write Savegame runs takes up to 256 records and both record
// layouts; where its verdict differs from the first, stricter reader's, the
// case says so.
TEST_F(NgfTest, ReaderChecks)
{
    const std::string bad = "restoreSaveGameToCart: Bad NGF file '/saves/game.ngf'";
    const std::string badFile = "Bad NGF file '/saves/game.ngf':|";
    Bytes longer = fileWith(1, 64);
    longer.resize(longer.size() + 100, 0x00);  // would read as a second record if looked at
    putNgfHeader(longer.data() + 80, NgfHeader{NGF_VERSION, 0, 0});
    Bytes cutHeader = fileWith(0, 0);
    cutHeader.resize(7);
    Bytes lenSeven = fileWith(0, 0, 7);
    lenSeven.resize(64, 0xEE);
    Bytes cut36 = fileWith(36, 32);
    cut36.pop_back();
    // `line` is "" when the file is accepted.
    const struct { const char* what; Bytes file; std::string line; uint32_t len = 0, numBlocks = 0; } cases[] = {
        {"empty file of eight bytes", fileWith(0, 0), "", 8, 0},
        {"100 bytes past len", longer, "", 8 + 8 + 64, 1},
        {"35 records", fileWith(35, 32), "", 8 + 35 * 40, 35},
        {"short header", cutHeader, bad},
        {"no bytes", {}, bad},
        {"version 0x0054", fileWith(1, 32, 0, -1, 0x54), "restoreSaveGameToCart: Bad NGF file version '/saves/game.ngf' 0x54\n"},
        {"version 0x0153", fileWith(1, 32, 0, -1, 0x153), "restoreSaveGameToCart: Bad NGF file version '/saves/game.ngf' 0x153\n"},
        {"len 7", lenSeven, badFile + "len=0x7 is shorter than its header."},
        {"len past the file", fileWith(1, 64, 0x2010), "restoreSaveGameToCart: read 0x48, but exptected 0x2008 bytes"},
        // Refused on the header alone, before any of it is read.
        {"len of 4 GB", fileWith(1, 64, 0xFFFFFFFF),
         badFile + "len=0xFFFFFFFF is more than a save can hold|(at most 0x400808)."},
        // Once refused as more than 35 records.
        {"36 records", fileWith(36, 32), "", 8 + 36 * 40, 36},
        {"length checked before the count", cut36, "restoreSaveGameToCart: read 0x59F, but exptected 0x5A0 bytes"},
        // Records that run past len are refused as records that do not add
        // up to it, under either layout, rather than named one by one.
        {"second record header cut by len", fileWith(2, 32, 8 + 40 + 4),
         badFile + "its 2 records do not add up to len=0x34|under either record header layout."},
        {"more records than bytes", fileWith(3, 32, 0, 4),
         badFile + "its 4 records do not add up to len=0x80|under either record header layout."},
        {"blockLen 33", withBlockLen(fileWith(1, 32), 33),
         badFile + "its 1 records do not add up to len=0x30|under either record header layout."},
        {"blockLen wrapping", withBlockLen(fileWith(1, 32), 0xFFFFFFF8),
         badFile + "its 1 records do not add up to len=0x30|under either record header layout."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        clearLog();
        LoadedSave save;
        EXPECT_EQ(parse(c.file, &save), c.line.empty());
        EXPECT_EQ(logLines(), c.line.empty() ? Lines{} : c.line.back() == '\n' ? Lines{c.line} : rows(c.line));
        if (c.line.empty()) {
            EXPECT_EQ(save.header.len, c.len);
            EXPECT_EQ(save.header.numBlocks, c.numBlocks);
            EXPECT_EQ(save.body.size(), c.len - 8);
            EXPECT_EQ(save.records.size(), c.numBlocks);
        }
    }
}

// The fuzzer starts from these; they must stay files the reader accepts.
TEST_F(NgfTest, FuzzSeedsAreValidFiles)
{
    namespace fs = std::filesystem;
    int count = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(__FILE__).parent_path() / "fuzz" / "seeds")) {
        LoadedSave save;
        EXPECT_TRUE(parse(readFile(entry.path().string()), &save)) << entry.path();
        count++;
    }
    EXPECT_GE(count, 5);
    EXPECT_TRUE(logLines().empty());
}

}  // namespace
