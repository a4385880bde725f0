// The pieces Flash ROM(s) erases and checks by: which blocks a ROM lies in,
// one block erased and waited for, and the cartridge read back against the
// file, before and after writing.
#include "core/cart/block_erase.h"
#include "core/cart/blocks.h"
#include "core/cart/detect.h"
#include "core/jobs/flash_readback.h"
#include "core/link/protocol.h"
#include "core/link/transfer.h"
#include "sim.h"
#include "support/core_job.h"

namespace {

const uint32_t MIB = 0x100000;

std::vector<std::tuple<int, int, uint32_t, uint32_t>> described(const std::vector<EraseBlock>& blocks)
{
    std::vector<std::tuple<int, int, uint32_t, uint32_t>> out;
    for (const EraseBlock& b : blocks)
        out.push_back({b.chip, b.number, b.start, b.size});
    return out;
}

class FlashBlocksTest : public CoreJobTest {
protected:
    void TearDown() override
    {
        G_chipSize[0] = G_chipSize[1] = 0;
        CoreJobTest::TearDown();
    }
    // The cartridge probed as a job would, so that the geometry is its own.
    void insert(const char* cart)
    {
        sim::insertCart(cart);
        uint8_t size = 0;
        checkCart(&size, nullptr, nullptr, nullptr, false, false);
        report.lines.clear();
    }
    // The ROM file holding `rom`, open for reading; closed with the test.
    FILE* romFile(const Bytes& rom)
    {
        writeFile(scratch("game.ngp"), rom);
        file_ = fopen(scratch("game.ngp").c_str(), "rb");
        return file_;
    }
    void closeFile()
    {
        if (file_)
            fclose(file_);
        file_ = nullptr;
    }
    ~FlashBlocksTest() override { closeFile(); }

private:
    FILE* file_ = nullptr;
};

// ---- Blocks a ROM lies in ------------------------------------------------------

TEST_F(FlashBlocksTest, BlocksCoveringFollowTheChipsLayout)
{
    G_chipSize[0] = 16;
    // The last byte of the ROM decides: one byte into a block takes it whole.
    EXPECT_EQ(blocksCovering(512 * 1024, -1).size(), 8u);
    EXPECT_EQ(blocksCovering(512 * 1024 + 1, -1).size(), 9u);
    EXPECT_TRUE(blocksCovering(0, -1).empty());
    // Into the boot region: 32 KB, 8 KB, 8 KB, then the top 16 KB.
    auto top = blocksCovering(0x1FA001, -1);
    EXPECT_EQ(described({top.end() - 3, top.end()}),
              (decltype(described(top)){{0, 31, 0x1F0000, 0x8000}, {0, 32, 0x1F8000, 0x2000}, {0, 33, 0x1FA000, 0x2000}}));

    // Two chips: chip 1's blocks from 0x200000 on, its own numbers; a skipped
    // chip has none.
    auto both = blocksCovering(4 * MIB, -1);
    ASSERT_EQ(both.size(), 70u);
    EXPECT_EQ(described({both[35]}), (decltype(described(both)){{1, 0, 0x200000, 0x10000}}));
    uint64_t bytes = 0;
    for (size_t i = 0; i < both.size(); i++) {
        bytes += both[i].size;
        if (i > 0) {
            EXPECT_EQ(both[i].start, both[i - 1].end()) << i;
        }
    }
    EXPECT_EQ(bytes, 4 * MIB);
    auto chip1 = blocksCovering(2 * MIB + 1, 0);
    EXPECT_EQ(described(chip1), (decltype(described(chip1)){{1, 0, 0x200000, 0x10000}}));
    EXPECT_EQ(blocksCovering(4 * MIB, 1).size(), 35u);

    // Smaller chips have fewer blocks; with none detected there are none.
    G_chipSize[0] = 4;
    auto small = blocksCovering(0x80000, -1);
    ASSERT_EQ(small.size(), 11u);
    EXPECT_EQ(small.back().end(), 0x80000u);
    G_chipSize[0] = 0;
    EXPECT_TRUE(blocksCovering(MIB, -1).empty());
}

TEST_F(FlashBlocksTest, AddressRangesMergeNeighboursAndAnswerAtTheirEdges)
{
    G_chipSize[0] = 16;
    auto blocks = blocksCovering(4 * MIB, -1);
    // Chip 0's top block and chip 1's first join across the chips' boundary;
    // block 2 stands alone; given out of order.
    AddressRanges r({blocks[36], blocks[2], blocks[35], blocks[34]});
    EXPECT_EQ(r.spans(), (std::vector<AddressRanges::Span>{{0x20000, 0x30000}, {0x1FC000, 0x220000}}));
    EXPECT_EQ(r.bytesBelow(UINT32_MAX), 0x10000u + 0x24000u);
    EXPECT_EQ(r.bytesBelow(0x200100), 0x10000u + 0x4100u);
    EXPECT_EQ(r.bytesBelow(0x20000), 0u);
    const struct { uint32_t at; bool in; uint32_t end; } probes[] = {
        {0, false, 0x20000},        {0x1FFFF, false, 0x20000}, {0x20000, true, 0x30000},
        {0x2FFFF, true, 0x30000},   {0x30000, false, 0x1FC000}, {0x1FFFFF, true, 0x220000},
        {0x220000, false, UINT32_MAX}};
    for (const auto& p : probes) {
        EXPECT_EQ(r.contains(p.at), p.in) << std::hex << p.at;
        EXPECT_EQ(r.runEnd(p.at), p.end) << std::hex << p.at;
    }
    AddressRanges none;
    EXPECT_FALSE(none.contains(0));
    EXPECT_EQ(none.runEnd(0), UINT32_MAX);
}

// ---- One block erased ------------------------------------------------------------

TEST_F(FlashBlocksTest, ABlockEraseClearsItsBlockAlone)
{
    insert("flash4");
    sim::setEraseTimes(0.01, 1.0);
    const Bytes before = sim::cartImage();
    sim::Mark m = sim::mark();
    EXPECT_EQ(eraseBlock(0x7A123, 0, BLOCK_ERASE_LIMIT_S, report), BlockEraseResult::Erased);
    // The command's six cycles, the last at the address given.
    auto writes = sim::hostWritesSince(m);
    ASSERT_EQ(writes.size(), 6u);
    EXPECT_EQ(std::make_tuple(writes[5].address, writes[5].value), std::make_tuple(0x7A123u, uint8_t(0x30)));
    EXPECT_GT(report.breaths, 0) << "the wait let the face breathe";
    EXPECT_TRUE(allErased(0, 0x7A000, 0x2000));
    EXPECT_EQ(chipBytes(0, 0, 0x7A000), slice(before, 0, 0x7A000));
    EXPECT_EQ(chipBytes(0, 0x7C000, 0x4000), slice(before, 0x7C000, 0x4000));
    EXPECT_TRUE(report.lines.empty());
}

// How a block that will not erase is told apart, and that none of them hangs.
TEST_F(FlashBlocksTest, BlocksThatWillNotEraseAreToldApart)
{
    const struct { const char* what; std::function<void()> fault; BlockEraseResult result; } cases[] = {
        {"protected", [] { sim::chip(0).setBlockProtected(3, true); }, BlockEraseResult::NotErased},
        {"ignores erase", [] { sim::chipIgnoresErase(0); }, BlockEraseResult::NotErased},
        {"never ends", [] { sim::chipEraseNeverEnds(0); }, BlockEraseResult::TimedOut},
        {"link gone", [] { sim::unplugAfterTransfers(3); }, BlockEraseResult::LinkFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        closeLink();
        sim::reset();
        ASSERT_TRUE(openLink());
        insert("flash4");
        sim::chip(0).poke(0x30000, 0x12);
        const Bytes block = chipBytes(0, 0x30000, 0x10000);
        c.fault();
        double start = sim::clockSeconds();
        EXPECT_EQ(eraseBlock(0x30000, 0, BLOCK_ERASE_LIMIT_S, report), c.result);
        EXPECT_LT(sim::clockSeconds() - start, BLOCK_ERASE_LIMIT_S + 1.0);
        if (c.result == BlockEraseResult::TimedOut) {
            EXPECT_GT(sim::clockSeconds() - start, BLOCK_ERASE_LIMIT_S);
        } else {
            EXPECT_EQ(chipBytes(0, 0x30000, 0x10000), block);
        }
    }
}

// ---- The cartridge read back against the file ----------------------------------

// A block differs by one byte anywhere in it, the last included; bytes past
// the ROM's end do not count, nor do blocks past it.
TEST_F(FlashBlocksTest, ChangedBlocksAreTheOnesThatDiffer)
{
    insert("flash4");
    Bytes rom = slice(sim::cartImage(), 0, 0x7B000);  // ends inside block 9
    rom[0x1FFFF] ^= 0x01;                              // block 1's last byte
    rom[0x20000] ^= 0x01;                              // block 2's first
    rom[0x7AFFF] ^= 0x80;                              // the ROM's last byte
    sim::cartPoke(0x7B000, 0x00);                      // past the ROM
    auto blocks = blocksCovering(uint32_t(rom.size()), -1);
    ASSERT_EQ(blocks.size(), 10u);
    std::vector<bool> changed;
    sim::Mark m = sim::mark();
    EXPECT_EQ(findChangedBlocks(romFile(rom), uint32_t(rom.size()), blocks, &changed, report),
              ReadBackResult::Done);
    EXPECT_EQ(changed, (std::vector<bool>{false, true, true, false, false, false, false, false, false, true}));
    // Requests of 8 KiB at most, nothing read past the ROM's end, and a
    // block's reading stopped at its first difference: block 2 after 8 KiB.
    uint32_t read = 0;
    for (const Command& c : commandsSince(m, CMD_READ64XN)) {
        EXPECT_LE(c.count, 128);
        read += c.count * 64;
    }
    EXPECT_EQ(read, 0x7B000u - 0x10000u + 0x2000u);
    EXPECT_TRUE(sim::hostWritesSince(m).empty()) << "reading must not write";
    EXPECT_TRUE(report.lines.empty());
}

TEST_F(FlashBlocksTest, ReadingBackStopsOnCancelOrAFailedRead)
{
    insert("bung");
    Bytes rom = sim::cartImage();
    auto blocks = blocksCovering(4 * MIB, -1);
    std::vector<bool> changed;
    report.cancelAtBreath(3);
    sim::Mark m = sim::mark();
    EXPECT_EQ(findChangedBlocks(romFile(rom), 4 * MIB, blocks, &changed, report), ReadBackResult::Cancelled);
    EXPECT_EQ(commandsSince(m, CMD_READ64XN).size(), 2u) << "one request per breath, none after Cancel";

    report = RecordingReporter();
    sim::timeoutOnTransfer(4);
    Differences d;
    EXPECT_EQ(compareWithCart(romFile(rom), 4 * MIB, AddressRanges(blocks), &d, report), ReadBackResult::Failed);
    EXPECT_TRUE(linesAre(report.lines, TIMED_OUT));
}

// The first differing address and the count, across the chips' boundary;
// only the ranges asked for are read.
TEST_F(FlashBlocksTest, ComparingNamesTheFirstDifferenceAndCountsThemAll)
{
    insert("bung");
    Bytes rom = sim::cartImage();
    auto blocks = blocksCovering(4 * MIB, -1);
    AddressRanges ranges({blocks[34], blocks[35]});
    Differences d;
    EXPECT_EQ(compareWithCart(romFile(rom), 4 * MIB, ranges, &d, report), ReadBackResult::Done);
    EXPECT_EQ(d.count, 0u);

    sim::cartPoke(0x100, uint8_t(~rom[0x100]));  // outside the ranges
    sim::cartPoke(0x1FFFFF, uint8_t(~rom[0x1FFFFF]));
    sim::cartPoke(0x200000, uint8_t(~rom[0x200000]));
    sim::cartPoke(0x20FFFF, uint8_t(~rom[0x20FFFF]));
    sim::Mark m = sim::mark();
    EXPECT_EQ(compareWithCart(romFile(rom), 4 * MIB, ranges, &d, report), ReadBackResult::Done);
    EXPECT_EQ(std::make_tuple(d.count, d.first), std::make_tuple(3u, 0x1FFFFFu));
    uint32_t read = 0;
    for (const Command& c : commandsSince(m, CMD_READ64XN))
        read += c.count * 64;
    EXPECT_EQ(read, 0x4000u + 0x10000u);
}

}  // namespace
