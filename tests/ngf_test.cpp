// The NGF format on its own: layouts, address mapping, the writer's records
// and the reader's checks, all without a linker.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "cart/detect.h"
#include "ops/ngf.h"
#include "support/job_fixture.h"
#include "ui/main_window.h"

namespace {

const char* const PATH = "/saves/game.ngf";

class NgfTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!window)
            buildMainWindow();
        clearLog();
        memset(G_prot, 1, sizeof G_prot);
        G_chipSize[0] = 16;
        G_chipSize[1] = 0;
    }
};

std::vector<uint8_t> header(uint16_t version, uint16_t numBlocks, uint32_t len)
{
    std::vector<uint8_t> b(NGF_HEADER_LEN);
    putNgfHeader(b.data(), NgfHeader{version, numBlocks, len});
    return b;
}

void addRecord(std::vector<uint8_t>* file, uint32_t NGPCaddr, uint32_t blockLen, uint8_t fill)
{
    uint8_t head[NGF_BLOCK_HEADER_LEN];
    putNgfBlockHeader(head, NgfBlockHeader{NGPCaddr, blockLen});
    file->insert(file->end(), head, head + sizeof head);
    file->insert(file->end(), blockLen, fill);
}

// A well-formed file with `count` records of `blockLen` bytes at 0x3FA000 upward.
std::vector<uint8_t> fileWith(int count, uint32_t blockLen)
{
    std::vector<uint8_t> f = header(NGF_VERSION, uint16_t(count), 0);
    for (int i = 0; i < count; i++)
        addRecord(&f, 0x3FA000 + i * blockLen, blockLen, uint8_t(i));
    putNgfHeader(f.data(), NgfHeader{NGF_VERSION, uint16_t(count), uint32_t(f.size())});
    return f;
}

// Parses from an exact-size heap copy, so any read past the end is caught.
bool parse(const std::vector<uint8_t>& file, NgfHeader* h, size_t* bodyAt = nullptr)
{
    uint8_t* copy = new uint8_t[file.size() ? file.size() : 1];
    if (!file.empty())
        memcpy(copy, file.data(), file.size());
    const uint8_t* body = nullptr;
    bool ok = ngfParse(copy, file.size(), PATH, h, &body);
    if (ok && bodyAt)
        *bodyAt = body - copy;
    delete[] copy;
    return ok;
}

}  // namespace

TEST_F(NgfTest, SingleBlock33GivesTheKnownSixteenBytes)
{
    G_prot[33] = 0;
    NgfBlockHeader records[NGF_MAX_WRITE_BLOCKS];
    ASSERT_EQ(ngfRecordList(records), 1);
    EXPECT_EQ(records[0].NGPCaddr, 0x3FA000u);
    EXPECT_EQ(records[0].blockLen, 0x2000u);
    EXPECT_EQ(ngfFileLen(records, 1), 0x2010u);

    uint8_t bytes[16];
    putNgfHeader(bytes, NgfHeader{NGF_VERSION, 1, ngfFileLen(records, 1)});
    putNgfBlockHeader(bytes + 8, records[0]);
    const uint8_t expected[16] = {0x53, 0x00, 0x01, 0x00, 0x10, 0x20, 0x00, 0x00,
                                  0x00, 0xA0, 0x3F, 0x00, 0x00, 0x20, 0x00, 0x00};
    EXPECT_EQ(memcmp(bytes, expected, 16), 0);

    NgfHeader h = getNgfHeader(expected);
    EXPECT_EQ(h.version, 0x53);
    EXPECT_EQ(h.numBlocks, 1);
    EXPECT_EQ(h.len, 0x2010u);
    NgfBlockHeader b = getNgfBlockHeader(expected + 8);
    EXPECT_EQ(b.NGPCaddr, 0x3FA000u);
    EXPECT_EQ(b.blockLen, 0x2000u);
}

TEST_F(NgfTest, WriterPutsChip0BeforeChip1AndSkipsAnAbsentChip1)
{
    G_chipSize[1] = 16;
    G_prot[BLOCKS_PER_CHIP + 0] = 0;
    G_prot[BLOCKS_PER_CHIP + 33] = 0;
    G_prot[34] = 0;
    G_prot[2] = 0;
    NgfBlockHeader r[NGF_MAX_WRITE_BLOCKS];
    ASSERT_EQ(ngfRecordList(r), 4);
    EXPECT_EQ(r[0].NGPCaddr, 0x220000u);
    EXPECT_EQ(r[0].blockLen, 0x10000u);
    EXPECT_EQ(r[1].NGPCaddr, 0x3FC000u);
    EXPECT_EQ(r[1].blockLen, 0x4000u);
    EXPECT_EQ(r[2].NGPCaddr, 0x800000u);
    EXPECT_EQ(r[2].blockLen, 0x10000u);
    EXPECT_EQ(r[3].NGPCaddr, 0x9FA000u);
    EXPECT_EQ(r[3].blockLen, 0x2000u);
    EXPECT_EQ(ngfFileLen(r, 4), 8u + 4 * 8 + 0x10000 + 0x4000 + 0x10000 + 0x2000);

    // No chip 1 detected: its slots are not looked at, whatever they hold.
    G_chipSize[1] = 0;
    EXPECT_EQ(ngfRecordList(r), 2);
}

TEST_F(NgfTest, WriterCanListSeventyRecords)
{
    G_chipSize[1] = 16;
    memset(G_prot, 0, sizeof G_prot);
    NgfBlockHeader r[NGF_MAX_WRITE_BLOCKS];
    ASSERT_EQ(ngfRecordList(r), 70);
    EXPECT_EQ(ngfFileLen(r, 70), 8u + 70 * 8 + 2 * 0x200000);
    EXPECT_EQ(r[69].NGPCaddr, 0x9FC000u);
}

TEST_F(NgfTest, ConsoleAddressesBothWays)
{
    EXPECT_EQ(consoleAddrFromCart(0x000000), 0x200000u);
    EXPECT_EQ(consoleAddrFromCart(0x1FA000), 0x3FA000u);
    EXPECT_EQ(consoleAddrFromCart(0x200000), 0x800000u);
    EXPECT_EQ(consoleAddrFromCart(0x3FA000), 0x9FA000u);

    const struct {
        uint32_t console, cart;
    } valid[] = {{0x200000, 0x000000}, {0x3FFFFF, 0x1FFFFF}, {0x800000, 0x200000},
                 {0x9FFFFF, 0x3FFFFF}, {0x9FA000, 0x3FA000}};
    for (const auto& v : valid) {
        uint32_t cart = 0xDEADBEEF;
        EXPECT_TRUE(cartAddrFromConsole(v.console, &cart)) << std::hex << v.console;
        EXPECT_EQ(cart, v.cart) << std::hex << v.console;
    }
    for (uint32_t bad : {0x0u, 0x1FFFFFu, 0x400000u, 0x7FFFFFu, 0xA00000u, 0xFFFFFFFFu}) {
        uint32_t cart = 0;
        EXPECT_FALSE(cartAddrFromConsole(bad, &cart)) << std::hex << bad;
    }
}

TEST_F(NgfTest, RecordMustEndInsideItsChip)
{
    EXPECT_TRUE(recordFitsItsChip({0x3FFFE0, 0x20}));
    EXPECT_FALSE(recordFitsItsChip({0x3FFFE0, 0x40}));
    EXPECT_TRUE(recordFitsItsChip({0x9FFFFF, 1}));
    EXPECT_FALSE(recordFitsItsChip({0x9FFFFF, 2}));
    EXPECT_FALSE(recordFitsItsChip({0x800000, 0xFFFFFFFF}));
    EXPECT_FALSE(recordFitsItsChip({0x400000, 0}));
}

TEST_F(NgfTest, ShortHeaderIsABadFile)
{
    NgfHeader h;
    std::vector<uint8_t> f = header(NGF_VERSION, 0, 8);
    f.resize(7);
    EXPECT_FALSE(parse(f, &h));
    EXPECT_EQ(logLines(), std::vector<std::string>{"restoreSaveGameToCart: Bad NGF file '/saves/game.ngf'"});
    clearLog();
    EXPECT_FALSE(parse({}, &h));
    EXPECT_EQ(findLine("restoreSaveGameToCart: Bad NGF file '/saves/game.ngf'"), 0);
}

TEST_F(NgfTest, OtherVersionIsRefusedByItsValue)
{
    NgfHeader h;
    std::vector<uint8_t> f = fileWith(1, 32);
    f[0] = 0x54;
    EXPECT_FALSE(parse(f, &h));
    EXPECT_EQ(logLines(), std::vector<std::string>{
                              "restoreSaveGameToCart: Bad NGF file version '/saves/game.ngf' 0x54\n"});
    clearLog();
    // The whole 16-bit value counts: 0x0153 is not 0x0053.
    f[0] = 0x53;
    f[1] = 0x01;
    EXPECT_FALSE(parse(f, &h));
    EXPECT_EQ(findLine("restoreSaveGameToCart: Bad NGF file version '/saves/game.ngf' 0x153\n"), 0);
}

TEST_F(NgfTest, LenShorterThanTheHeaderIsRefused)
{
    NgfHeader h;
    for (uint32_t len : {0u, 7u}) {
        clearLog();
        std::vector<uint8_t> f = header(NGF_VERSION, 0, len);
        f.resize(64, 0xEE);
        EXPECT_FALSE(parse(f, &h));
        char line[160];
        snprintf(line, sizeof line,
                 "restoreSaveGameToCart: Bad NGF file '/saves/game.ngf': len=0x%X is shorter than "
                 "its header",
                 len);
        EXPECT_EQ(logLines(), std::vector<std::string>{line});
    }
}

TEST_F(NgfTest, EmptyFileOfEightBytesIsAccepted)
{
    NgfHeader h;
    size_t bodyAt = 0;
    EXPECT_TRUE(parse(header(NGF_VERSION, 0, 8), &h, &bodyAt));
    EXPECT_EQ(h.numBlocks, 0);
    EXPECT_EQ(h.len, 8u);
    EXPECT_EQ(bodyAt, 8u);
    EXPECT_TRUE(logLines().empty());
}

TEST_F(NgfTest, BytesPastLenAreIgnored)
{
    NgfHeader h;
    std::vector<uint8_t> f = fileWith(1, 64);
    // 100 bytes that would read as a second record if they were looked at.
    std::vector<uint8_t> tail = header(NGF_VERSION, 0, 0);
    tail.resize(100, 0x00);
    f.insert(f.end(), tail.begin(), tail.end());
    EXPECT_TRUE(parse(f, &h));
    EXPECT_EQ(h.len, 8u + 8 + 64);
    EXPECT_TRUE(logLines().empty());
}

TEST_F(NgfTest, LenBeyondTheFileReportsWhatIsPresent)
{
    NgfHeader h;
    std::vector<uint8_t> f = fileWith(1, 64);
    putNgfHeader(f.data(), NgfHeader{NGF_VERSION, 1, 0x2010});
    EXPECT_FALSE(parse(f, &h));
    EXPECT_EQ(logLines(), std::vector<std::string>{
                              "restoreSaveGameToCart: read 0x48, but exptected 0x2008 bytes"});
    clearLog();
    putNgfHeader(f.data(), NgfHeader{NGF_VERSION, 1, 0xFFFFFFFF});
    EXPECT_FALSE(parse(f, &h));
    EXPECT_EQ(findLine("restoreSaveGameToCart: read 0x48, but exptected 0xFFFFFFF7 bytes"), 0);
}

TEST_F(NgfTest, ThirtyFiveRecordsAreTheLimit)
{
    NgfHeader h;
    EXPECT_TRUE(parse(fileWith(35, 32), &h));
    EXPECT_EQ(h.numBlocks, 35);
    EXPECT_TRUE(logLines().empty());
    EXPECT_FALSE(parse(fileWith(36, 32), &h));
    EXPECT_EQ(logLines(), std::vector<std::string>{"restoreSaveGameToCart: numBlocks=36 overflow"});
}

TEST_F(NgfTest, LengthIsCheckedBeforeTheRecordCount)
{
    NgfHeader h;
    std::vector<uint8_t> f = fileWith(36, 32);
    f.resize(f.size() - 1);
    EXPECT_FALSE(parse(f, &h));
    EXPECT_EQ(logLines(), std::vector<std::string>{
                              "restoreSaveGameToCart: read 0x59F, but exptected 0x5A0 bytes"});
}

TEST_F(NgfTest, RecordRunningPastLenIsRefused)
{
    NgfHeader h;
    // The second record's header is cut short by len.
    std::vector<uint8_t> f = fileWith(2, 32);
    putNgfHeader(f.data(), NgfHeader{NGF_VERSION, 2, 8 + 40 + 4});
    EXPECT_FALSE(parse(f, &h));
    EXPECT_EQ(logLines(), std::vector<std::string>{
                              "restoreSaveGameToCart: blockHeader 2 at 0x30 runs past len=0x34"});

    // The first record's data does not fit: a blockLen near 4 GB must not wrap.
    for (uint32_t blockLen : {33u, 0xFFFFFFF8u, 0xFFFFFFFFu}) {
        clearLog();
        f = fileWith(1, 32);
        putNgfBlockHeader(f.data() + 8, NgfBlockHeader{0x3FA000, blockLen});
        EXPECT_FALSE(parse(f, &h));
        char line[160];
        snprintf(line, sizeof line,
                 "restoreSaveGameToCart: block 1 at 0x8 with blockLen=0x%X runs past len=0x30",
                 blockLen);
        EXPECT_EQ(logLines(), std::vector<std::string>{line});
    }

    // More records announced than the bytes hold.
    clearLog();
    f = fileWith(3, 32);
    putNgfHeader(f.data(), NgfHeader{NGF_VERSION, 4, uint32_t(f.size())});
    EXPECT_FALSE(parse(f, &h));
    EXPECT_EQ(findLine("restoreSaveGameToCart: blockHeader 4 at 0x80 runs past len=0x80"), 0);
}

TEST_F(NgfTest, LastUnitOfAnOddRecordIsPaddedWithErasedBytes)
{
    // Exactly 40 data bytes on the heap: a read past them would be caught.
    uint8_t* data = new uint8_t[40];
    for (int i = 0; i < 40; i++)
        data[i] = uint8_t(i + 1);
    NgfRecord rec{{0x3FA000, 40}, data};
    uint8_t unit[NGF_UNIT];
    ngfUnit(rec, 0, unit);
    EXPECT_EQ(memcmp(unit, data, 32), 0);
    ngfUnit(rec, 32, unit);
    EXPECT_EQ(memcmp(unit, data + 32, 8), 0);
    for (uint32_t i = 8; i < NGF_UNIT; i++)
        EXPECT_EQ(unit[i], 0xFF) << i;
    delete[] data;
}

// The fuzzer starts from these; they must stay files the reader accepts.
TEST_F(NgfTest, FuzzSeedsAreValidFiles)
{
    namespace fs = std::filesystem;
    fs::path seeds = fs::path(__FILE__).parent_path() / "fuzz" / "seeds";
    int count = 0;
    for (const auto& entry : fs::directory_iterator(seeds)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        NgfHeader h;
        EXPECT_TRUE(parse(bytes, &h)) << entry.path();
        count++;
    }
    EXPECT_GE(count, 5);
    EXPECT_TRUE(logLines().empty());
}
