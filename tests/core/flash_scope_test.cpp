// Flash ROM(s) with each erase scope and with verify after writing, on one-
// and two-chip cartridges: what the log says, what the linker was told to
// erase and program, and every byte of the cartridge afterwards.
#include <set>

#include "core/jobs/jobs.h"
#include "core/link/protocol.h"
#include "sim.h"
#include "support/core_job.h"

namespace {

const uint32_t KIB = 0x400;
const uint32_t MIB = 0x100000;
const char* const DONE = "Flashing done.";
const char* const ABORTED = "Flashing aborted. Cart status unknown.";

WriteSettings settings(EraseScope scope, bool verify = false, int n = 512, uint8_t turbo = TURBO_OFF, int skip = -1)
{
    WriteSettings s;
    s.eraseScope = scope;
    s.verifyAfterWrite = verify;
    s.writeN = n;
    s.turboMode = turbo;
    s.skipChip = skip;
    return s;
}

Lines smaller(uint32_t bytes, uint32_t flash)
{
    return {"ROM size of " + std::to_string(bytes) + " bytes is",
            "smaller than the flash size of " + std::to_string(flash) + " bytes."};
}

std::string wrote(uint32_t bytes)
{
    return "Wrote " + std::to_string(bytes) + " bytes in {s} seconds";
}

using Block = std::pair<int, int>;  // chip, block number

// The simulator's own layout, not the program's.
Block blockOf(int chip, uint32_t chipAddress)
{
    return {chip, sim::blockContaining(sim::chip(chip).size(), chipAddress)};
}

Block blockAt(uint32_t cartAddress)
{
    return blockOf(cartAddress >= 2 * MIB ? 1 : 0, cartAddress % (2 * MIB));
}

uint32_t cartStart(Block b)
{
    return b.first * 2 * MIB + sim::blockStart(sim::chip(b.first).size(), b.second);
}

uint32_t blockLength(Block b)
{
    return sim::blockLength(sim::chip(b.first).size(), b.second);
}

// The blocks holding any of the ROM's bytes.
std::set<Block> blocksOfRom(uint32_t size)
{
    std::set<Block> out;
    for (uint32_t a = 0; a < size; a = cartStart(blockAt(a)) + blockLength(blockAt(a)))
        out.insert(blockAt(a));
    return out;
}

// The cartridge `before` with these blocks erased and then given the ROM's bytes.
Bytes rewritten(Bytes before, const Bytes& rom, const std::set<Block>& blocks)
{
    for (const Block& b : blocks) {
        uint32_t at = cartStart(b);
        for (uint32_t i = at; i < at + blockLength(b); i++)
            before[i] = i < rom.size() ? rom[i] : 0xFF;
    }
    return before;
}

// The blocks the linker was told to erase one by one (the last cycle of a
// block erase is 0x30 to an address inside the block), and, if asked,
// whether a whole chip was (0x10 to 0x5555 after the second unlock).
std::vector<Block> blockErases(sim::Mark m, bool* chipErase)
{
    std::vector<Block> out;
    auto writes = commandsSince(m, CMD_WRITE);
    for (size_t i = 1; i < writes.size(); i++) {
        const Command& w = writes[i];
        if (writes[i - 1].value != 0x55 || writes[i - 1].addr != 0x2AAA)
            continue;
        if (w.value == 0x30)
            out.push_back(blockOf(w.chip, w.addr));
        if (w.value == 0x10 && w.addr == 0x5555 && chipErase)
            *chipErase = true;
    }
    return out;
}

// The blocks bytes were programmed into: by a flash-write command, or by a
// single write right after the program command 0xA0 (the byte methods).
std::set<Block> programmedBlocks(sim::Mark m)
{
    std::set<Block> out;
    bool armed = false;  // the last write was the program command, not data
    for (const Command& c : commandsSince(m)) {
        uint32_t length = c.code == CMD_FLASH_WRITE64XN ? c.count * 64u : c.code == CMD_FLASH_WRITE_N ? c.count : 32u;
        bool data = c.code == CMD_WRITE && armed;
        if (c.code == CMD_WRITE)
            armed = !data && c.value == 0xA0;
        if (data)
            length = 1;
        else if (c.code != CMD_FLASH_WRITE64XN && c.code != CMD_FLASH_WRITE_N && c.code != CMD_FLASH_WRITE_32)
            length = 0;
        for (uint32_t a = c.addr; a < c.addr + length; a++)
            out.insert(blockOf(c.chip, a));
    }
    return out;
}

// What the probe logs for the cartridge as it is now.
Lines probeLines(const Bytes& image)
{
    std::string name(image.begin() + 0x24, image.begin() + 0x30);
    name = name.substr(0, name.find('\0'));
    return {std::to_string(image.size() / 0x20000) + "mbit cart detected.", "ROM name: '" + name + "'"};
}

class FlashScopeTest : public CoreJobTest {
protected:
    void SetUp() override
    {
        CoreJobTest::SetUp();
        sim::setEraseTimes(0.001, 0.02);
    }
    // Flashes `rom` as game.ngp with a fresh reporter; the job's verdict.
    bool flash(const Bytes& rom, const WriteSettings& s)
    {
        writeFile(scratch("game.ngp"), rom);
        report = RecordingReporter();
        return flashRom(scratch("game.ngp"), s, report);
    }
    // Flashes a ROM of `size` bytes into `cart` with this scope.
    void oneScope(const char* cart, uint32_t size, EraseScope scope);
    sim::Mark mark_ = 0;
};

// ---- Each scope, byte for byte -------------------------------------------------

// The ROM ends inside a block, on chip 0 of a one-chip cartridge or on
// chip 1 of a two-chip one. Whole chips: each chip the ROM reaches erased
// whole. The ROM's blocks: those erased and written, every byte past them as
// it was. Changed blocks: the cartridge holds the ROM but for three blocks
// (the last one partly past the ROM, on chip 1 for the two-chip cartridge);
// only those are erased and programmed.
void FlashScopeTest::oneScope(const char* cart, uint32_t size, EraseScope scope)
{
    SCOPED_TRACE(std::string(cart) + " scope " + std::to_string(int(scope)));
    sim::insertCart(cart);
    Bytes rom = pattern(size, size);
    const std::set<Block> romBlocks = blocksOfRom(size);
    const std::set<Block> differing = {blockAt(0), blockAt(2 * 64 * KIB), blockAt(size - 1)};
    if (scope == EraseScope::ChangedBlocks) {
        Bytes image = sim::cartImage();
        std::copy(rom.begin(), rom.end(), image.begin());
        for (const Block& b : differing)
            image[cartStart(b) + 5] ^= 0x5A;
        sim::loadImage(image);
    }
    const Bytes before = sim::cartImage();
    const uint32_t flashSize = uint32_t(before.size());
    sim::Mark m = sim::mark();
    EXPECT_TRUE(flash(rom, settings(scope)));

    Lines tail = {"Flashing 'game.ngp'", wrote(size), DONE};
    if (scope == EraseScope::ChangedBlocks)
        tail.push_back("Blocks rewritten: 3, already right: " + std::to_string(romBlocks.size() - 3) + ".");
    EXPECT_TRUE(linesAre(report.lines, probeLines(before) + smaller(size, flashSize) + tail));

    bool chipErase = false;
    auto erased = blockErases(m, &chipErase);
    std::set<Block> erasedSet(erased.begin(), erased.end());
    EXPECT_EQ(erased.size(), erasedSet.size()) << "a block erased twice";
    if (scope == EraseScope::WholeChips) {
        EXPECT_TRUE(chipErase);
        Bytes want = rom;
        want.resize(size > 2 * MIB ? flashSize : sim::chip(0).size(), 0xFF);
        want.insert(want.end(), before.begin() + long(want.size()), before.end());
        EXPECT_TRUE(sim::cartImage() == want);
        return;
    }
    EXPECT_FALSE(chipErase);
    const std::set<Block>& touched = scope == EraseScope::RomBlocks ? romBlocks : differing;
    EXPECT_EQ(erasedSet, touched);
    EXPECT_TRUE(sim::cartImage() == rewritten(before, rom, touched));
    if (scope == EraseScope::ChangedBlocks) {
        EXPECT_EQ(programmedBlocks(m), differing);
    }
}

TEST_F(FlashScopeTest, EachScopeOnAOneChipCartridge)
{
    for (EraseScope scope : {EraseScope::WholeChips, EraseScope::RomBlocks, EraseScope::ChangedBlocks})
        oneScope("flash8", 200 * KIB + 123, scope);
}

// One test each on two chips, so that they can run side by side.
TEST_F(FlashScopeTest, WholeChipsOnATwoChipCartridge)
{
    oneScope("bung", 2 * MIB + 70 * KIB, EraseScope::WholeChips);
}

TEST_F(FlashScopeTest, RomBlocksOnATwoChipCartridge)
{
    oneScope("bung", 2 * MIB + 70 * KIB, EraseScope::RomBlocks);
}

TEST_F(FlashScopeTest, ChangedBlocksOnATwoChipCartridge)
{
    oneScope("bung", 2 * MIB + 70 * KIB, EraseScope::ChangedBlocks);
}

// Changed blocks with every write method, and with a chip skipped: only the
// blocks that differ are programmed, and the cartridge ends up holding the
// ROM. The ROM ends in the small blocks at the top of a 4 Mbit chip.
TEST_F(FlashScopeTest, ChangedBlocksWithEveryWriteMethodAndASkippedChip)
{
    const struct { int n; uint8_t turbo; } methods[] = {{1, TURBO_OFF}, {1, TURBO_ON}, {3, TURBO_OFF}, {32, TURBO_ON}, {192, TURBO_OFF}};
    const uint32_t size = 0x7A000 + 1001;  // into block 9, 8 KB at 0x7A000
    Bytes rom = pattern(size, 77);
    for (const auto& m : methods) {
        SCOPED_TRACE("write_N " + std::to_string(m.n) + " turbo " + std::to_string(m.turbo));
        sim::insertCart("flash4");
        Bytes image = sim::cartImage();
        std::copy(rom.begin(), rom.end(), image.begin());
        image[0x79FFF] ^= 1;    // block 8's last byte
        image[size - 1] ^= 1;   // the ROM's last byte, in block 9
        sim::loadImage(image);
        sim::Mark mark = sim::mark();
        EXPECT_TRUE(flash(rom, settings(EraseScope::ChangedBlocks, true, m.n, m.turbo)));
        EXPECT_EQ(report.lines.back(), "Blocks rewritten: 2, already right: 8.");
        EXPECT_EQ(programmedBlocks(mark), (std::set<Block>{{0, 8}, {0, 9}}));
        EXPECT_TRUE(sim::cartImage() == rewritten(image, rom, {{0, 8}, {0, 9}}));
        EXPECT_TRUE(slice(sim::cartImage(), 0, size) == rom);
    }

    // Chip 0 skipped: it is neither read, erased nor written, though it differs.
    sim::insertCart("bung");
    Bytes two = pattern(2 * MIB + 5000, 78);
    Bytes image = sim::cartImage();
    std::copy(two.begin() + 2 * MIB, two.end(), image.begin() + 2 * MIB);
    image[2 * MIB + 4999] ^= 1;
    sim::loadImage(image);
    sim::Mark mark = sim::mark();
    EXPECT_TRUE(flash(two, settings(EraseScope::ChangedBlocks, false, 512, TURBO_OFF, 0)));
    EXPECT_EQ(report.lines.back(), "Blocks rewritten: 1, already right: 0.");
    for (const Command& c : commandsSince(mark)) {
        if (c.code == CMD_READ64XN || c.code == CMD_FLASH_WRITE64XN) {
            EXPECT_EQ(c.chip, 1) << std::hex << c.addr;
        }
    }
    EXPECT_TRUE(sim::cartImage() == rewritten(image, two, {{1, 0}}));
}

// A cartridge that already holds the ROM is read, and nothing else happens.
TEST_F(FlashScopeTest, NothingChangedNothingWritten)
{
    sim::insertCart("flash8");
    Bytes rom = slice(sim::cartImage(), 0, 300 * KIB);
    sim::Mark m = sim::mark();
    EXPECT_TRUE(flash(rom, settings(EraseScope::ChangedBlocks, true)));
    EXPECT_TRUE(linesAre(Lines(report.lines.end() - 5, report.lines.end()),
                         {"Flashing 'game.ngp'", wrote(300 * KIB), "Verify after writing: all 0 bytes match.", DONE,
                          "Blocks rewritten: 0, already right: 5."}));
    for (const Command& c : commandsSince(m))
        EXPECT_TRUE(c.code == CMD_READ || c.code == CMD_READ64XN || (c.code == CMD_WRITE && c.addr >= 0x2AAA))
            << int(c.code) << " at " << std::hex << c.addr;
    EXPECT_EQ(report.titles, (std::vector<std::string>{"Reading Cartridge", "Erasing Cartridge", "Writing Cartridge",
                                                        "Verifying Cartridge"}));
}

// ---- Verify after writing --------------------------------------------------------

// With verify on, its one line stands just before "Flashing done.", whatever
// the scope, and the bar counts the bytes read back.
TEST_F(FlashScopeTest, VerifyLineStandsBeforeDone)
{
    sim::insertCart("flash8");
    Bytes rom = pattern(100 * KIB + 5, 5);
    const struct { EraseScope scope; uint32_t verified; } cases[] = {
        {EraseScope::WholeChips, 100 * KIB + 5}, {EraseScope::RomBlocks, 100 * KIB + 5},
        // The ROM is in the cartridge now: only its last block is rewritten.
        {EraseScope::ChangedBlocks, 100 * KIB + 5 - 64 * KIB}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.scope));
        if (c.scope == EraseScope::ChangedBlocks)
            rom[100 * KIB] ^= 1;
        EXPECT_TRUE(flash(rom, settings(c.scope, true)));
        std::string verified = "Verify after writing: all " + std::to_string(c.verified) + " bytes match.";
        Lines tail = {wrote(uint32_t(rom.size())), verified, DONE};
        if (c.scope == EraseScope::ChangedBlocks)
            tail.push_back("Blocks rewritten: 1, already right: 1.");
        EXPECT_TRUE(linesAre(Lines(report.lines.end() - long(tail.size()), report.lines.end()), tail));
        EXPECT_EQ(report.titles.back(), "Verifying Cartridge");
        EXPECT_EQ(report.totals.back(), c.verified);
        EXPECT_FALSE(report.open);
        EXPECT_TRUE(slice(sim::cartImage(), 0, uint32_t(rom.size())) == rom);
    }
}

// A byte the chip never programs goes unseen by the turbo byte method, which
// reads nothing back; verify finds it, and the job is not done. The failed
// chip takes no more bytes and answers with its status until it is reset
// (no later byte of this ROM is the reset command 0xF0): verify resets it
// first and names the byte, with everything after it left erased.
TEST_F(FlashScopeTest, VerifyFindsWhatTheWriteMissed)
{
    Bytes rom = pattern(3000, 9);
    rom[0x123] = 0x00;
    std::replace(rom.begin(), rom.end(), uint8_t(0xF0), uint8_t(0xF1));
    for (EraseScope scope : {EraseScope::WholeChips, EraseScope::RomBlocks}) {
        SCOPED_TRACE(int(scope));
        sim::insertCart("flash8");
        sim::byteNeverPrograms(0, 0x123);
        EXPECT_FALSE(flash(rom, settings(scope, true, 1, TURBO_ON)));
        uint32_t differ = 0;
        for (size_t i = 0x123; i < rom.size(); i++)
            differ += rom[i] != 0xFF;
        EXPECT_EQ(report.lines.back(), "Verify after writing: " + std::to_string(differ) + " of 3000 bytes differ, the first at 0x000123.");
        EXPECT_EQ(std::count(report.lines.begin(), report.lines.end(), DONE), 0);
        sim::clearFaults();
    }
}

// ---- Blocks that will not erase or program, and protection ---------------------

TEST_F(FlashScopeTest, ABlockThatWillNotEraseOrProgramEndsTheJobNamingIt)
{
    Bytes rom = pattern(300 * KIB, 11);
    const struct { const char* what; std::function<void()> fault; EraseScope scope; Lines lines; } cases[] = {
        {"ignores erase", [] { sim::chipIgnoresErase(0); }, EraseScope::RomBlocks,
         {"Not able to erase block 0 of chip 0!", ABORTED}},
        {"erase never ends", [] { sim::chipEraseNeverEnds(0); }, EraseScope::ChangedBlocks,
         {"Not able to erase block 0 of chip 0!", ABORTED}},
        {"byte never programs", [] { sim::byteNeverPrograms(0, 0x31334); }, EraseScope::RomBlocks,
         {"Flashing 'game.ngp'", "flash_write_64xN_bytes: processed 4 packets, but sent 8",
          "Not able to program block 3 of chip 0!", ABORTED}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::clearFaults();
        sim::insertCart("flash8");
        const Bytes before = sim::cartImage();
        c.fault();
        sim::Mark m = sim::mark();
        double start = sim::clockSeconds();
        EXPECT_FALSE(flash(rom, settings(c.scope, true)));
        EXPECT_TRUE(linesAre(Lines(report.lines.end() - long(c.lines.size()), report.lines.end()), c.lines));
        EXPECT_LT(sim::clockSeconds() - start, 60.0) << "the wait was not bounded";
        if (c.lines.size() == 2) {
            EXPECT_EQ(programmedBlocks(m), std::set<Block>{});
            EXPECT_EQ(std::find(report.titles.begin(), report.titles.end(), "Writing Cartridge"), report.titles.end());
        }
    }
}

// A chip with any protected block is refused before anything is erased, as
// with whole chips; a chip the ROM does not reach may have them.
TEST_F(FlashScopeTest, ProtectedBlocksRefuseTheirChip)
{
    for (EraseScope scope : {EraseScope::RomBlocks, EraseScope::ChangedBlocks}) {
        SCOPED_TRACE(int(scope));
        sim::insertCart("bung");
        sim::chip(1).setBlockProtected(3, true);
        const Bytes before = sim::cartImage();
        sim::Mark m = sim::mark();
        EXPECT_FALSE(flash(pattern(2 * MIB + 300 * KIB), settings(scope)));
        EXPECT_EQ(report.lines.back(),
                  "Chip 1 has protected blocks, so it cannot be flashed (an official cartridge?). Nothing was erased.");
        EXPECT_TRUE(blockErases(m, nullptr).empty());
        EXPECT_TRUE(sim::cartImage() == before);

        EXPECT_TRUE(flash(pattern(100 * KIB, 3), settings(scope)));
        EXPECT_EQ(slice(sim::cartImage(), 0, 100 * KIB), pattern(100 * KIB, 3));
    }
}

// ---- Cancel ----------------------------------------------------------------------

// Cancel while the cartridge is read before writing: nothing is erased or
// written, and the job says so.
TEST_F(FlashScopeTest, CancelWhileReadingBeforeWriting)
{
    sim::insertCart("bung");
    const Bytes before = sim::cartImage();
    report = RecordingReporter();
    report.cancelAtBreath(5);
    writeFile(scratch("game.ngp"), pattern(3 * MIB));
    sim::Mark m = sim::mark();
    EXPECT_FALSE(flashRom(scratch("game.ngp"), settings(EraseScope::ChangedBlocks), report));
    EXPECT_EQ(report.lines.back(), "Flashing cancelled while reading the cart. Nothing was erased or written.");
    EXPECT_EQ(report.titles, std::vector<std::string>{"Reading Cartridge"});
    EXPECT_FALSE(report.open);
    for (const Command& c : commandsSince(m))
        EXPECT_TRUE(c.code == CMD_READ || c.code == CMD_READ64XN || (c.code == CMD_WRITE && c.addr >= 0x2AAA))
            << int(c.code) << " at " << std::hex << c.addr;
    EXPECT_LE(commandsSince(m, CMD_READ64XN).size(), 5u);
    EXPECT_TRUE(sim::cartImage() == before);
}

// Cancel between the blocks of an erase: the block under way is finished,
// no other is started, and nothing is written.
TEST_F(FlashScopeTest, CancelWhileErasingBlocks)
{
    sim::insertCart("flash8");
    sim::setEraseTimes(0.05, 0.02);
    report = RecordingReporter();
    report.onBreath = [this](int) { report.cancelled = report.titles.back() == "Erasing Cartridge" && blockErases(mark_, nullptr).size() == 2; };
    writeFile(scratch("game.ngp"), pattern(600 * KIB));
    mark_ = sim::mark();
    EXPECT_FALSE(flashRom(scratch("game.ngp"), settings(EraseScope::RomBlocks), report));
    EXPECT_EQ(report.lines.back(), "Flashing cancelled after erasing 2 of 10 blocks. Nothing was written.");
    EXPECT_EQ(blockErases(mark_, nullptr), (std::vector<Block>{{0, 0}, {0, 1}}));
    EXPECT_TRUE(programmedBlocks(mark_).empty());
    EXPECT_TRUE(allErased(0, 0, 0x20000));
}

}  // namespace
