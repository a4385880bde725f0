// Flash ROM(s) against the simulated linker: the log as the user reads it,
// the commands the linker received and the chips' contents afterwards.
#include "gui/commands.h"
#include "support/job_helpers.h"
#include "gui/file_choice.h"
#include "gui/prefs.h"
#include "support/log_file_records.h"

namespace {

const char* const ABORTED = "Flashing aborted. Cart status unknown.";
const char* const DONE = "Flashing done.";
const char* const WRITING = "Writing Cartridge";
const Lines TURBO_AUTO_OFF = {"", "Turbo Mode OFF for non-Cindercart cartridge!", ""};
const Lines TURBO_FORCED = {"", "Turbo Mode forced ON!", "Verification is recommended!", ""};
const char* const NO_VERIFICATION = "No verification in turbo mode!  Consider using verify mode after writing.";
const Lines BUNG = {"32mbit cart detected.", "ROM name: 'BUNG TEST   '"};
const Lines FLASH4 = {"4mbit cart detected.", "ROM name: 'SMALL4'"};
const uint32_t MIB = 0x100000;
const uint32_t FLASH4_SIZE = 0x80000;

std::string wrote(uint32_t bytes)
{
    return "Wrote " + std::to_string(bytes) + " bytes in {s} seconds";
}

Lines smaller(uint32_t bytes, uint32_t flash = FLASH4_SIZE)
{
    return {"ROM size of " + std::to_string(bytes) + " bytes is",
            "smaller than the flash size of " + std::to_string(flash) + " bytes."};
}

bool isFlashWrite(const Command& c)
{
    return c.code == CMD_FLASH_WRITE64XN || c.code == CMD_FLASH_WRITE_32 || c.code == CMD_FLASH_WRITE_N;
}

bool isChipErase(const Command& c)
{
    return c.code == CMD_WRITE && c.addr == 0x5555 && c.value == 0x10;
}

std::vector<Command> flashWrites(const std::vector<Command>& cmds)
{
    std::vector<Command> out;
    std::copy_if(cmds.begin(), cmds.end(), std::back_inserter(out), isFlashWrite);
    return out;
}

// Just past the last chip-erase command, or past the probe (whose last
// read is the ROM name's final byte) when none was sent.
size_t afterErase(const std::vector<Command>& cmds)
{
    size_t i = cmds.size();
    for (size_t k = 0; k < cmds.size() && i == cmds.size(); k++)
        if (cmds[k].code == CMD_READ && cmds[k].chip == 0 && cmds[k].addr == 0x2F)
            i = k + 1;
    for (size_t k = i; k < cmds.size(); k++)
        if (isChipErase(cmds[k]))
            i = k + 1;
    return i;
}

// The chips erased, once it is checked that those, and only those, were
// then polled at address 0 in the same order before the first write.
std::vector<int> erasedChips(const std::vector<Command>& cmds)
{
    std::vector<int> erased, polled;
    for (const auto& c : cmds)
        if (isChipErase(c))
            erased.push_back(c.chip);
    for (size_t i = afterErase(cmds); !erased.empty() && i < cmds.size() && !isFlashWrite(cmds[i]) && cmds[i].code != CMD_WRITE; i++)
        if (cmds[i].code == CMD_READ && cmds[i].addr == 0 && (polled.empty() || polled.back() != cmds[i].chip))
            polled.push_back(cmds[i].chip);
    EXPECT_EQ(polled, erased) << "the chips polled after the erase";
    return erased;
}

// The job's single-byte writes after erasing: the byte methods' cycles.
std::vector<Command> byteWrites(const std::vector<Command>& cmds)
{
    std::vector<Command> out;
    std::copy_if(cmds.begin() + long(afterErase(cmds)), cmds.end(), std::back_inserter(out),
                 [](const Command& c) { return c.code == CMD_WRITE; });
    return out;
}

// The job's reads of one address after erasing.
int readsOf(const std::vector<Command>& cmds, uint32_t address)
{
    return int(std::count_if(cmds.begin() + long(afterErase(cmds)), cmds.end(),
                             [&](const Command& c) { return c.code == CMD_READ && c.addr == address; }));
}

// The chunks cover the cartridge from `from` to `to` once, in order, chip 1
// from its own address 0, none longer than `most` bytes.
void expectTiled(const std::vector<Command>& writes, uint32_t from, uint32_t to, uint32_t most)
{
    uint32_t at = from;
    for (const Command& w : writes) {
        uint32_t length = w.code == CMD_FLASH_WRITE64XN ? w.count * 64 : w.code == CMD_FLASH_WRITE_N ? w.count : 32;
        ASSERT_EQ(w.chip * 0x200000 + w.addr, at) << "chip " << int(w.chip) << " address " << w.addr;
        ASSERT_LE(length, most) << at;
        at += length;
    }
    EXPECT_EQ(at, to);
}

class FlashRomTest : public JobTest {
protected:
    void SetUp() override
    {
        JobTest::SetUp();
        // Whole-chip erases end after a few dozen polls instead of 25 s.
        sim::setEraseTimes(0.001, 0.02);
    }

    // Flashes `path`, or these bytes as game.ngp; the commands the linker received.
    std::vector<Command> flash(const std::string& path) { return runWithFile("flash", path); }
    std::vector<Command> flash(const Bytes& rom)
    {
        writeFile(scratchPath("game.ngp"), rom);
        return flash(scratchPath("game.ngp"));
    }
    // The same into a fresh `cart` with these settings and an empty log.
    std::vector<Command> flashInto(const char* cart, const Bytes& rom, int n = 512, uint8_t turbo = TURBO_AUTO,
                                   int skip = -1)
    {
        sim::insertCart(cart);
        windowSettings().writeN = n;
        windowSettings().turboMode = turbo;
        windowSettings().skipChip = skip;
        return flash(rom);
    }
};

// What a flashing that ended done logs about game.ngp after its last line.
Lines gameIdentity()
{
    return windowIdentityOf(scratchPath("game.ngp"), true);
}

// The log of a flash4 run after the probe and the size lines.
Lines flash4Log(const Lines& size, const Lines& rest, const Lines& turbo = TURBO_AUTO_OFF)
{
    return FLASH4 + size + turbo + Lines{"Flashing 'game.ngp'"} + rest;
}

TEST_F(FlashRomTest, NoFileOrNoCartridgeTouchesNothing)
{
    sim::Mark m = sim::mark();
    answerNoFile();
    clickCommand("flash");
    EXPECT_EQ(asked(), "Load a ROM|*.{ngp,rom,bin,ngc,ngpc}|0|no name");
    EXPECT_TRUE(logIs({"No file selected."}));
    std::string missing = scratchPath("no such folder/game.ngp");
    flash(missing);
    EXPECT_TRUE(logIs({"Failed to open '" + missing + "': No such file or directory"}));
    EXPECT_TRUE(sim::transfersSince(m).empty());

    // No cartridge is neither erased nor reported flashed.
    auto cmds = flashInto("none", pattern(1000));
    EXPECT_TRUE(logIs({"No cart detected!", "Warning! ROM size of 1000 bytes is",
                       "larger than the flash size of 0 bytes.", ABORTED}));
    EXPECT_TRUE(erasedChips(cmds).empty());
    EXPECT_TRUE(flashWrites(cmds).empty());
}

// ---- Sizes, erasing and chips ------------------------------------------------

TEST_F(FlashRomTest, TwoMegabyteFileFillsSixteenMbitCart)
{
    sim::insertCart("official16");
    sim::chip(0).protectAll(false);
    Bytes rom = pattern(2 * MIB);
    writeFile(scratchPath("full.ngp"), rom);
    auto cmds = flash(scratchPath("full.ngp"));
    EXPECT_TRUE(logIs(Lines{"16mbit cart detected.", "ROM name: 'SIM OFFICIAL'"} + TURBO_AUTO_OFF +
                      Lines{"Flashing 'full.ngp'", wrote(2 * MIB), DONE} + windowIdentityOf(scratchPath("full.ngp"), true)));
    EXPECT_EQ(erasedChips(cmds), std::vector<int>{0});
    auto writes = flashWrites(cmds);
    EXPECT_EQ(writes.size(), 2 * MIB / 512);
    expectTiled(writes, 0, 2 * MIB, 512);
    EXPECT_TRUE(sim::cartImage() == rom);
}

// A 4 MiB backup of a two-chip game goes into a two-chip flash cartridge
// byte for byte (Verify's walk over two chips is in rom_round_trip_test.cpp).
// Chunks of 192 bytes do not divide 0x200000: the
// one starting at 0x1FFF80 is split between the chips, never wrapped onto
// chip 0's start.
TEST_F(FlashRomTest, FourMegabyteRoundTripThroughBothChips)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    std::string path = scratchPath("cart.ngp");
    runWithFile("backup", path);
    ASSERT_TRUE(logEndsWith(Lines{"Backup done. Wrote 4194304 bytes."} + windowIdentityOf(path)));

    sim::insertCart("bung");
    windowSettings().writeN = 192;
    auto cmds = flash(path);
    EXPECT_TRUE(logIs(BUNG + TURBO_AUTO_OFF + Lines{"Flashing 'cart.ngp'", wrote(4 * MIB), DONE} + windowIdentityOf(path, true)));
    EXPECT_EQ(erasedChips(cmds), (std::vector<int>{0, 1}));
    auto writes = flashWrites(cmds);
    expectTiled(writes, 0, 4 * MIB, 192);
    size_t at = 0;
    while (at < writes.size() && writes[at].addr != 0x1FFF80)
        at++;
    ASSERT_LT(at + 2, writes.size());
    EXPECT_EQ(std::make_tuple(writes[at].chip, writes[at].count), std::make_tuple(0, 2));
    EXPECT_EQ(std::make_tuple(writes[at + 1].chip, writes[at + 1].addr, writes[at + 1].count), std::make_tuple(1, 0u, 1));
    EXPECT_TRUE(sim::cartImage() == readFile(path));
}

// The chip is erased whole and written as far as both the file and the
// flash go. Past the file's end the last chunk holds erased bytes, not the
// chunk before; a chunk size that does not divide the flash stops at its
// end too (past it the address would wrap onto byte 0).
TEST_F(FlashRomTest, FilesLargerOrSmallerThanTheFlash)
{
    const struct { const char* cart; uint32_t size; int n; Lines probe; } cases[] = {
        {"flash4", FLASH4_SIZE + 777, 512, FLASH4},
        {"flash4", FLASH4_SIZE + 777, 31, FLASH4},
        {"flash8", 1000, 512, {"8mbit cart detected.", "ROM name: 'SIM FLASH 8 '"}},
        {"flash4", 0, 512, FLASH4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cart) + " " + std::to_string(c.size) + " " + std::to_string(c.n));
        ScratchStateHome state;
        Bytes rom = pattern(c.size);
        auto writes = flashWrites(flashInto(c.cart, rom, c.n));
        const uint32_t flashSize = sim::chip(0).size(), written = std::min(c.size, flashSize);
        const uint32_t to = std::min((written + c.n - 1) / c.n * c.n, flashSize);
        // An empty file is refused before anything is erased.
        if (c.size == 0) {
            EXPECT_TRUE(logIs({"'game.ngp' is empty; nothing was erased."}));
            EXPECT_TRUE(writes.empty());
            EXPECT_TRUE(chipBytes(0, 0, flashSize) != Bytes(flashSize, 0xFF));
            continue;
        }
        // The count of bytes not written is a note: in the window, with the
        // CRC32 and the verdict, the licence word outranks it (the log file
        // keeps it).
        EXPECT_TRUE(logIs(c.probe +
                          (c.size > flashSize ? Lines{"Warning! ROM size of 525065 bytes is",
                                                      "larger than the flash size of 524288 bytes."}
                                              : smaller(c.size, flashSize)) +
                          TURBO_AUTO_OFF + Lines{"Flashing 'game.ngp'", wrote(written), DONE} + gameIdentity()));
        Lines filed, whole = (c.size > flashSize ? Lines{"777 bytes of the file did not fit on the cartridge and were not written."}
                                                 : Lines{}) + identityOf(scratchPath("game.ngp"), true);
        for (const LogRecord& r : logFileRecords(state.log()))
            filed.push_back(r.text);
        ASSERT_GE(filed.size(), whole.size());
        EXPECT_EQ(Lines(filed.end() - whole.size(), filed.end()), whole);
        EXPECT_EQ(writes.size(), (to + c.n - 1) / c.n);
        expectTiled(writes, 0, to, c.n);
        Bytes padded = rom;
        padded.resize(to, 0xFF);
        if (!writes.empty()) {
            EXPECT_EQ(writes.back().data, slice(padded, to - writes.back().data.size(), writes.back().data.size()));
        }
        EXPECT_TRUE(chipBytes(0, 0, flashSize) == slice(rom, 0, written) + Bytes(flashSize - written, 0xFF));
    }
}

// With chip 0 skipped a file that fits it touches nothing; a larger one
// erases and writes chip 1 only, from its own address 0. Chip 1 skipped, or
// a setting outside the menu, erases as the file's size asks.
TEST_F(FlashRomTest, SkippingAChip)
{
    sim::insertCart("bung");
    const Bytes before = sim::cartImage();
    auto cmds = flashInto("bung", pattern(2 * MIB), 512, TURBO_AUTO, 0);
    EXPECT_TRUE(logIs(BUNG + smaller(2 * MIB, 4 * MIB) + TURBO_AUTO_OFF +
                      Lines{"Flashing 'game.ngp'", wrote(2 * MIB), DONE} + gameIdentity()));
    EXPECT_TRUE(erasedChips(cmds).empty());
    EXPECT_TRUE(flashWrites(cmds).empty());
    EXPECT_TRUE(sim::cartImage() == before);

    Bytes rom = pattern(4 * MIB);
    cmds = flashInto("bung", rom, 512, TURBO_AUTO, 0);
    EXPECT_TRUE(logIs(BUNG + TURBO_AUTO_OFF + Lines{"Flashing 'game.ngp'", wrote(4 * MIB), DONE} + gameIdentity()));
    EXPECT_EQ(erasedChips(cmds), std::vector<int>{1});
    auto writes = flashWrites(cmds);
    EXPECT_EQ(writes.size(), 2 * MIB / 512);
    expectTiled(writes, 2 * MIB, 4 * MIB, 512);
    EXPECT_TRUE(chipBytes(0, 0, 2 * MIB) == slice(before, 0, 2 * MIB));
    EXPECT_TRUE(chipBytes(1, 0, 2 * MIB) == slice(rom, 2 * MIB, 2 * MIB));

    // Small chunks likewise: only chip 1's part of the one across the
    // boundary (at 0x1FFFFE) goes out.
    rom = pattern(2 * MIB + 0x1000);
    writes = flashWrites(flashInto("bung", rom, 31, TURBO_AUTO, 0));
    EXPECT_TRUE(logEndsWith(Lines{DONE} + gameIdentity()));
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes[0].count, 29);
    expectTiled(writes, 2 * MIB, 2 * MIB + 0x1000, 31);
    EXPECT_EQ(writes[0].data, slice(rom, 2 * MIB, 29));
    EXPECT_EQ(chipBytes(1, 0, 0x1000), slice(rom, 2 * MIB, 0x1000));

    // Cancelled at the first chunk: only the erase is of interest.
    for (auto [skip, erased] : {std::make_pair(1, std::vector<int>{0}), std::make_pair(7, std::vector<int>{0, 1})}) {
        atEvent(1, nullptr, WRITING);
        EXPECT_EQ(erasedChips(flashInto("bung", pattern(2 * MIB + 1), 512, TURBO_AUTO, skip)), erased) << skip;
        EXPECT_EQ(logLines().back(), ABORTED);
    }
}

// ---- Turbo and write methods -------------------------------------------------

TEST_F(FlashRomTest, TurboFlagFollowsTheSettingAndChip0sFactoryByte)
{
    const struct { const char* cart; uint8_t mode; Lines lines; uint8_t flag; } rows[] = {
        {"cindercart", TURBO_AUTO, {"", "Turbo Mode ON for Cindercart cartridge!", ""}, 1},
        {"bung", TURBO_AUTO, TURBO_AUTO_OFF, 0},
        {"cindercart", TURBO_OFF, {}, 0},
        {"bung", TURBO_ON, TURBO_FORCED, 1}};
    Bytes rom = pattern(4096);
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.cart) + " " + std::to_string(r.mode));
        auto writes = flashWrites(flashInto(r.cart, rom, 512, r.mode));
        EXPECT_TRUE(logIs((std::string(r.cart) == "bung" ? BUNG : Lines{"32mbit cart detected.", "ROM name: 'CINDER DEMO '"}) +
                          smaller(4096, 4 * MIB) + r.lines + Lines{"Flashing 'game.ngp'", wrote(4096), DONE} +
                          gameIdentity()));
        ASSERT_EQ(writes.size(), 8u);
        for (const auto& w : writes)
            EXPECT_EQ(w.turbo, r.flag);
        EXPECT_EQ(chipBytes(0, 0, 4096), rom);
    }
}

// The byte method in turbo: unlock bypass entered once, two cycles a byte,
// then left, and the chip back in reading mode.
TEST_F(FlashRomTest, TurboByteMethodProgramsInUnlockBypass)
{
    Bytes rom = pattern(300);
    auto writes = byteWrites(flashInto("flash4", rom, 1, TURBO_ON));
    EXPECT_TRUE(logIs(flash4Log(smaller(300), Lines{NO_VERIFICATION, wrote(300), DONE} + gameIdentity(), TURBO_FORCED)));
    std::vector<std::tuple<int, uint32_t, int>> want = {{0, 0x5555, 0xAA}, {0, 0x2AAA, 0x55}, {0, 0x5555, 0x20}}, got;
    for (uint32_t i = 0; i < 300; i++)
        want.insert(want.end(), {{0, 0, 0xA0}, {0, i, rom[i]}});
    want.insert(want.end(), {{0, 0, 0x90}, {0, 0, 0x00}});
    for (const auto& w : writes)
        got.push_back({w.chip, w.addr, w.value});
    EXPECT_EQ(got, want);
    EXPECT_EQ(sim::chip(0).mode(), sim::FlashChip::Mode::Read);
    EXPECT_TRUE(chipBytes(0, 0, FLASH4_SIZE) == rom + Bytes(FLASH4_SIZE - 300, 0xFF));

    // Past 2 MiB the byte method turns to chip 1 at its address 0. Chip 0
    // skipped keeps this quick: its bytes are read and counted only.
    rom = pattern(2 * MIB + 100);
    writes = byteWrites(flashInto("cindercart", rom, 1, TURBO_AUTO, 0));
    EXPECT_TRUE(logHasInOrder({"Turbo Mode ON for Cindercart cartridge!", "Flashing 'game.ngp'", NO_VERIFICATION, DONE}));
    ASSERT_EQ(writes.size(), 3 + 2 * 100 + 2u);
    for (const auto& w : writes)
        EXPECT_EQ(w.chip, 1);
    EXPECT_EQ(writes[2].value, 0x20);
    EXPECT_EQ(std::make_tuple(writes[4].addr, writes[4].value), std::make_tuple(0u, rom[2 * MIB]));
    EXPECT_EQ(std::make_tuple(writes[203].value, writes[204].value), std::make_tuple(0x90, 0x00));
    EXPECT_EQ(chipBytes(1, 0, 100), slice(rom, 2 * MIB, 100));
}

// Files whose length no chunk size divides; the byte method's shorter.
// Write_N of 3 sends three-byte chunks.
TEST_F(FlashRomTest, EveryWriteMethodLeavesTheFileInTheCart)
{
    const struct { int n; uint8_t turbo; uint32_t size; } cases[] = {
        {1024, TURBO_OFF, 70001}, {192, TURBO_ON, 70001}, {32, TURBO_OFF, 70001},
        {31, TURBO_ON, 70001},    {3, TURBO_OFF, 3001},   {1, TURBO_OFF, 1237}};
    for (const auto& c : cases) {
        SCOPED_TRACE("write_N " + std::to_string(c.n) + " turbo " + std::to_string(c.turbo));
        Bytes rom = pattern(c.size, uint32_t(c.n * 7 + c.turbo + c.size));
        auto writes = flashWrites(flashInto("flash4", rom, c.n, c.turbo));
        Lines log = logLines(), identity = gameIdentity();
        ASSERT_TRUE(linesEndWith(log, identity));
        log.resize(log.size() - identity.size());
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log.back(), DONE);
        EXPECT_EQ(log[log.size() - 2].rfind("Wrote " + std::to_string(c.size) + " bytes in ", 0), 0u);
        if (c.n == 3) {
            EXPECT_EQ(writes.size(), (c.size + 2) / 3);
            EXPECT_EQ(only(writes, CMD_FLASH_WRITE_N).size(), writes.size());
            expectTiled(writes, 0, c.size, 3);
        }
        EXPECT_TRUE(chipBytes(0, 0, FLASH4_SIZE) == rom + Bytes(FLASH4_SIZE - c.size, 0xFF));
    }
}

// A skipped chip is neither written nor read back, so bytes of the file it
// does not hold are no failure, and the other chip is still written.
TEST_F(FlashRomTest, ByteMethodLeavesTheSkippedChipAlone)
{
    sim::insertCart("flash4");
    Bytes rom = chipBytes(0, 0, 40);
    rom[5] ^= 0x01;
    auto cmds = flashInto("flash4", rom, 1, TURBO_OFF, 0);
    EXPECT_TRUE(logIs(FLASH4 + smaller(40) + Lines{"Flashing 'game.ngp'", wrote(40), DONE} + gameIdentity()));
    EXPECT_TRUE(erasedChips(cmds).empty());
    EXPECT_TRUE(byteWrites(cmds).empty());
    for (uint32_t a = 0; a < 40; a++)
        EXPECT_EQ(readsOf(cmds, a), 0) << a;

    rom = pattern(0x200000 + 40, 9);
    cmds = flashInto("bung", rom, 1, TURBO_OFF, 0);
    Lines log = logLines();
    EXPECT_EQ(std::count(log.begin(), log.end(), DONE), 1);
    EXPECT_TRUE(chipBytes(1, 0, 40) == Bytes(rom.begin() + 0x200000, rom.end()));
    EXPECT_EQ(erasedChips(cmds), std::vector<int>{1});
    for (uint32_t a : {1u, 5u, 39u})
        EXPECT_EQ(readsOf(cmds, a), 1) << "chip 1's byte, once: " << a;
    EXPECT_EQ(readsOf(cmds, 0x100), 0) << "past the file on chip 1, and never on chip 0";
}

TEST_F(FlashRomTest, InvalidWriteNIsRefusedAfterTheErase)
{
    auto cmds = flashInto("flash4", pattern(FLASH4_SIZE), 100);
    EXPECT_TRUE(logIs(flash4Log({}, {"ERROR write_N=100 should be from 1 to 32 or a multiple of 64"})));
    EXPECT_TRUE(flashWrites(cmds).empty());
    EXPECT_TRUE(allErased(0, 0, FLASH4_SIZE));
}

// ---- Cancel ------------------------------------------------------------------

// While writing the job stops after one more chunk (or byte, leaving the
// chip readable); while erasing it lets the erase finish and writes nothing.
TEST_F(FlashRomTest, Cancel)
{
    Bytes rom = pattern(FLASH4_SIZE);
    atEvent(3, nullptr, WRITING);
    EXPECT_EQ(flashWrites(flashInto("flash4", rom)).size(), 3u);
    EXPECT_TRUE(logIs(flash4Log({}, {ABORTED})));
    EXPECT_TRUE(chipBytes(0, 0, FLASH4_SIZE) == slice(rom, 0, 3 * 512) + Bytes(FLASH4_SIZE - 3 * 512, 0xFF));

    for (uint8_t turbo : {TURBO_OFF, TURBO_ON}) {
        SCOPED_TRACE(int(turbo));
        atEvent(5, nullptr, WRITING);
        flashInto("flash4", rom, 1, turbo);
        EXPECT_EQ(logLines().back(), ABORTED);
        EXPECT_EQ(chipBytes(0, 0, 69), slice(rom, 0, 5) + Bytes(64, 0xFF));
        EXPECT_EQ(sim::chip(0).mode(), sim::FlashChip::Mode::Read);
    }

    rom = pattern(4096);
    atEvent(2, nullptr, "Erasing Cartridge");
    EXPECT_TRUE(flashWrites(flashInto("flash4", rom)).empty());
    EXPECT_TRUE(logIs(FLASH4 + smaller(4096) + TURBO_AUTO_OFF +
                      Lines{"Flashing cancelled: chip 0 is now blank."}));
    EXPECT_TRUE(allErased(0, 0, FLASH4_SIZE));
}

// ---- Chips that misbehave ----------------------------------------------------

// A chip whose first poll reads 0x00 is not erasing (one poll only); one
// whose status bit stays clear is reported too.
TEST_F(FlashRomTest, ChipThatDoesNotEraseIsReported)
{
    sim::insertCart("flash4");
    sim::chipIgnoresErase(0);
    sim::chip(0).poke(0, 0x00);
    auto cmds = flash(pattern(FLASH4_SIZE));
    EXPECT_TRUE(logIs(FLASH4 + TURBO_AUTO_OFF + Lines{"Not able to erase chip 0!"}));
    EXPECT_EQ(erasedChips(cmds), std::vector<int>{0});
    ASSERT_GE(cmds.size(), 2u);
    EXPECT_TRUE(isChipErase(cmds[cmds.size() - 2])) << "more than one poll";
    EXPECT_EQ(cmds.back().code, CMD_READ);
    EXPECT_TRUE(flashWrites(cmds).empty());

    sim::clearFaults();
    sim::insertCart("bung");
    sim::chipIgnoresErase(1);
    sim::chip(1).poke(0, 0x12);  // status bit clear, and the same on every read
    EXPECT_TRUE(flashWrites(flash(pattern(4 * MIB))).empty());
    EXPECT_TRUE(logIs(BUNG + TURBO_AUTO_OFF + Lines{"Not able to erase chip 1!"}));
}

TEST_F(FlashRomTest, EraseIsWaitedForMinutesButNotForever)
{
    // Polls made slow so that minutes of modelled time pass in a few hundred.
    sim::costs().turnaround = 0.5;
    sim::setEraseTimes(0.7, 4 * 240.0);  // flash4 is a quarter of 16 Mbit: 240 s
    flashInto("flash4", pattern(64));
    EXPECT_TRUE(logHasInOrder({"Flashing 'game.ngp'", DONE}));

    sim::insertCart("flash4");
    sim::chipEraseNeverEnds(0);
    sim::Mark m = sim::mark();
    flash(pattern(64));
    EXPECT_TRUE(logIs(FLASH4 + smaller(64) + TURBO_AUTO_OFF + Lines{"Not able to erase chip 0!"}));
    // Given up five minutes after the erase command, at the first poll past it.
    double erased = -1, last = -1;
    for (const auto& t : sim::transfersSince(m)) {
        if (!t.in() && t.bytes.size() == 64 && t.bytes[0] == CMD_WRITE && t.bytes[4] == 0x10)
            erased = t.time;
        last = t.time;
    }
    ASSERT_GE(erased, 0.0);
    EXPECT_NEAR(last - erased, 301.0, 1.0);
}

// The chunk method reports the packet the linker could not program; the
// byte method gives up on the byte after 2000 reads and sends nothing after.
TEST_F(FlashRomTest, ByteThatNeverProgramsEndsTheJob)
{
    Bytes rom = pattern(0x1240);
    for (int n : {512, 1}) {
        SCOPED_TRACE(n);
        sim::insertCart("flash4");
        sim::byteNeverPrograms(0, 0x1234);
        windowSettings().writeN = n;
        auto cmds = flash(rom);
        EXPECT_TRUE(logIs(flash4Log(smaller(0x1240), {n == 1 ? "Writing addr 0x001234 failed!"
                                                              : "flash_write_64xN_bytes: processed 0 packets, but sent 1",
                                                      ABORTED})));
        if (n == 1) {
            EXPECT_EQ(readsOf(cmds, 0x1234), 2000);
            EXPECT_EQ(std::make_tuple(cmds.back().code, cmds.back().addr), std::make_tuple(CMD_READ, 0x1234u));
            EXPECT_EQ(chipBytes(0, 0, 0x1234), slice(rom, 0, 0x1234));
            EXPECT_TRUE(allErased(0, 0x1235, 0x100));
        } else {
            auto writes = flashWrites(cmds);
            ASSERT_EQ(writes.size(), 10u);
            EXPECT_EQ(std::make_tuple(writes.back().addr, writes.back().count), std::make_tuple(0x1200u, 1));
        }
    }
}

// ---- The link failing --------------------------------------------------------

// A chunk that times out (its second data packet never leaves) or is
// refused ends the job as aborted.
TEST_F(FlashRomTest, FailedChunkEndsTheJobAsAborted)
{
    const std::pair<int, LinkFault> cases[] = {
        {512, {[] { sim::timeoutOnTransfer(3); }, TIMED_OUT}},
        {32, {[] { sim::wrongCodeOnTransfer(1); }, {"flash_write_32_bytes: result = 0xEE"}}},
    };
    Bytes rom = pattern(FLASH4_SIZE);
    for (const auto& [n, fault] : cases) {
        SCOPED_TRACE(n);
        replug();  // the linker forgets the chunk it was left waiting for
        atEvent(5, fault.strike, WRITING);
        EXPECT_EQ(flashWrites(flashInto("flash4", rom, n)).size(), 5u);
        EXPECT_TRUE(logIs(flash4Log({}, fault.lines + Lines{ABORTED})));
        EXPECT_EQ(chipBytes(0, 0, 4 * n), slice(rom, 0, 4 * n));
    }
}

// The linker goes away `after` transfers past the job's n-th event check:
// one error and no hang. In turbo both writes that leave unlock bypass are
// still tried (after a passing fault they are what gives the chip back), but
// a vanished linker is worded only once; the window says it is gone after
// the job.
TEST_F(FlashRomTest, UnpluggedLinkerEndsTheJobWithoutAHang)
{
    const struct { const char* title; int after, n; uint8_t turbo; Lines lines; } cases[] = {
        {WRITING, 4, 512, TURBO_AUTO, flash4Log({}, GONE + Lines{ABORTED})},
        {WRITING, 2, 1, TURBO_OFF, flash4Log({}, GONE + Lines{ABORTED}, {})},
        {WRITING, 1, 1, TURBO_ON, flash4Log({}, Lines{NO_VERIFICATION} + GONE + Lines{ABORTED}, TURBO_FORCED)},
        // Pulled during the chip erase: the link failed, not the chip.
        {"Erasing Cartridge", 0, 512, TURBO_AUTO, FLASH4 + TURBO_AUTO_OFF + GONE + Lines{ABORTED}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines[c.lines.size() - 2]);
        replug();
        int after = c.after;
        atEvent(std::string(c.title) == WRITING ? 10 : 3, [after] { sim::unplugAfterTransfers(after); }, c.title);
        flashInto("flash4", pattern(FLASH4_SIZE), c.n, c.turbo);
        EXPECT_TRUE(logIs(c.lines + GONE_NOTICE));
    }
}

}  // namespace
