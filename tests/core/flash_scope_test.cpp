// Flash ROM(s) with each erase scope and verify after writing: the log, what
// the linker was told to erase and program, and every byte of the cartridge.
#include <unistd.h>

#include <set>

#include "core/jobs/jobs.h"
#include "core/link/protocol.h"
#include "core/link/linker.h"
#include "support/core_job.h"
#include "support/sim_job.h"

namespace {

const uint32_t MIB = 0x100000;
const char* const DONE = "Flashing done.";
const char* const ABORTED = "Flashing aborted. Cart status unknown.";

WriteSettings settings(EraseScope scope, int n = 512, uint8_t turbo = TURBO_OFF, int skip = -1)
{
    return WriteSettings{turbo, n, skip, scope, true};
}

// Blocks as the simulator lays them out (not the program): chip, number.
using Block = std::pair<int, int>;

Block blockAt(uint32_t cart)
{
    int chip = cart >= 2 * MIB;
    return {chip, sim::blockContaining(sim::chip(chip).size(), cart % (2 * MIB))};
}

uint32_t cartStart(Block b)
{
    return b.first * 2 * MIB + sim::blockStart(sim::chip(b.first).size(), b.second);
}

uint32_t cartEnd(Block b)
{
    return cartStart(b) + sim::blockLength(sim::chip(b.first).size(), b.second);
}

// `before` with these blocks given the ROM's bytes: past the ROM's end
// they keep theirs, erased and programmed back.
Bytes rewritten(Bytes before, const Bytes& rom, const std::set<Block>& blocks)
{
    for (const Block& b : blocks)
        for (uint32_t i = cartStart(b); i < cartEnd(b) && i < rom.size(); i++)
            before[i] = rom[i];
    return before;
}

// From the commands the linker received: the blocks erased one by one (0x30
// after the second unlock), chip erases counted as block -1, and the blocks
// bytes were programmed into (flash writes, or the write after a program
// command 0xA0 that is not itself data).
std::vector<Block> erasedBlocks(sim::Mark m)
{
    std::vector<Block> out;
    auto w = commandsSince(m, CMD_WRITE);
    for (size_t i = 1; i < w.size(); i++)
        if (w[i - 1].addr == 0x2AAA && w[i - 1].value == 0x55 && (w[i].value == 0x30 || w[i].value == 0x10))
            out.push_back(w[i].value == 0x10 ? Block{w[i].chip, -1} : blockAt(w[i].chip * 2 * MIB + w[i].addr));
    return out;
}

std::set<Block> programmedBlocks(sim::Mark m)
{
    std::set<Block> out;
    bool armed = false;
    for (const Command& c : commandsSince(m)) {
        uint32_t length = c.code == CMD_FLASH_WRITE64XN ? c.count * 64u : c.code == CMD_FLASH_WRITE_N ? c.count : 32u;
        bool data = c.code == CMD_WRITE && armed;
        if (c.code == CMD_WRITE)
            armed = !data && c.value == 0xA0;
        if (c.code == CMD_WRITE || c.code == CMD_READ || c.code == CMD_READ64XN)
            length = data ? 1 : 0;
        for (uint32_t a = c.addr; a < c.addr + length; a++)
            out.insert(blockAt(c.chip * 2 * MIB + a));
    }
    return out;
}

class FlashScopeTest : public CoreJobTest {
protected:
    void SetUp() override
    {
        CoreJobTest::SetUp();
        sim::setEraseTimes(0.001, 0.02);
    }
    bool flash(const Bytes& rom, const WriteSettings& s)
    {
        writeFile(scratch("game.ngp"), rom);
        report = RecordingReporter();
        return flashRom(scratch("game.ngp"), simJob(report, s));
    }
    void oneScope(const char* cart, uint32_t size, EraseScope scope);
};

// The ROM ends inside a block (on chip 1 of a two-chip cartridge). Whole
// chips: each chip it reaches erased whole. The ROM's blocks: those erased
// and written, everything past them as it was. Changed blocks: three blocks
// differ (the last one partly past the ROM); only they are touched. Verify's
// line counts the bytes written and stands just before "Flashing done.".
void FlashScopeTest::oneScope(const char* cart, uint32_t size, EraseScope scope)
{
    sim::insertCart(cart);
    Bytes rom = pattern(size, size);
    std::set<Block> touched = {blockAt(0), blockAt(0x20000), blockAt(size - 1)}, all;
    for (uint32_t a = 0; a < size; a = cartEnd(blockAt(a)))
        all.insert(blockAt(a));
    if (scope == EraseScope::ChangedBlocks) {
        Bytes image = rewritten(sim::cartImage(), rom, all);
        for (const Block& b : touched)
            image[cartStart(b) + 5] ^= 0x5A;
        sim::loadImage(image);
    } else {
        touched = all;
    }
    const Bytes before = sim::cartImage();
    uint32_t verified = 0;
    for (const Block& b : touched)
        verified += std::min(cartEnd(b), size) - cartStart(b);
    sim::Mark m = sim::mark();
    EXPECT_TRUE(flash(rom, settings(scope)));

    // With changed blocks only, the count and the bar are of the bytes written.
    uint32_t wrote = scope == EraseScope::ChangedBlocks ? verified : size;
    Lines tail = {"Flashing 'game.ngp'", "Wrote " + std::to_string(wrote) + " bytes in {s} seconds",
                  "Verify after writing: all " + std::to_string(verified) + " bytes match.", DONE};
    if (scope == EraseScope::ChangedBlocks)
        tail.push_back("Blocks rewritten: 3, already right: " + std::to_string(all.size() - 3) + ".");
    Lines own = beforeIdentity(report.lines);
    EXPECT_TRUE(linesAre(Lines(own.begin() + 4, own.end()), tail));
    EXPECT_EQ(report.titles.back(), "Verifying Cartridge");
    auto writing = std::find(report.titles.begin(), report.titles.end(), "Writing Cartridge");
    ASSERT_NE(writing, report.titles.end());
    size_t bar = size_t(writing - report.titles.begin());
    EXPECT_EQ(report.totals[bar], wrote);
    ASSERT_LT(bar + 1, report.firstFraction.size());
    EXPECT_GE(report.fractions[report.firstFraction[bar + 1] - 1], 0.9f);
    std::vector<Block> erased = erasedBlocks(m);
    if (scope == EraseScope::WholeChips) {
        std::vector<Block> chips = {{0, -1}, {1, -1}};
        EXPECT_EQ(erased, size > 2 * MIB ? chips : std::vector<Block>{chips[0]});
        Bytes want = rom;
        want.resize(size > 2 * MIB ? before.size() : sim::chip(0).size(), 0xFF);
        want.insert(want.end(), before.begin() + long(want.size()), before.end());
        EXPECT_TRUE(sim::cartImage() == want);
        return;
    }
    // Each block once; the two chips' blocks go out interleaved.
    EXPECT_EQ(std::set<Block>(erased.begin(), erased.end()), touched);
    EXPECT_EQ(erased.size(), touched.size());
    EXPECT_TRUE(sim::cartImage() == rewritten(before, rom, touched));
    EXPECT_EQ(programmedBlocks(m), touched);
}

TEST_F(FlashScopeTest, EachScopeOnAOneChipCartridge)
{
    for (EraseScope scope : {EraseScope::WholeChips, EraseScope::RomBlocks, EraseScope::ChangedBlocks})
        oneScope("flash8", 0x32000 + 123, scope);
}

// One test each on two chips, so that they can run side by side.
TEST_F(FlashScopeTest, WholeChipsOnATwoChipCartridge)
{
    oneScope("bung", 2 * MIB + 0x11800, EraseScope::WholeChips);
}

TEST_F(FlashScopeTest, RomBlocksOnATwoChipCartridge)
{
    oneScope("bung", 2 * MIB + 0x11800, EraseScope::RomBlocks);
}

TEST_F(FlashScopeTest, ChangedBlocksOnATwoChipCartridge)
{
    oneScope("bung", 2 * MIB + 0x11800, EraseScope::ChangedBlocks);
}

// Every write method programs only the blocks that differ (here the small
// ones at the top of a 4 Mbit chip); a skipped chip is neither read nor
// written, though it differs.
TEST_F(FlashScopeTest, ChangedBlocksWithEveryWriteMethodAndASkippedChip)
{
    const uint32_t size = 0x7A000 + 1001;  // into block 9, 8 KB at 0x7A000
    const Bytes rom = pattern(size, 77);
    for (auto [n, turbo] : {std::pair(1, TURBO_OFF), {1, TURBO_ON}, {3, TURBO_OFF}, {32, TURBO_ON}, {192, TURBO_OFF}}) {
        SCOPED_TRACE(n * 10 + turbo);
        sim::insertCart("flash4");
        Bytes image = rom + slice(sim::cartImage(), size, 0x80000 - size);
        image[0x79FFF] ^= 1;
        image[size - 1] ^= 1;
        sim::loadImage(image);
        sim::Mark m = sim::mark();
        EXPECT_TRUE(flash(rom, settings(EraseScope::ChangedBlocks, n, turbo)));
        EXPECT_EQ(beforeIdentity(report.lines).back(), "Blocks rewritten: 2, already right: 8.");
        EXPECT_EQ(programmedBlocks(m), (std::set<Block>{{0, 8}, {0, 9}}));
        EXPECT_TRUE(sim::cartImage() == rewritten(image, rom, {{0, 8}, {0, 9}}));
    }

    sim::insertCart("bung");
    Bytes two = sim::cartImage();
    two.resize(2 * MIB + 5000);
    two[5] ^= 1;
    two.back() ^= 1;
    sim::Mark m = sim::mark();
    EXPECT_TRUE(flash(two, settings(EraseScope::ChangedBlocks, 512, TURBO_OFF, 0)));
    EXPECT_EQ(beforeIdentity(report.lines).back(), "Blocks rewritten: 1, already right: 0.");
    for (const Command& c : commandsSince(m))
        EXPECT_FALSE((c.code == CMD_READ64XN || c.code == CMD_FLASH_WRITE64XN) && c.chip == 0) << std::hex << c.addr;
    EXPECT_EQ(sim::cartPeek(5), uint8_t(two[5] ^ 1));
    EXPECT_EQ(sim::cartPeek(uint32_t(two.size() - 1)), two.back());
}

// A byte the chip never programs in turbo mode, where nothing is read back:
// the chip answers with its status from then on (no 0xF0 byte follows to
// reset it) or, reset by one, ignores the rest. The write itself finds it
// within the block, names it and never ends done, with or without verify,
// in every scope; on chip 0 of a 4 MiB ROM too, and among changed blocks.
TEST_F(FlashScopeTest, TurboNamesTheByteThatDidNotTake)
{
    Bytes small = pattern(3000, 9);
    small[0x123] = 0x00;
    std::replace(small.begin(), small.end(), uint8_t(0xF0), uint8_t(0xF1));
    const Bytes big = pattern(4 * MIB, 3);
    const Lines chip0 = {"Not able to program block 0 of chip 0!", ABORTED};
    const struct { const char* cart; const Bytes& rom; uint32_t stuck; EraseScope scope; bool verify; Lines tail; } cases[] = {
        {"flash8", small, 0x123, EraseScope::WholeChips, true, {"Writing addr 0x000123 failed!", ABORTED}},
        {"flash8", small, 0x123, EraseScope::RomBlocks, false, Lines{"Writing addr 0x000123 failed!"} + chip0},
        {"bung", big, 0x1000, EraseScope::WholeChips, false, {"Writing addr 0x001000 failed!", ABORTED}},
        {"bung", big, 0x2ABCD, EraseScope::ChangedBlocks, true,
         {"Writing addr 0x02ABCD failed!", "Not able to program block 2 of chip 0!", ABORTED}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail[0] + std::to_string(int(c.scope)));
        sim::insertCart(c.cart);
        if (c.scope == EraseScope::ChangedBlocks) {
            Bytes image = c.rom;
            image[0x2ABCD] ^= 0x10;
            sim::loadImage(image);
        }
        sim::byteNeverPrograms(0, c.stuck);
        uint64_t programmed = sim::counters().bytesProgrammed;
        EXPECT_FALSE(flash(c.rom, WriteSettings{TURBO_ON, 1, -1, c.scope, c.verify}));
        EXPECT_TRUE(linesAre(Lines(report.lines.end() - long(c.tail.size()), report.lines.end()), c.tail));
        EXPECT_EQ(std::count(report.lines.begin(), report.lines.end(), DONE), 0);
        // Stopped at the end of the block, not 4 MiB later; what came before the byte holds.
        EXPECT_LT(sim::counters().bytesProgrammed - programmed, 0x10000u);
        EXPECT_TRUE(slice(sim::cartImage(), 0, c.stuck) == slice(c.rom, 0, c.stuck));
        sim::clearFaults();
    }
}

// A byte that changes between writing and verify: the verify line is the
// last one, so `tail -n 1` says why, with changed blocks only too.
TEST_F(FlashScopeTest, AFailedVerifyIsTheLastLine)
{
    sim::insertCart("flash4");
    Bytes rom = slice(sim::cartImage(), 0, 0x23456);
    rom[0x20010] ^= 0x01;
    for (EraseScope scope : {EraseScope::ChangedBlocks, EraseScope::RomBlocks}) {
        SCOPED_TRACE(int(scope));
        writeFile(scratch("game.ngp"), rom);
        report = RecordingReporter();
        report.onBegin = [&rom](const std::string& title) {
            if (title == "Verifying Cartridge")
                sim::cartPoke(0x20011, uint8_t(~rom[0x20011]));
        };
        EXPECT_FALSE(flashRom(scratch("game.ngp"), simJob(report, settings(scope))));
        ASSERT_GE(report.lines.size(), 2u);
        EXPECT_EQ(Lines(report.lines.end() - 2, report.lines.end()),
                  (Lines{"Verify after writing failed:", std::string("1 of ") +
                                                             (scope == EraseScope::RomBlocks ? "144470" : "13398") +
                                                             " bytes differ, first at 0x020011."}));
    }
}

// A block that will not erase (however it refuses, within a bound) or
// program is named and the job aborted; a chip with a protected block is
// refused with nothing erased, as with whole chips.
TEST_F(FlashScopeTest, BlocksThatWillNotEraseOrProgramAndProtectedChips)
{
    const Lines notErased = {"Not able to erase block 0 of chip 0!", ABORTED};
    auto unplugWhileErasing = [](RecordingReporter& r) {
        r.onBreath = [&r](int) {
            if (r.titles.back() == "Erasing Cartridge")
                sim::unplugAfterTransfers(0);
        };
    };
    const struct { std::function<void(RecordingReporter&)> fault; EraseScope scope; Lines lines; } cases[] = {
        {[](RecordingReporter&) { sim::chipIgnoresErase(0); }, EraseScope::RomBlocks, notErased},
        {[](RecordingReporter&) { sim::chipEraseNeverEnds(0); }, EraseScope::ChangedBlocks, notErased},
        {unplugWhileErasing, EraseScope::RomBlocks, GONE + Lines{ABORTED}},
        {[](RecordingReporter&) { sim::byteNeverPrograms(0, 0x31334); }, EraseScope::RomBlocks,
         {"flash_write_64xN_bytes: processed 4 packets, but sent 8", "Not able to program block 3 of chip 0!", ABORTED}},
        {[](RecordingReporter&) { sim::chip(0).setBlockProtected(9, true); }, EraseScope::ChangedBlocks,
         {"Chip 0 has protected blocks: not flashable.", "An official cartridge? Nothing was erased."}},
    };
    writeFile(scratch("game.ngp"), pattern(0x40000, 11));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines[c.lines.size() - 2 + (c.lines.size() == 1)]);
        report = RecordingReporter();
        closeLink();
        sim::reset();
        ASSERT_TRUE(openLink(report));
        sim::setEraseTimes(0.001, 0.02);
        sim::insertCart("flash8");
        c.fault(report);
        sim::Mark m = sim::mark();
        EXPECT_FALSE(flashRom(scratch("game.ngp"), simJob(report, settings(c.scope))));
        Lines own = beforeIdentity(report.lines);
        EXPECT_TRUE(linesAre(Lines(own.end() - long(c.lines.size()), own.end()), c.lines));
        EXPECT_LT(sim::clockSeconds(), 60.0) << "the wait was not bounded";
        if (c.lines.size() < 3) {
            EXPECT_TRUE(programmedBlocks(m).empty());
        }
    }
}

// Cancel while reading before writing, or between the blocks of an erase
// (the block under way is finished): nothing is written, the job says so.
TEST_F(FlashScopeTest, CancelWhileReadingOrErasingBlocks)
{
    sim::insertCart("bung");
    const Bytes before = sim::cartImage();
    report = RecordingReporter();
    report.cancelAtBreath(5);
    writeFile(scratch("game.ngp"), pattern(3 * MIB));
    sim::Mark m = sim::mark();
    EXPECT_FALSE(flashRom(scratch("game.ngp"), simJob(report, settings(EraseScope::ChangedBlocks))));
    EXPECT_EQ(report.lines.back(), "Flashing cancelled; the cart is unchanged.");
    EXPECT_EQ(report.titles, std::vector<std::string>{"Reading Cartridge"});
    EXPECT_TRUE(erasedBlocks(m).empty());
    EXPECT_TRUE(programmedBlocks(m).empty());
    EXPECT_TRUE(sim::cartImage() == before);

    sim::setEraseTimes(0.05, 0.02);
    m = sim::mark();
    report = RecordingReporter();
    report.onBreath = [&](int) { report.cancelled = erasedBlocks(m).size() == 2; };
    EXPECT_FALSE(flashRom(scratch("game.ngp"), simJob(report, settings(EraseScope::RomBlocks))));
    EXPECT_TRUE(linesAre(Lines(report.lines.end() - 3, report.lines.end()),
                         {"Flashing cancelled: 2 of 51 blocks erased.", "Chip 0: 1 of 35 blocks erased.",
                          "Chip 1: 1 of 16 blocks erased."}));
    EXPECT_EQ(erasedBlocks(m), (std::vector<Block>{{0, 0}, {1, 0}}));
    EXPECT_TRUE(programmedBlocks(m).empty());
    EXPECT_TRUE(allErased(0, 0, 0x10000) && allErased(1, 0, 0x10000));
}

// Cancel while the ROM's last block erases, the block partly past the ROM's
// end: the erase is let finish, and the bytes past the ROM's end go back
// before the job stops.
TEST_F(FlashScopeTest, CancelDuringTheLastBlocksEraseKeepsTheBytesPastTheRom)
{
    for (EraseScope scope : {EraseScope::RomBlocks, EraseScope::ChangedBlocks}) {
        sim::insertCart("flash8");
        sim::loadImage(pattern(sim::cartImage().size(), 7));
        Bytes expected = sim::cartImage();
        std::fill(expected.begin(), expected.begin() + 0x12345, 0xFF);
        writeFile(scratch("game.ngp"), pattern(0x12345, 3));
        sim::setEraseTimes(0.05, 0.02);
        sim::Mark m = sim::mark();
        report = RecordingReporter();
        report.onBreath = [&](int) { report.cancelled = erasedBlocks(m).size() == 2; };
        EXPECT_FALSE(flashRom(scratch("game.ngp"), simJob(report, settings(scope))));
        EXPECT_EQ(report.lines.back(), "Flashing cancelled: 2 of 2 blocks erased.");
        EXPECT_TRUE(sim::cartImage() == expected) << int(scope);
    }
}

// The bytes past the ROM's end, in its last block, while they are written
// back: a transfer that fails is made good, a cell that does not take is
// named with the copy that puts the bytes back, and the job ends without
// blaming a block for a linker that went or a file that shrank.
TEST_F(FlashScopeTest, TheBytesPastTheRomAreNotLostToOneFault)
{
    const uint32_t romSize = 0x12345;  // in block 1: 0x10000 to 0x1FFFF
    const Bytes rom = pattern(romSize, 3);
    const char* const WRITING_BACK = "the write-back under way";
    const struct { const char* what; std::function<void()> fault; const char* at; Lines lines; } cases[] = {
        {"a failed transfer", [] { sim::timeoutOnTransfer(1); }, WRITING_BACK, {DONE}},
        {"a bad cell", [] { sim::byteNeverPrograms(0, 0x18000); }, WRITING_BACK,
         {"1 bytes past the ROM did not take:", "0x018000.", "Saves holds the copy that puts them back:", "", ABORTED}},
        {"a file that shrinks", [this] { truncate(scratch("game.ngp").c_str(), 0x8000); }, "Writing Cartridge",
         {"'game.ngp' ended early, at byte 32768;", "it had 74565 bytes when the flash began.", ABORTED}},
        {"an unplug", [] { sim::unplugAfterTransfers(0); }, "Writing Cartridge", GONE + Lines{ABORTED}},
    };
    Bytes before;
    std::string copy;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const bool badCell = c.lines.size() == 5;
        sim::clearFaults();
        sim::insertCart("flash8");
        sim::loadImage(pattern(sim::cartImage().size(), 7));
        before = sim::cartImage();
        writeFile(scratch("game.ngp"), rom);
        report = RecordingReporter();
        auto strike = [&](const std::string& title) {
            if (title == c.at)
                c.fault();
        };
        if (c.at == WRITING_BACK) {
            // Once the write-back has programmed its first bytes: the next
            // transfer is its own.
            uint64_t programmed = sim::counters().bytesProgrammed;
            report.onBreath = [&c, programmed, struck = false](int) mutable {
                if (!struck && sim::counters().bytesProgrammed > programmed)
                    (struck = true, c.fault());
            };
        }
        report.onBegin = strike;
        bool done = flashRom(scratch("game.ngp"), simJob(report, settings(EraseScope::RomBlocks)));
        EXPECT_EQ(done, c.lines.front() == DONE);
        Lines own = beforeIdentity(report.lines);
        ASSERT_GE(own.size(), c.lines.size());
        Lines last(own.end() - long(c.lines.size()), own.end());
        if (badCell) {
            copy = last[3].substr(1, last[3].size() - 2);
            last[3] = "";  // the copy's path, written back below
        }
        EXPECT_TRUE(linesAre(last, c.lines));
        if (c.at == WRITING_BACK) {
            EXPECT_TRUE(std::count(report.lines.begin(), report.lines.end(), "Error: LIBUSB_ERROR_TIMEOUT") == !badCell);
        }
        if (std::string(c.what) == "an unplug")
            break;  // the last: the linker is gone
        // Past the ROM, every byte as it was but the bad cell.
        Bytes now = sim::cartImage();
        for (uint32_t a = romSize; a < 0x20000; a++) {
            if (a != 0x18000 || !badCell) {
                ASSERT_EQ(now[a], before[a]) << std::hex << a;
            }
        }
        EXPECT_TRUE(Bytes(now.begin() + 0x20000, now.end()) == Bytes(before.begin() + 0x20000, before.end()));
    }

    // The bad cell's copy, written back as printed once the cell takes
    // again, leaves the block as the flash meant it: the ROM, then the bytes
    // that were there.
    closeLink();
    sim::reset();
    ASSERT_TRUE(openLink(report));
    sim::insertCart("flash8");
    SaveWriteRun run;
    ASSERT_TRUE(restoreSave(copy, true, &run, simJob(report)));
    Bytes want = rom;
    want.insert(want.end(), before.begin() + romSize, before.begin() + 0x20000);
    const Bytes now = sim::cartImage();
    EXPECT_TRUE(Bytes(now.begin() + 0x10000, now.begin() + 0x20000) == Bytes(want.begin() + 0x10000, want.end()));
}

// The bytes past the ROM are read until two reads agree before their block
// is erased: one misread never goes back onto the cartridge, and bytes that
// never read the same twice stop the flash with nothing erased.
TEST_F(FlashScopeTest, TheBytesPastTheRomAreReadForSure)
{
    const struct { std::function<void()> fault; bool done; } cases[] = {
        {[] { sim::misreadOnce(0x15000); }, true},
        {[] { sim::neverReadsTrue(0x15000); }, false},
    };
    for (const auto& c : cases) {
        sim::clearFaults();
        sim::insertCart("flash8");
        sim::loadImage(pattern(sim::cartImage().size(), 7));
        const Bytes before = sim::cartImage();
        writeFile(scratch("game.ngp"), pattern(0x12345, 3));
        c.fault();
        sim::Mark m = sim::mark();
        report = RecordingReporter();
        EXPECT_EQ(flashRom(scratch("game.ngp"), simJob(report, settings(EraseScope::RomBlocks))), c.done);
        sim::clearFaults();
        const Bytes now = sim::cartImage();
        if (c.done) {
            EXPECT_TRUE(Bytes(now.begin() + 0x12345, now.end()) == Bytes(before.begin() + 0x12345, before.end()));
        } else {
            EXPECT_TRUE(linesAre(Lines(report.lines.end() - 3, report.lines.end()),
                                 {"The bytes past the ROM read differently", "each time: clean the contacts.",
                                  "Flashing aborted; the cart is unchanged."}));
            EXPECT_TRUE(erasedBlocks(m).empty());
        }
    }
}

// The ROM's blocks on two chips erase at once: the erase takes about the
// time of the chip with more blocks, not of both. A ROM that ends early in chip 1
// keeps every byte past its end. When chip 0 will not erase, chip 1's block
// under way is let finish, each chip's count is said, and the bytes past
// the ROM in chip 1's erased block go back.
TEST_F(FlashScopeTest, TwoChipsEraseTheirBlocksAtOnce)
{
    const double blockErase = 0.2;
    const uint32_t chip0Blocks = 35;
    const struct { uint32_t size; int chip1Blocks; bool ignores0; Lines tail; } cases[] = {
        {3 * MIB + 0x1234, 17, false, {DONE}},
        {2 * MIB + 0x1234, 1, true,
         {"Not able to erase block 0 of chip 0!", "Chip 0: 0 of 35 blocks erased.", "Chip 1: 1 of 1 blocks erased.",
          ABORTED}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        sim::clearFaults();
        sim::insertCart("bung");
        sim::loadImage(pattern(sim::cartImage().size(), 7));
        sim::setEraseTimes(blockErase, 0.02);
        if (c.ignores0)
            sim::chipIgnoresErase(0);
        const Bytes before = sim::cartImage(), rom = pattern(c.size, 5);
        double began = 0, ended = 0;
        writeFile(scratch("game.ngp"), rom);
        report = RecordingReporter();
        report.onBegin = [&](const std::string& t) { began = t == "Erasing Cartridge" ? sim::clockSeconds() : began; };
        report.onEnd = [&](const std::string& t) { ended = t == "Erasing Cartridge" ? sim::clockSeconds() : ended; };
        sim::Mark m = sim::mark();
        EXPECT_EQ(flashRom(scratch("game.ngp"), simJob(report, settings(EraseScope::RomBlocks))), !c.ignores0);
        Lines own = beforeIdentity(report.lines);
        EXPECT_TRUE(linesAre(Lines(own.end() - long(c.tail.size()), own.end()), c.tail));
        Bytes want = before;
        if (c.ignores0) {
            std::fill(want.begin() + 2 * MIB, want.begin() + c.size, 0xFF);
        } else {
            std::copy(rom.begin(), rom.end(), want.begin());
            std::vector<Block> erased = erasedBlocks(m);
            EXPECT_EQ(erased.size(), chip0Blocks + c.chip1Blocks);
            // One after the other they would take 52 blocks' time; at once, 35
            // and the commands.
            EXPECT_LT(ended - began, (chip0Blocks + c.chip1Blocks / 2.0) * blockErase) << "one chip after the other";
        }
        EXPECT_TRUE(sim::cartImage() == want);
    }
}

// A chip of 4 or 8 Mbit erases whole quicker than block by block: when the
// ROM's blocks are all of its blocks, it is erased whole, and the bytes
// past the ROM in its top block still go back.
TEST_F(FlashScopeTest, AChipWhollyCoveredIsErasedWholeWhereThatIsQuicker)
{
    for (const char* cart : {"flash4", "flash8"}) {
        SCOPED_TRACE(cart);
        sim::insertCart(cart);
        sim::loadImage(pattern(sim::cartImage().size(), 7));
        const Bytes before = sim::cartImage();
        const Bytes rom = pattern(uint32_t(before.size()) - 0x1234, 5);
        sim::Mark m = sim::mark();
        EXPECT_TRUE(flash(rom, settings(EraseScope::RomBlocks)));
        EXPECT_EQ(erasedBlocks(m), std::vector<Block>{Block(0, -1)});
        EXPECT_TRUE(sim::cartImage() == rom + slice(before, rom.size(), 0x1234));
    }
}

}  // namespace
