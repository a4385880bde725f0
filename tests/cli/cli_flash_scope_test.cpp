// flash on the command line: verify is on unless --no-verify, and --erase
// picks what is erased.
#include "support/cli_run.h"

namespace {

TEST_F(CliTest, FlashVerifiesUnlessToldNotToAndErasesWhatItIsAskedTo)
{
    plug("flash8");
    Bytes rom = slice(sim::cartImage(), 0, 200000);
    rom[0x20005] ^= 0x01;  // block 2 alone differs
    std::string path = folder + "/homebrew.ngp";
    writeFile(path, rom);
    sim::Mark m = sim::mark();
    CliRun r = run({"flash", "--erase", "changed", path});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Verify after writing: all 65536 bytes match.\nFlashing done.\nBlocks rewritten: 1, already right: 3.\n"),
              std::string::npos) << r.out;
    for (const Command& c : commandsSince(m, CMD_FLASH_WRITE64XN))
        EXPECT_TRUE(c.addr >= 0x20000 && c.addr < 0x30000) << std::hex << c.addr;

    uint8_t past = sim::cartPeek(0x40000);  // past the ROM's last block
    r = run({"flash", "--erase", "rom", "--no-verify", path});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Verify"), std::string::npos) << r.out;
    EXPECT_EQ(sim::cartPeek(0x40000), past);

    // A byte the chip never takes, where nothing reads it back: the write finds it.
    sim::byteNeverPrograms(0, 0x4000);
    r = run({"flash", "--turbo", "on", "--write-n", "1", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lineFromEnd(1), "Writing addr 0x004000 failed!") << r.out;
    EXPECT_EQ(r.lastLine(), "Flashing aborted. Cart status unknown.") << r.out;

    EXPECT_EQ(run({"flash", "--erase", "blocks", path}).status, 2);
}

// The linker pulled while a chip or a block erases: a link failure, as any
// other, never a chip that would not erase (the chip is fine).
TEST_F(CliTest, AnUnplugDuringAnEraseIsALinkFailure)
{
    for (const char* scope : {"chips", "rom"}) {
        SCOPED_TRACE(scope);
        plug("flash8");
        sim::chipEraseNeverEnds(0);
        std::string path = folder + "/homebrew.ngp";
        writeFile(path, pattern(0x30000));
        sim::Mark m = sim::mark();
        atBreath = [m](int) {
            for (const Command& c : commandsSince(m, CMD_WRITE))
                if (c.value == 0x10 || c.value == 0x30)
                    sim::unplugAfterTransfers(0);
        };
        CliRun r = run({"flash", "--force", "--erase", scope, path});
        atBreath = nullptr;
        EXPECT_EQ(r.status, 3) << r.out;
        EXPECT_EQ(r.out.find("Not able to erase"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\nError: LIBUSB_ERROR_NO_DEVICE\nNo such device (it may have been disconnected).\n"
                             "Flashing aborted. Cart status unknown.\n"),
                  std::string::npos)
            << r.out;
    }
}

}  // namespace
