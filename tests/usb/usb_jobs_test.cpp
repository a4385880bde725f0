// The user's commands through the real libusb on a 4 Mbit flash cartridge:
// what the log says, what the device saw, and what the files and the chips
// hold afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device_control.h"
#include "support/command_buttons.h"
#include "support/identity_lines.h"
#include "support/job_fixture.h"

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// Each test runs in a launcher of its own, so the device is fresh already.
void simFreshDevice() {}

namespace {

const uint32_t FLASH4_SIZE = 0x80000;
const Lines FLASH4 = {"4mbit cart detected.", "ROM name: 'SMALL4'"};

Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

const uint32_t GAME_SIZE = 0x10000;

// Bytes no erased or stale chip could show by accident, under the
// cartridge's own header so that the ROM name stays "SMALL4".
Bytes pattern(size_t size)
{
    Bytes b(size);
    uint32_t x = 0x12345678;
    for (auto& v : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = uint8_t(x);
    }
    const char name[12] = "SMALL4";
    std::copy(name, name + sizeof name, b.begin() + 0x24);
    return b;
}

Bytes cartridge()
{
    std::string path = scratchPath("cart.img");
    deviceRequest("save-image " + path);
    return readFile(path);
}

class UsbJobs : public JobTest {};

}  // namespace

TEST_F(UsbJobs, CartInfoProbesOneChipAndNamesTheGame)
{
    uint64_t m = deviceMark();
    clickCommand("info");
    EXPECT_EQ(logLines(), (Lines{"Chip #0 info:", "  ManufID  = 0xEC", "  DeviceID = 0xAB", "  FactoryProt = 0x80"} +
                           FLASH4 +
                           Lines{"Cart header:", "  Licence  = ' LICENSED BY SNK CORPORATION'",
                                 "  Entry    = 0x00200040", "  Serial   = 1234", "  Version  = 0x00",
                                 "  System   = colour (0x10)", "  Title    = 'SMALL4'"}));
    // 13 exchanges for the chip, 9 for the empty position, 12 for the name,
    // 1 for the header.
    auto seen = transfersSince(m);
    ASSERT_EQ(seen.size(), 2u * (13 + 9 + 12 + 1));
    for (size_t i = 0; i < seen.size(); i++) {
        EXPECT_EQ(seen[i].endpoint, i % 2 ? 0x81 : 0x02) << i;
        EXPECT_EQ(seen[i].requested, 64) << i;
        EXPECT_EQ(seen[i].bytes.size(), 64u) << i;
        EXPECT_EQ(seen[i].result, 0) << i;
    }
}

// Backs the cartridge up into a file, which must hold `cart`, then verifies
// a 64 KB game file against the cartridge. Kept small: every transfer costs
// a real round trip through the kernel interface.
static void expectBackupAndVerifyGive(const Bytes& cart, const std::string& game)
{
    std::string copy = scratchPath("copy.ngp");
    clearLog();
    answerFileChoice(copy);
    clickCommand("backup");
    EXPECT_EQ(logLines(), (FLASH4 + Lines{"Backing up ROM to 'copy.ngp'", "Backup done. Wrote 524288 bytes."} +
                           windowIdentityOf(copy)));
    EXPECT_TRUE(readFile(copy) == cart);

    clearLog();
    answerFileChoice(game);
    clickCommand("verify");
    EXPECT_EQ(logLines(), (Lines{"ROM size of 65536 bytes is", " smaller than the flash size of 524288 bytes.",
                                 "Verifying 'game.ngp'", "End of file reached at addr 0x010000",
                                 "No differences found, but cart was larger than file",
                                 "The cartridge matches the file."} +
                           windowIdentityOf(game)));
}

TEST_F(UsbJobs, BackupAndVerifyReadTheCartridgeWhole)
{
    Bytes cart = pattern(FLASH4_SIZE);
    std::string image = scratchPath("image.bin"), game = scratchPath("game.ngp");
    writeFile(image, cart);
    writeFile(game, Bytes(cart.begin(), cart.begin() + GAME_SIZE));
    deviceRequest("load-image " + image);
    expectBackupAndVerifyGive(cart, game);
}

TEST_F(UsbJobs, FlashBackupAndVerifyGiveBackTheSameBytes)
{
    Bytes rom = pattern(GAME_SIZE);
    std::string game = scratchPath("game.ngp");
    writeFile(game, rom);

    answerFileChoice(game);
    clickCommand("flash");
    Lines log = logLines(), identity = windowIdentityOf(game, true);
    ASSERT_EQ(log.size(), 10u + identity.size());
    EXPECT_EQ(Lines(log.begin() + 10, log.end()), identity);
    EXPECT_EQ(Lines(log.begin(), log.begin() + 8),
              (FLASH4 + Lines{"ROM size of 65536 bytes is", "smaller than the flash size of 524288 bytes.", "",
                              "Turbo Mode OFF for non-Cindercart cartridge!", "", "Flashing 'game.ngp'"}));
    EXPECT_EQ(log[8].compare(0, 19, "Wrote 65536 bytes i"), 0) << log[8];
    EXPECT_EQ(log[9], "Flashing done.");
    // The rest of the chip is left erased.
    Bytes cart = rom;
    cart.resize(FLASH4_SIZE, 0xFF);
    EXPECT_TRUE(cartridge() == cart);
    expectBackupAndVerifyGive(cart, game);
}

TEST_F(UsbJobs, UnpluggedDuringABackupLeavesNoFileAndNoHang)
{
    std::string path = scratchPath("partial.ngp");
    answerFileChoice(path);
    // The probe takes 68 transfers and each chunk 129: the cable goes in
    // the second chunk.
    deviceRequest("fault unplug@200");
    uint64_t m = deviceMark();
    clickCommand("backup");
    // Once the job has ended, the window says the linker is gone.
    EXPECT_EQ(logLines(), (FLASH4 + Lines{"Backing up ROM to 'partial.ngp'"} + kNoDeviceLines +
                           Lines{"Wut?! usb recv error..", "Backup aborted. Deleting the backup file.",
                                 "The linker is gone. Plug it in again."}));
    EXPECT_TRUE(readFile(path).empty());
    EXPECT_FALSE(std::ifstream(path).good());
    // A hang is a transfer left to run out its time-out, or one tried again
    // after the cable went; the device's own record shows either, whatever
    // the load on the machine that runs the test.
    auto seen = transfersSince(m);
    ASSERT_EQ(seen.size(), 201u) << "the job went on after the cable was pulled";
    EXPECT_EQ(seen.back().result, -4) << "the one transfer that met the pulled cable";
    for (const SeenTransfer& t : seen)
        EXPECT_NE(t.result, -7) << "a transfer waited out its time-out";
}
