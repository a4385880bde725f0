// Flash ROM(s) against the simulated linker: the log as the user reads it,
// the commands the linker received and the chips' contents afterwards.
#include <FL/Fl_Double_Window.H>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "link/protocol.h"
#include "link/transfer.h"
#include "ops/commands.h"
#include "sim.h"
#include "support/job_fixture.h"
#include "ui/events.h"
#include "ui/file_choice.h"
#include "ui/prefs.h"
#include "ui/progress.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

const char* const ABORTED = "Flashing aborted. Cart status unknown.";
const char* const DONE = "Flashing done.";
const Lines TURBO_AUTO_OFF = {"", "Turbo Mode OFF for non-Cindercart cartridge!", ""};
const Lines TURBO_AUTO_ON = {"", "Turbo Mode ON for Cindercart cartridge!", ""};
const Lines TURBO_FORCED = {"", "Turbo Mode forced ON!", "Verification is recommended!", ""};
const char* const NO_VERIFICATION =
    "No verification in turbo mode!  Consider using verify mode after writing.";
const Lines CART16 = {"16mbit cart detected.", "ROM name: 'SIM OFFICIAL'"};
const Lines BUNG = {"32mbit cart detected.", "ROM name: 'BUNG TEST   '"};
const Lines CINDER = {"32mbit cart detected.", "ROM name: 'CINDER DEMO '"};
const Lines FLASH4 = {"4mbit cart detected.", "ROM name: 'SMALL4'"};
const Lines FLASH8 = {"8mbit cart detected.", "ROM name: 'SIM FLASH 8 '"};
const uint32_t MIB = 0x100000;
const uint32_t FLASH4_SIZE = 0x80000;

Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string wrote(uint32_t bytes)
{
    return "Wrote " + std::to_string(bytes) + " bytes in # seconds";
}

// The whole log; '#' in a wanted line stands for a whole number of seconds.
void expectLog(const Lines& want)
{
    Lines got = logLines();
    std::string all;
    for (const auto& l : got)
        all += "  [" + l + "]\n";
    ASSERT_EQ(got.size(), want.size()) << all;
    for (size_t i = 0; i < want.size(); i++) {
        size_t hash = want[i].find('#');
        if (hash == std::string::npos) {
            EXPECT_EQ(got[i], want[i]) << "line " << i << "\n" << all;
            continue;
        }
        std::string head = want[i].substr(0, hash), tail = want[i].substr(hash + 1);
        bool match = got[i].size() > head.size() + tail.size() &&
                     got[i].compare(0, head.size(), head) == 0 &&
                     got[i].compare(got[i].size() - tail.size(), tail.size(), tail) == 0 &&
                     got[i].find_first_not_of("0123456789", head.size()) ==
                         got[i].size() - tail.size();
        EXPECT_TRUE(match) << "line " << i << ": " << got[i] << "\n" << all;
    }
}

// A command as the linker received it; a flash_write64xN carries the data
// packets that followed it.
struct Command {
    uint8_t code, chip, turbo, value;
    uint32_t address;
    int count;  // packets of a flash_write64xN, length of a flash_write_N
    Bytes data;
};

std::vector<Command> commandsSince(sim::Mark m)
{
    std::vector<Command> out;
    int packetsOwed = 0;
    for (const sim::Transfer& t : sim::transfersSince(m)) {
        if (t.in() || t.result != 0 || t.bytes.size() != 64)
            continue;
        const uint8_t* b = t.bytes.data();
        if (packetsOwed > 0) {
            out.back().data.insert(out.back().data.end(), b, b + 64);
            packetsOwed--;
            continue;
        }
        Command c{b[MSG_CODE], b[MSG_CHIP], b[MSG_TURBO], b[MSG_VALUE],
                  uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3], 0, {}};
        if (c.code == CMD_FLASH_WRITE64XN)
            c.count = packetsOwed = b[MSG_COUNT];
        if (c.code == CMD_FLASH_WRITE_32)
            c.data.assign(b + MSG_DATA, b + 64);
        if (c.code == CMD_FLASH_WRITE_N) {
            c.count = b[MSG_LENGTH];
            c.data.assign(b + MSG_DATA, b + MSG_DATA + c.count);
        }
        out.push_back(c);
    }
    return out;
}

bool isFlashWrite(const Command& c)
{
    return c.code == CMD_FLASH_WRITE64XN || c.code == CMD_FLASH_WRITE_32 ||
           c.code == CMD_FLASH_WRITE_N;
}

std::vector<Command> flashWrites(const std::vector<Command>& cmds)
{
    std::vector<Command> out;
    for (const auto& c : cmds)
        if (isFlashWrite(c))
            out.push_back(c);
    return out;
}

bool isChipErase(const Command& c)
{
    return c.code == CMD_WRITE && c.address == 0x5555 && c.value == 0x10;
}

// Where the job's own commands start: after the probe's last read, the
// final byte of the ROM name.
size_t afterProbe(const std::vector<Command>& cmds)
{
    for (size_t k = 0; k < cmds.size(); k++)
        if (cmds[k].code == CMD_READ && cmds[k].chip == 0 && cmds[k].address == 0x2F)
            return k + 1;
    return cmds.size();
}

// Just past the last chip-erase command, or past the probe when none was sent.
size_t afterErase(const std::vector<Command>& cmds)
{
    size_t i = afterProbe(cmds);
    for (size_t k = i; k < cmds.size(); k++)
        if (isChipErase(cmds[k]))
            i = k + 1;
    return i;
}

std::vector<int> erasedChips(const std::vector<Command>& cmds)
{
    std::vector<int> chips;
    for (const auto& c : cmds)
        if (isChipErase(c))
            chips.push_back(c.chip);
    return chips;
}

// The chips read at address 0 between the erase and the first write, each
// run of reads of one chip listed once.
std::vector<int> polledChips(const std::vector<Command>& cmds)
{
    std::vector<int> chips;
    if (erasedChips(cmds).empty())
        return chips;
    for (size_t i = afterErase(cmds);
         i < cmds.size() && !isFlashWrite(cmds[i]) && cmds[i].code != CMD_WRITE; i++)
        if (cmds[i].code == CMD_READ && cmds[i].address == 0 &&
            (chips.empty() || chips.back() != cmds[i].chip))
            chips.push_back(cmds[i].chip);
    return chips;
}

// The job's single-byte writes after erasing: the byte methods' cycles.
std::vector<Command> byteWrites(const std::vector<Command>& cmds)
{
    std::vector<Command> out;
    for (size_t i = afterErase(cmds); i < cmds.size(); i++)
        if (cmds[i].code == CMD_WRITE)
            out.push_back(cmds[i]);
    return out;
}

// The job's reads of one address after erasing.
int readsOf(const std::vector<Command>& cmds, uint32_t address)
{
    int n = 0;
    for (size_t i = afterErase(cmds); i < cmds.size(); i++)
        n += cmds[i].code == CMD_READ && cmds[i].address == address;
    return n;
}

Bytes pattern(uint32_t size, uint32_t seed = 12345)
{
    Bytes b(size);
    for (auto& x : b) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        x = uint8_t(seed >> 24);
    }
    return b;
}

Bytes slice(const Bytes& b, size_t from, size_t length)
{
    return Bytes(b.begin() + from, b.begin() + from + length);
}

Bytes chipBytes(int chip, uint32_t from, uint32_t length)
{
    Bytes out(length);
    for (uint32_t i = 0; i < length; i++)
        out[i] = sim::chip(chip).peek(from + i);
    return out;
}

bool allErased(int chip, uint32_t from, uint32_t length)
{
    return chipBytes(chip, from, length) == Bytes(length, 0xFF);
}

// Acts right after the job lets events through for the n-th time while its
// progress window bears `title`.
std::string g_actTitle;
int g_actLeft = 0;
std::function<void()> g_action;

void actAtEvent()
{
    if (g_actLeft > 0 && progress_window && progress_window->label() &&
        g_actTitle == progress_window->label() && --g_actLeft == 0)
        g_action();
}

void onEvent(const char* title, int n, std::function<void()> action)
{
    g_actTitle = title;
    g_actLeft = n;
    g_action = std::move(action);
    g_afterEventsHook = actAtEvent;
}

void pressCancel()
{
    cb_progress_button(nullptr, nullptr);
}

class FlashRomTest : public JobTest {
protected:
    void SetUp() override
    {
        JobTest::SetUp();
        // Whole-chip erases end after a few dozen polls instead of 25 s.
        sim::setEraseTimes(0.001, 0.02);
    }

    // official16 with its protection lifted: a one-chip 16 Mbit flash cart.
    static void insertFlash16()
    {
        sim::insertCart("official16");
        sim::chip(0).protectAll(false);
    }

    std::string romFile(const Bytes& bytes, const std::string& name = "game.ngp")
    {
        std::string path = scratchPath(name);
        FILE* f = fopen(path.c_str(), "wb");
        EXPECT_TRUE(f);
        if (f) {
            if (!bytes.empty())
                fwrite(bytes.data(), 1, bytes.size(), f);
            fclose(f);
        }
        return path;
    }

    // Flashes a flash4 image; the linker goes away `after` transfers past
    // the job's n-th event check under `title`.
    void flashUnpluggedAt(const char* title, int n, int after)
    {
        // Plugged back in after an earlier call and the program restarted:
        // a vanished linker stays gone until then.
        closeLink();
        sim::clearFaults();
        sim::usbReset();
        sim::insertCart("flash4");
        ASSERT_TRUE(openLink());
        clearLog();
        onEvent(title, n, [after] { sim::unplugAfterTransfers(after); });
        flash(romFile(pattern(FLASH4_SIZE)));
    }

    void flash(const std::string& path)
    {
        answerFileChoice(path);
        cb_loadROMs_button(nullptr, nullptr);
        EXPECT_EQ(progress_window, nullptr) << "the job left its progress window behind";
    }
};

// ---- Start of the job ------------------------------------------------------

TEST_F(FlashRomTest, AsksForARomAndStopsWithoutOne)
{
    sim::Mark m = sim::mark();
    answerNoFile();
    cb_loadROMs_button(nullptr, nullptr);
    EXPECT_EQ(lastFileRequest().title, "Load a ROM");
    EXPECT_EQ(lastFileRequest().pattern, "*.{ngp,rom,bin}");
    EXPECT_EQ(lastFileRequest().mode, CHOOSE_EXISTING);
    expectLog({"No file selected."});
    EXPECT_TRUE(sim::transfersSince(m).empty());

    std::string missing = scratchPath("no such folder/game.ngp");
    flash(missing);
    expectLog({"No file selected.", "Failed to open '" + missing + "'"});
    EXPECT_TRUE(sim::transfersSince(m).empty());
}

TEST_F(FlashRomTest, NoCartridgeIsNeitherErasedNorReportedFlashed)
{
    sim::insertCart("none");
    std::string path = romFile(pattern(1000));
    sim::Mark m = sim::mark();
    flash(path);
    expectLog({"No cart detected!", "Warning! ROM size of 1000 bytes is",
               "larger than the flash size of 0 bytes.", ABORTED});
    EXPECT_TRUE(erasedChips(commandsSince(m)).empty());
    EXPECT_TRUE(flashWrites(commandsSince(m)).empty());
}

// ---- Sizes, erasing and chips ------------------------------------------------

TEST_F(FlashRomTest, TwoMegabyteFileFillsSixteenMbitCart)
{
    insertFlash16();
    Bytes rom = pattern(2 * MIB);
    std::string path = romFile(rom, "full.ngp");
    sim::Mark m = sim::mark();
    flash(path);
    expectLog(CART16 + TURBO_AUTO_OFF + Lines{"Flashing 'full.ngp'", wrote(2 * MIB), DONE});
    auto cmds = commandsSince(m);
    EXPECT_EQ(erasedChips(cmds), std::vector<int>{0});
    EXPECT_EQ(polledChips(cmds), std::vector<int>{0});
    auto writes = flashWrites(cmds);
    ASSERT_EQ(writes.size(), 2 * MIB / 512);
    EXPECT_EQ(writes.back().address, 2 * MIB - 512);
    EXPECT_EQ(writes.back().count, 8);
    EXPECT_TRUE(sim::cartImage() == rom);
}

TEST_F(FlashRomTest, FourMegabyteFileGoesToBothChips)
{
    sim::insertCart("bung");
    Bytes rom = pattern(4 * MIB);
    std::string path = romFile(rom);
    sim::Mark m = sim::mark();
    flash(path);
    expectLog(BUNG + TURBO_AUTO_OFF + Lines{"Flashing 'game.ngp'", wrote(4 * MIB), DONE});
    auto cmds = commandsSince(m);
    EXPECT_EQ(erasedChips(cmds), (std::vector<int>{0, 1}));
    EXPECT_EQ(polledChips(cmds), (std::vector<int>{0, 1}));
    auto writes = flashWrites(cmds);
    ASSERT_EQ(writes.size(), 4 * MIB / 512);
    EXPECT_EQ(writes[4095].chip, 0);
    EXPECT_EQ(writes[4095].address, 2 * MIB - 512);
    EXPECT_EQ(writes[4096].chip, 1);
    EXPECT_EQ(writes[4096].address, 0u);
    EXPECT_TRUE(sim::cartImage() == rom);
}

TEST_F(FlashRomTest, LargerFileIsCutToTheFlashSize)
{
    Bytes rom = pattern(FLASH4_SIZE + 777);
    for (int n : {512, 31}) {
        SCOPED_TRACE(n);
        sim::insertCart("flash4");
        clearLog();
        write_N = n;
        sim::Mark m = sim::mark();
        flash(romFile(rom));
        expectLog(FLASH4 +
                  Lines{"Warning! ROM size of 525065 bytes is",
                        "larger than the flash size of 524288 bytes."} +
                  TURBO_AUTO_OFF + Lines{"Flashing 'game.ngp'", wrote(FLASH4_SIZE), DONE});
        // A chunk size that does not divide the flash stops at its end too:
        // past it the address would wrap onto byte 0.
        auto writes = flashWrites(commandsSince(m));
        EXPECT_EQ(writes.back().address + writes.back().data.size(), FLASH4_SIZE);
        if (n == 31) {
            EXPECT_EQ(writes.back().data, slice(rom, FLASH4_SIZE - 16, 16));
        }
        EXPECT_TRUE(sim::cartImage() == slice(rom, 0, FLASH4_SIZE));
    }
}

TEST_F(FlashRomTest, SmallerFileErasesTheChipAndPadsItsLastChunk)
{
    sim::insertCart("flash8");
    Bytes rom = pattern(1000);
    sim::Mark m = sim::mark();
    flash(romFile(rom));
    expectLog(FLASH8 +
              Lines{"ROM size of 1000 bytes is", "smaller than the flash size of 1048576 bytes."} +
              TURBO_AUTO_OFF + Lines{"Flashing 'game.ngp'", wrote(1000), DONE});
    auto writes = flashWrites(commandsSince(m));
    ASSERT_EQ(writes.size(), 2u);
    // Past the file's end the chunk holds erased bytes, not the chunk before.
    EXPECT_EQ(slice(writes[1].data, 0, 488), slice(rom, 512, 488));
    EXPECT_EQ(slice(writes[1].data, 488, 24), Bytes(24, 0xFF));
    EXPECT_EQ(chipBytes(0, 0, 1000), rom);
    EXPECT_TRUE(allErased(0, 1000, MIB - 1000));
}

TEST_F(FlashRomTest, EmptyFileLeavesAnErasedChip)
{
    sim::insertCart("flash4");
    sim::Mark m = sim::mark();
    flash(romFile({}));
    expectLog(FLASH4 + Lines{"ROM size of 0 bytes is", "smaller than the flash size of 524288 bytes."} +
              TURBO_AUTO_OFF + Lines{"Flashing 'game.ngp'", wrote(0), DONE});
    EXPECT_TRUE(flashWrites(commandsSince(m)).empty());
    EXPECT_TRUE(allErased(0, 0, FLASH4_SIZE));
}

TEST_F(FlashRomTest, SkippingChip0OfASmallFileTouchesNothing)
{
    sim::insertCart("flash4");
    Bytes before = sim::cartImage();
    skipChip = 0;
    sim::Mark m = sim::mark();
    flash(romFile(pattern(FLASH4_SIZE)));
    expectLog(FLASH4 + TURBO_AUTO_OFF + Lines{"Flashing 'game.ngp'", wrote(FLASH4_SIZE), DONE});
    auto cmds = commandsSince(m);
    EXPECT_TRUE(erasedChips(cmds).empty());
    EXPECT_TRUE(polledChips(cmds).empty());
    EXPECT_TRUE(flashWrites(cmds).empty());
    EXPECT_TRUE(sim::cartImage() == before);
}

TEST_F(FlashRomTest, SkippingChip0OfAFourMegabyteFileWritesChip1Only)
{
    sim::insertCart("bung");
    Bytes chip0 = chipBytes(0, 0, 2 * MIB);
    Bytes rom = pattern(4 * MIB);
    skipChip = 0;
    sim::Mark m = sim::mark();
    flash(romFile(rom));
    expectLog(BUNG + TURBO_AUTO_OFF + Lines{"Flashing 'game.ngp'", wrote(4 * MIB), DONE});
    auto cmds = commandsSince(m);
    EXPECT_EQ(erasedChips(cmds), std::vector<int>{1});
    EXPECT_EQ(polledChips(cmds), std::vector<int>{1});
    auto writes = flashWrites(cmds);
    ASSERT_EQ(writes.size(), 2 * MIB / 512);
    EXPECT_EQ(writes[0].chip, 1);
    EXPECT_EQ(writes[0].address, 0u);
    EXPECT_TRUE(chipBytes(0, 0, 2 * MIB) == chip0);
    EXPECT_TRUE(chipBytes(1, 0, 2 * MIB) == slice(rom, 2 * MIB, 2 * MIB));
}

TEST_F(FlashRomTest, EraseFollowsTheRomSizeAndTheSkippedChip)
{
    // Each job is cancelled at its first chunk: only the erase is of interest.
    struct Row {
        uint32_t size;
        int skip;
        std::vector<int> erased;
    };
    const Row rows[] = {{2 * MIB, -1, {0}},     {2 * MIB, 0, {}},     {2 * MIB, 1, {0}},
                        {2 * MIB + 1, -1, {0, 1}}, {2 * MIB + 1, 0, {1}}, {2 * MIB + 1, 1, {0}},
                        {2 * MIB + 1, 7, {0, 1}}};
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.size) + " skip " + std::to_string(r.skip));
        sim::insertCart("bung");
        skipChip = r.skip;
        onEvent("Writing Cartridge", 1, pressCancel);
        clearLog();
        sim::Mark m = sim::mark();
        flash(romFile(pattern(r.size)));
        EXPECT_EQ(logLines().back(), ABORTED);
        auto cmds = commandsSince(m);
        EXPECT_EQ(erasedChips(cmds), r.erased);
        EXPECT_EQ(polledChips(cmds), r.erased);
    }
}

// ---- Turbo -------------------------------------------------------------------

TEST_F(FlashRomTest, TurboFlagFollowsTheSettingAndChip0sFactoryByte)
{
    struct Row {
        const char* cart;
        uint8_t mode;
        Lines lines;
        uint8_t flag;
    };
    const Row rows[] = {{"cindercart", TURBO_AUTO, TURBO_AUTO_ON, 1},
                        {"bung", TURBO_AUTO, TURBO_AUTO_OFF, 0},
                        {"cindercart", TURBO_OFF, {}, 0},
                        {"bung", TURBO_ON, TURBO_FORCED, 1}};
    Bytes rom = pattern(4096);
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.cart) + " " + std::to_string(r.mode));
        bool cinder = std::string(r.cart) == "cindercart";
        sim::insertCart(r.cart);
        G_unlockBypassMode = r.mode;
        clearLog();
        sim::Mark m = sim::mark();
        flash(romFile(rom));
        expectLog((cinder ? CINDER : BUNG) +
                  Lines{"ROM size of 4096 bytes is", "smaller than the flash size of 4194304 bytes."} +
                  r.lines + Lines{"Flashing 'game.ngp'", wrote(4096), DONE});
        auto writes = flashWrites(commandsSince(m));
        ASSERT_EQ(writes.size(), 8u);
        for (const auto& w : writes)
            EXPECT_EQ(w.turbo, r.flag);
        EXPECT_EQ(chipBytes(0, 0, 4096), rom);
    }
}

TEST_F(FlashRomTest, TurboByteMethodProgramsInUnlockBypass)
{
    sim::insertCart("flash4");
    G_unlockBypassMode = TURBO_ON;
    write_N = 1;
    Bytes rom = pattern(300);
    sim::Mark m = sim::mark();
    flash(romFile(rom));
    expectLog(FLASH4 +
              Lines{"ROM size of 300 bytes is", "smaller than the flash size of 524288 bytes."} +
              TURBO_FORCED + Lines{"Flashing 'game.ngp'", NO_VERIFICATION, wrote(300), DONE});
    auto writes = byteWrites(commandsSince(m));
    ASSERT_EQ(writes.size(), 3 + 2 * 300 + 2u);
    auto expectWrite = [&](size_t i, uint32_t address, uint8_t value) {
        EXPECT_EQ(writes[i].chip, 0) << i;
        EXPECT_EQ(writes[i].address, address) << i;
        EXPECT_EQ(writes[i].value, value) << i;
    };
    expectWrite(0, 0x5555, 0xAA);
    expectWrite(1, 0x2AAA, 0x55);
    expectWrite(2, 0x5555, 0x20);
    for (uint32_t i = 0; i < 300; i++) {
        expectWrite(3 + 2 * i, 0, 0xA0);
        expectWrite(4 + 2 * i, i, rom[i]);
    }
    expectWrite(603, 0, 0x90);
    expectWrite(604, 0, 0x00);
    EXPECT_EQ(sim::chip(0).mode(), sim::FlashChip::Mode::Read);
    EXPECT_EQ(chipBytes(0, 0, 300), rom);
    EXPECT_TRUE(allErased(0, 300, FLASH4_SIZE - 300));
}

TEST_F(FlashRomTest, TurboByteMethodSwitchesChipsAtTwoMegabytes)
{
    // Chip 0 skipped keeps this quick: its bytes are read and counted only.
    sim::insertCart("cindercart");
    write_N = 1;
    skipChip = 0;
    Bytes rom = pattern(2 * MIB + 100);
    sim::Mark m = sim::mark();
    flash(romFile(rom));
    EXPECT_TRUE(logHasInOrder({"Turbo Mode ON for Cindercart cartridge!", "Flashing 'game.ngp'",
                               NO_VERIFICATION, DONE}));
    auto writes = byteWrites(commandsSince(m));
    ASSERT_EQ(writes.size(), 3 + 2 * 100 + 2u);
    EXPECT_EQ(writes[2].value, 0x20);
    for (const auto& w : writes)
        EXPECT_EQ(w.chip, 1);
    EXPECT_EQ(writes[4].address, 0u);
    EXPECT_EQ(writes[4].value, rom[2 * MIB]);
    EXPECT_EQ(writes[203].value, 0x90);
    EXPECT_EQ(writes[204].value, 0x00);
    EXPECT_EQ(chipBytes(1, 0, 100), slice(rom, 2 * MIB, 100));
}

// ---- Write methods -----------------------------------------------------------

TEST_F(FlashRomTest, EveryWriteMethodLeavesTheFileInTheCart)
{
    struct Case {
        int n;
        uint8_t turbo;
        uint32_t size;
    };
    // Files whose length no chunk size divides; the byte methods' shorter.
    const Case cases[] = {{1024, TURBO_OFF, 70001}, {192, TURBO_ON, 70001}, {64, TURBO_OFF, 70001},
                          {32, TURBO_OFF, 70001},   {31, TURBO_ON, 70001},  {2, TURBO_OFF, 20001},
                          {1, TURBO_OFF, 1237},     {1, TURBO_ON, 1237}};
    for (const Case& c : cases) {
        SCOPED_TRACE("write_N " + std::to_string(c.n) + " turbo " + std::to_string(c.turbo));
        sim::insertCart("flash4");
        write_N = c.n;
        G_unlockBypassMode = c.turbo;
        Bytes rom = pattern(c.size, uint32_t(c.n * 7 + c.turbo));
        clearLog();
        flash(romFile(rom));
        EXPECT_EQ(logLines().back(), DONE);
        EXPECT_TRUE(chipBytes(0, 0, c.size) == rom);
        EXPECT_TRUE(allErased(0, c.size, FLASH4_SIZE - c.size));
    }
}

TEST_F(FlashRomTest, WriteNOfThreeSendsThreeByteChunks)
{
    sim::insertCart("flash4");
    write_N = 3;
    for (uint32_t size : {3000u, 3001u}) {
        SCOPED_TRACE(size);
        sim::insertCart("flash4");
        Bytes rom = pattern(size);
        clearLog();
        sim::Mark m = sim::mark();
        flash(romFile(rom));
        EXPECT_EQ(logLines().back(), DONE);
        EXPECT_EQ(logLines()[logLines().size() - 2].rfind("Wrote " + std::to_string(size) + " bytes", 0), 0u);
        auto writes = flashWrites(commandsSince(m));
        ASSERT_EQ(writes.size(), (size + 2) / 3);
        for (size_t i = 0; i < writes.size(); i++) {
            EXPECT_EQ(writes[i].code, CMD_FLASH_WRITE_N);
            EXPECT_EQ(writes[i].address, 3 * i);
            EXPECT_EQ(writes[i].count, std::min(3, int(size - 3 * i)));
        }
        EXPECT_EQ(chipBytes(0, 0, size), rom);
        EXPECT_TRUE(allErased(0, size, 16));
    }
}

TEST_F(FlashRomTest, ChunkAcrossTheChipBoundaryIsSplitBetweenTheChips)
{
    sim::insertCart("bung");
    Bytes rom = pattern(2 * MIB + 0x1000);
    write_N = 192;  // 0x200000 is not a multiple of 192: one chunk starts at 0x1FFF80
    sim::Mark m = sim::mark();
    flash(romFile(rom));
    EXPECT_EQ(logLines().back(), DONE);
    auto writes = flashWrites(commandsSince(m));
    size_t at = 0;
    while (at < writes.size() && writes[at].address != 0x1FFF80)
        at++;
    ASSERT_LT(at + 2, writes.size());
    EXPECT_EQ(writes[at].chip, 0);
    EXPECT_EQ(writes[at].count, 2);
    EXPECT_EQ(writes[at + 1].chip, 1);
    EXPECT_EQ(writes[at + 1].address, 0u);
    EXPECT_EQ(writes[at + 1].count, 1);
    EXPECT_EQ(writes[at + 2].chip, 1);
    EXPECT_EQ(writes[at + 2].address, 0x40u);
    EXPECT_TRUE(chipBytes(0, 0, 2 * MIB) == slice(rom, 0, 2 * MIB));
    EXPECT_EQ(chipBytes(1, 0, 0x1000), slice(rom, 2 * MIB, 0x1000));

    // Small chunks likewise; with chip 0 skipped only chip 1's part goes out.
    sim::insertCart("bung");
    write_N = 31;  // a chunk starts at 0x1FFFFE
    skipChip = 0;
    clearLog();
    m = sim::mark();
    flash(romFile(rom));
    EXPECT_EQ(logLines().back(), DONE);
    writes = flashWrites(commandsSince(m));
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes[0].chip, 1);
    EXPECT_EQ(writes[0].address, 0u);
    EXPECT_EQ(writes[0].count, 29);
    EXPECT_EQ(writes[0].data, slice(rom, 2 * MIB, 29));
    EXPECT_EQ(writes[1].address, 29u);
    EXPECT_EQ(chipBytes(1, 0, 0x1000), slice(rom, 2 * MIB, 0x1000));
}

TEST_F(FlashRomTest, ByteMethodReadsBackEvenTheSkippedChip)
{
    sim::insertCart("flash4");
    write_N = 1;
    G_unlockBypassMode = TURBO_OFF;
    skipChip = 0;
    Bytes rom = chipBytes(0, 0, 40);  // what the cart already holds
    sim::Mark m = sim::mark();
    flash(romFile(rom));
    expectLog(FLASH4 +
              Lines{"ROM size of 40 bytes is", "smaller than the flash size of 524288 bytes.",
                    "Flashing 'game.ngp'", wrote(40), DONE});
    auto cmds = commandsSince(m);
    EXPECT_TRUE(erasedChips(cmds).empty());
    EXPECT_TRUE(byteWrites(cmds).empty());
    for (uint32_t a = 0; a < 40; a++)
        EXPECT_EQ(readsOf(cmds, a), 1) << a;

    // A file byte the skipped chip does not hold never reads back: the job
    // gives up on it after 2000 reads and goes no further.
    rom[5] ^= 0x01;
    clearLog();
    m = sim::mark();
    flash(romFile(rom));
    expectLog(FLASH4 +
              Lines{"ROM size of 40 bytes is", "smaller than the flash size of 524288 bytes.",
                    "Flashing 'game.ngp'", "Writing addr 0x000005 failed!", ABORTED});
    cmds = commandsSince(m);
    EXPECT_EQ(readsOf(cmds, 5), 2000);
    EXPECT_EQ(readsOf(cmds, 6), 0);
}

TEST_F(FlashRomTest, InvalidWriteNIsRefusedAfterTheErase)
{
    sim::insertCart("flash4");
    write_N = 100;
    sim::Mark m = sim::mark();
    flash(romFile(pattern(FLASH4_SIZE)));
    expectLog(FLASH4 + TURBO_AUTO_OFF +
              Lines{"Flashing 'game.ngp'",
                    "ERROR write_N=100 should be from 1 to 32 or a multiple of 64"});
    EXPECT_TRUE(flashWrites(commandsSince(m)).empty());
    EXPECT_TRUE(allErased(0, 0, FLASH4_SIZE));
}

// ---- Cancel ------------------------------------------------------------------

TEST_F(FlashRomTest, CancelWhileWritingStopsAfterOneMoreChunk)
{
    sim::insertCart("flash4");
    Bytes rom = pattern(FLASH4_SIZE);
    onEvent("Writing Cartridge", 3, pressCancel);
    sim::Mark m = sim::mark();
    flash(romFile(rom));
    expectLog(FLASH4 + TURBO_AUTO_OFF + Lines{"Flashing 'game.ngp'", ABORTED});
    EXPECT_EQ(flashWrites(commandsSince(m)).size(), 3u);
    EXPECT_EQ(chipBytes(0, 0, 3 * 512), slice(rom, 0, 3 * 512));
    EXPECT_TRUE(allErased(0, 3 * 512, FLASH4_SIZE - 3 * 512));

    for (uint8_t turbo : {TURBO_OFF, TURBO_ON}) {
        SCOPED_TRACE(int(turbo));
        write_N = 1;
        G_unlockBypassMode = turbo;
        sim::insertCart("flash4");
        clearLog();
        onEvent("Writing Cartridge", 5, pressCancel);
        flash(romFile(rom));
        EXPECT_EQ(logLines().back(), ABORTED);
        EXPECT_EQ(chipBytes(0, 0, 5), slice(rom, 0, 5));
        EXPECT_TRUE(allErased(0, 5, 64));
        EXPECT_EQ(sim::chip(0).mode(), sim::FlashChip::Mode::Read);
    }
}

TEST_F(FlashRomTest, CancelWhileErasingStillWrites)
{
    sim::insertCart("flash4");
    Bytes rom = pattern(4096);
    onEvent("Erasing Cartridge", 2, pressCancel);
    flash(romFile(rom));
    expectLog(FLASH4 +
              Lines{"ROM size of 4096 bytes is", "smaller than the flash size of 524288 bytes."} +
              TURBO_AUTO_OFF + Lines{"Flashing 'game.ngp'", wrote(4096), DONE});
    EXPECT_EQ(chipBytes(0, 0, 4096), rom);
    EXPECT_TRUE(allErased(0, 4096, FLASH4_SIZE - 4096));
}

// ---- Chips that misbehave ----------------------------------------------------

TEST_F(FlashRomTest, ChipReadingZeroAtItsFirstPollIsNotErasing)
{
    sim::insertCart("flash4");
    sim::chipIgnoresErase(0);
    sim::chip(0).poke(0, 0x00);
    sim::Mark m = sim::mark();
    flash(romFile(pattern(FLASH4_SIZE)));
    expectLog(FLASH4 + TURBO_AUTO_OFF + Lines{"Not able to erase chip 0!"});
    auto cmds = commandsSince(m);
    EXPECT_EQ(polledChips(cmds), std::vector<int>{0});
    ASSERT_GE(cmds.size(), 2u);
    EXPECT_TRUE(isChipErase(cmds[cmds.size() - 2])) << "more than one poll";
    EXPECT_EQ(cmds.back().code, CMD_READ);
    EXPECT_TRUE(flashWrites(cmds).empty());
}

TEST_F(FlashRomTest, ChipThatIgnoresTheEraseIsReported)
{
    sim::insertCart("bung");
    sim::chipIgnoresErase(1);
    sim::chip(1).poke(0, 0x12);  // status bit clear, and the same on every read
    sim::Mark m = sim::mark();
    flash(romFile(pattern(4 * MIB)));
    expectLog(BUNG + TURBO_AUTO_OFF + Lines{"Not able to erase chip 1!"});
    EXPECT_TRUE(flashWrites(commandsSince(m)).empty());
}

TEST_F(FlashRomTest, EraseIsWaitedForMinutesButNotForever)
{
    // Polls made slow so that minutes of modelled time pass in a few hundred.
    sim::insertCart("flash4");
    sim::costs().turnaround = 0.5;
    sim::setEraseTimes(0.7, 4 * 240.0);  // flash4 is a quarter of 16 Mbit: 240 s
    flash(romFile(pattern(64)));
    EXPECT_TRUE(logHasInOrder({"Flashing 'game.ngp'", DONE}));

    sim::insertCart("flash4");
    sim::chipEraseNeverEnds(0);
    clearLog();
    sim::Mark m = sim::mark();
    flash(romFile(pattern(64)));
    expectLog(FLASH4 +
              Lines{"ROM size of 64 bytes is", "smaller than the flash size of 524288 bytes."} +
              TURBO_AUTO_OFF + Lines{"Not able to erase chip 0!"});
    // Given up five minutes after the erase command, at the first poll past it.
    double erased = -1, last = -1;
    for (const auto& t : sim::transfersSince(m)) {
        if (!t.in() && t.bytes.size() == 64 && t.bytes[0] == CMD_WRITE && t.bytes[4] == 0x10)
            erased = t.time;
        last = t.time;
    }
    ASSERT_GE(erased, 0.0);
    EXPECT_GT(last - erased, 300.0);
    EXPECT_LT(last - erased, 302.0);
}

TEST_F(FlashRomTest, ByteThatNeverProgramsEndsTheChunkMethod)
{
    // The linker reports the packet it could not program.
    sim::insertCart("flash4");
    sim::byteNeverPrograms(0, 0x1234);
    Bytes rom = pattern(0x1240);
    sim::Mark m = sim::mark();
    flash(romFile(rom));
    expectLog(FLASH4 +
              Lines{"ROM size of 4672 bytes is", "smaller than the flash size of 524288 bytes."} +
              TURBO_AUTO_OFF +
              Lines{"Flashing 'game.ngp'", "flash_write_64xN_bytes: processed 0 packets, but sent 1",
                    ABORTED});
    auto writes = flashWrites(commandsSince(m));
    ASSERT_EQ(writes.size(), 10u);
    EXPECT_EQ(writes.back().address, 0x1200u);
    EXPECT_EQ(writes.back().count, 1);
}

TEST_F(FlashRomTest, ByteThatNeverProgramsEndsTheByteMethod)
{
    sim::insertCart("flash4");
    sim::byteNeverPrograms(0, 0x1234);
    write_N = 1;
    Bytes rom = pattern(0x1240);
    sim::Mark m = sim::mark();
    flash(romFile(rom));
    expectLog(FLASH4 +
              Lines{"ROM size of 4672 bytes is", "smaller than the flash size of 524288 bytes."} +
              TURBO_AUTO_OFF +
              Lines{"Flashing 'game.ngp'", "Writing addr 0x001234 failed!", ABORTED});
    auto cmds = commandsSince(m);
    EXPECT_EQ(readsOf(cmds, 0x1234), 2000);
    EXPECT_EQ(cmds.back().code, CMD_READ);  // nothing after it
    EXPECT_EQ(cmds.back().address, 0x1234u);
    EXPECT_EQ(chipBytes(0, 0, 0x1234), slice(rom, 0, 0x1234));
    EXPECT_TRUE(allErased(0, 0x1235, 0x100));
}

// ---- The link failing --------------------------------------------------------

TEST_F(FlashRomTest, TimedOutChunkEndsTheJobAsAborted)
{
    sim::insertCart("flash4");
    Bytes rom = pattern(FLASH4_SIZE);
    // The fifth chunk's second data packet never leaves.
    onEvent("Writing Cartridge", 5, [] { sim::timeoutOnTransfer(3); });
    sim::Mark m = sim::mark();
    flash(romFile(rom));
    expectLog(FLASH4 + TURBO_AUTO_OFF +
              Lines{"Flashing 'game.ngp'", "", "Error: LIBUSB_ERROR_TIMEOUT", "Operation timed out.",
                    ABORTED});
    EXPECT_EQ(flashWrites(commandsSince(m)).size(), 5u);
    EXPECT_EQ(chipBytes(0, 0, 4 * 512), slice(rom, 0, 4 * 512));
}

TEST_F(FlashRomTest, RefusedChunkEndsTheJobAsAborted)
{
    sim::insertCart("flash4");
    write_N = 32;
    onEvent("Writing Cartridge", 5, [] { sim::wrongCodeOnTransfer(1); });
    sim::Mark m = sim::mark();
    flash(romFile(pattern(FLASH4_SIZE)));
    expectLog(FLASH4 + TURBO_AUTO_OFF +
              Lines{"Flashing 'game.ngp'", "flash_write_32_bytes: result = 0xEE", ABORTED});
    EXPECT_EQ(flashWrites(commandsSince(m)).size(), 5u);
}

const Lines GONE = {"", "Error: LIBUSB_ERROR_NO_DEVICE",
                    "No such device (it may have been disconnected)."};

TEST_F(FlashRomTest, UnpluggedLinkerEndsTheJobWithOneErrorAndNoHang)
{
    flashUnpluggedAt("Writing Cartridge", 10, 4);  // in the middle of a chunk's packets
    expectLog(FLASH4 + TURBO_AUTO_OFF + Lines{"Flashing 'game.ngp'"} + GONE + Lines{ABORTED});

    write_N = 1;
    G_unlockBypassMode = TURBO_OFF;
    clearLog();
    flashUnpluggedAt("Writing Cartridge", 10, 2);  // in the middle of a byte's unlock cycles
    expectLog(FLASH4 + Lines{"Flashing 'game.ngp'"} + GONE + Lines{ABORTED});
}

TEST_F(FlashRomTest, UnpluggedLinkerInTurboStillTriesToLeaveBypass)
{
    // Both writes that leave unlock bypass are tried (after a passing fault
    // they are what gives the chip back); a vanished linker is worded once.
    write_N = 1;
    G_unlockBypassMode = TURBO_ON;
    flashUnpluggedAt("Writing Cartridge", 10, 1);
    expectLog(FLASH4 + TURBO_FORCED + Lines{"Flashing 'game.ngp'", NO_VERIFICATION} + GONE +
              Lines{ABORTED});
}

TEST_F(FlashRomTest, UnpluggedLinkerWhileErasingIsNotAbleToErase)
{
    flashUnpluggedAt("Erasing Cartridge", 3, 0);
    expectLog(FLASH4 + TURBO_AUTO_OFF + GONE + Lines{"Not able to erase chip 0!"});
}

}  // namespace
