// The command line's erase scope and verify options for flash: verify is
// on unless --no-verify, and --erase picks what is erased.
#include "support/cli_run.h"

namespace {

const char* const DONE = "Flashing done.";

std::string verifiedAll(uint32_t bytes)
{
    return "Verify after writing: all " + std::to_string(bytes) + " bytes match.";
}

Lines lastLines(const CliRun& r, size_t n)
{
    Lines all;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return Lines(all.end() - long(std::min(n, all.size())), all.end());
}

TEST_F(CliTest, FlashVerifiesUnlessToldNotTo)
{
    plug("flash8");
    Bytes rom = pattern(100000);
    std::string path = folder + "/homebrew.ngp";
    writeFile(path, rom);
    CliRun r = run({"flash", path});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(lastLines(r, 2), (Lines{verifiedAll(100000), DONE}));

    r = run({"flash", "--no-verify", path});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Verify after writing"), std::string::npos) << r.out;
    EXPECT_EQ(r.lastLine(), DONE);

    // A byte the chip never takes, written where nothing reads it back.
    sim::byteNeverPrograms(0, 0x4000);
    r = run({"flash", "--turbo", "on", "--write-n", "1", path});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.out.find(DONE), std::string::npos) << r.out;
    EXPECT_EQ(r.lastLine().rfind("Verify after writing: ", 0), 0u) << r.lastLine();
}

TEST_F(CliTest, FlashErasesWhatItIsAskedTo)
{
    plug("flash8");
    Bytes rom = slice(sim::cartImage(), 0, 200000);
    rom[0x20005] ^= 0x01;  // block 2 alone differs
    std::string path = folder + "/homebrew.ngp";
    writeFile(path, rom);
    sim::Mark m = sim::mark();
    CliRun r = run({"flash", "--erase", "changed", path});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(lastLines(r, 3), (Lines{verifiedAll(0x10000), DONE, "Blocks rewritten: 1, already right: 3."}));
    for (const Command& c : commandsSince(m, CMD_FLASH_WRITE64XN))
        EXPECT_TRUE(c.addr >= 0x20000 && c.addr < 0x30000) << std::hex << c.addr;

    // The ROM's blocks: the byte just past the last one keeps its value.
    uint8_t past = sim::cartPeek(0x40000);
    r = run({"flash", "--erase", "rom", "--no-verify", path});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(sim::cartPeek(0x40000), past);
    EXPECT_EQ(sim::cartPeek(200000), 0xFF) << "the rest of the ROM's last block is erased";

    r = run({"flash", "--erase", "blocks", path});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.empty());
}

}  // namespace
