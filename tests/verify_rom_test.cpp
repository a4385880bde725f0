// Verify ROM against the simulated cartridges.
#include <cstdio>

#include "gui/commands.h"
#include "support/job_helpers.h"
#include "gui/file_choice.h"

namespace {

const uint32_t MBIT16 = 0x200000;
const std::string NO_DIFFERENCES = "No differences found, but cart was larger than file";
const std::string MATCHES = "The cartridge matches the file.";
const std::string DIFFERS = "The cartridge differs from the file.";

using VerifyRom = JobTest;

// Verifies the file at `path`, or these bytes as "game.ngp"; the read
// requests the job sent.
std::vector<Command> verify(const std::string& path)
{
    return only(runWithFile("verify", path), CMD_READ64XN);
}

std::vector<Command> verify(const Bytes& file)
{
    writeFile(scratchPath("game.ngp"), file);
    return verify(scratchPath("game.ngp"));
}

std::string mismatch(uint32_t addr, uint8_t file)
{
    char line[80];
    snprintf(line, sizeof line, "Mismatch at 0x%06X: file=0x%02X cart=0x%02X", addr, file, sim::cartPeek(addr));
    return line;
}

// The file's path is held whole, however long.
TEST_F(VerifyRom, Exact16MbitImageWalksEveryBlockInHalvingRequests)
{
    std::string path = longPath("deep.ngp");
    writeFile(path, sim::cartImage());
    std::vector<Command> reads = verify(path);
    EXPECT_EQ(asked(), "Verify a ROM|*.{ngp,rom,bin,ngc,ngpc}|0|no name");
    EXPECT_TRUE(logIs(Lines{"Verifying 'deep.ngp'", timingLine(MBIT16), MATCHES} + windowIdentityOf(path)));

    // Each 64 KiB block, then the 32, 8, 8 and 16 KiB top blocks.
    const std::vector<int> block64k = {128, 128, 128, 128, 128, 128, 128, 64, 32, 16, 8, 4, 2, 1, 1};
    std::vector<int> expected;
    for (int b = 0; b < 31; b++)
        expected = expected + block64k;
    expected = expected + std::vector<int>{128, 128, 128, 64, 32, 16, 8, 4, 2, 1, 1, 64, 32, 16, 8, 4, 2, 1, 1,
                                           64, 32, 16, 8, 4, 2, 1, 1, 128, 64, 32, 16, 8, 4, 2, 1, 1};
    ASSERT_EQ(reads.size(), 501u);
    uint32_t next = 0;
    for (size_t k = 0; k < reads.size(); next += reads[k++].count * 64)
        EXPECT_EQ(std::tie(reads[k].count, reads[k].addr, reads[k].chip), std::make_tuple(expected[k], next, 0)) << k;
    EXPECT_EQ(next, MBIT16);
}

// Files that differ from the 16 Mbit cartridge in size or bytes, and no
// cartridge at all: the whole log, and how far the walk went.
TEST_F(VerifyRom, Verdicts)
{
    const Bytes image = sim::cartImage();
    Bytes larger = image + Bytes(4096, 0x33), twoDiffs = image, shortFile = slice(image, 0, 0x10064);
    twoDiffs[0x10010] ^= 0x01;  // both in the first chunk of block 1, which is protected
    twoDiffs[0x11FFF] ^= 0xFF;
    Bytes shortDiff = shortFile;  // ends 100 bytes into block 1
    shortDiff[0x10032] ^= 0x80;
    const Lines smaller = {" smaller than the flash size of 2097152 bytes.", "Verifying 'game.ngp'"};
    // `timed`: the bytes of the timing line that ends the log, or -1; `bytes`: those asked for in all;
    // `done`: the verdict passed, so the file's identity follows; `after`: lines after the timing line.
    const struct { const char* what; const char* cart; Bytes file; Lines lines; int64_t timed; size_t requests;
                   uint32_t bytes; bool done; Lines after = {}; } cases[] = {
        {"larger file", "official16", larger,
         {"Warning! ROM size of 2101248 bytes is", " is larger than the flash size of 2097152 bytes.",
          "Verifying 'game.ngp'"},
         MBIT16, 501, MBIT16, false,
         {"Not compared: 4096 bytes past the cart's end."}},
        {"two differences in one protected chunk", "official16", twoDiffs,
         {"Verifying 'game.ngp'", mismatch(0x10010, twoDiffs[0x10010]), mismatch(0x11FFF, twoDiffs[0x11FFF]),
          "Verification failed in chip 0, block 1."},
         0x10000, 17, 0x10000 + 2 * 8192, false},  // the differing chunk read twice
        {"empty file", "official16", {}, {"'game.ngp' is empty; nothing to compare."}, -1, 0, 0, false},
        {"file ending inside a chunk", "official16", shortFile,
         Lines{"ROM size of 65636 bytes is"} + smaller + Lines{"End of file reached at addr 0x010064", NO_DIFFERENCES},
         -1, 16, 0x10000 + 8192, true},
        {"its last bytes compared", "official16", shortDiff,
         Lines{"ROM size of 65636 bytes is"} + smaller +
             Lines{mismatch(0x10032, shortDiff[0x10032]), "Verification failed in chip 0, block 1."},
         0x10000, 17, 0x10000 + 2 * 8192, false},
        {"no cartridge", "none", Bytes(100, 0),
         {"No cart detected!", "Warning! ROM size of 100 bytes is", " is larger than the flash size of 0 bytes.",
          "Verifying 'game.ngp'"},
         0, 0, 0, false, {"Not compared: 100 bytes past the cart's end."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(sim::insertCart(c.cart));
        std::vector<Command> reads = verify(c.file);
        // One line says how it went, unless nothing was compared; what
        // explains a failure follows it.
        Lines outcome = c.done ? Lines{MATCHES} + windowIdentityOf(scratchPath("game.ngp"))
                        : c.requests > 0 ? Lines{DIFFERS} : Lines{};
        EXPECT_TRUE(logIs((c.timed < 0 ? c.lines : c.lines + Lines{timingLine(uint32_t(c.timed))}) + outcome +
                          c.after));
        EXPECT_EQ(reads.size(), c.requests);
        uint32_t bytes = 0;
        for (const Command& r : reads)
            bytes += r.count * 64;
        EXPECT_EQ(bytes, c.bytes);
    }
}

// The chunk in flight when Cancel is pressed is still compared.
TEST_F(VerifyRom, CancelDuringABlockCountsTheChunksDone)
{
    atEvent(3);
    EXPECT_EQ(verify(sim::cartImage()).size(), 3u);
    EXPECT_TRUE(logIs({"Verifying 'game.ngp'", "Verifying cancelled.", timingLine(3 * 8192)}));
}

TEST_F(VerifyRom, SecondsAreCountedOnTheLinksClock)
{
    atEvent(3, [] { sim::advanceClock(100.0); });  // a link that stalls for 100 s
    verify(sim::cartImage());
    ASSERT_GE(g_lastJobSpan, 100.0);
    EXPECT_TRUE(logIs(Lines{"Verifying 'game.ngp'", timingLine(MBIT16), MATCHES} + windowIdentityOf(scratchPath("game.ngp"))));
}

// The fault strikes the fifth request (at 0x8000); no summary follows.
TEST_F(VerifyRom, LinkFailureEndsTheJobWithoutASummary)
{
    const LinkFault cases[] = {{[] { sim::timeoutOnTransfer(2); }, TIMED_OUT},
                               {[] { sim::unplugAfterTransfers(100); }, GONE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines.back());
        replug();
        atEvent(5, c.strike);
        EXPECT_EQ(verify(sim::cartImage()).size(), 5u);
        EXPECT_TRUE(logIs(Lines{"Verifying 'game.ngp'"} + c.lines + Lines{"Wut?! usb recv error.."} +
                          (c.lines == GONE ? GONE_NOTICE : Lines{})));
    }
}

TEST_F(VerifyRom, AProbeThatMetLinkFailuresJudgesNothing)
{
    // Block 1 differs, and the read of its protection status fails: it
    // would look unprotected and the difference pass as save data.
    Bytes image = sim::cartImage();
    image[0x10400] ^= 0x01;
    sim::wrongCodeOnTransfer(22);
    EXPECT_TRUE(verify(image).empty());
    EXPECT_TRUE(logIs({"read_byte: get_read_reply failure", "Cart check failed; verify not started."}));
}

TEST_F(VerifyRom, FileThatCannotBeHadIsNamedAndNothingIsSent)
{
    sim::Mark m = sim::mark();
    answerNoFile();
    clickCommand("verify");
    EXPECT_TRUE(logIs({"No file selected."}));
    verify(scratchPath("missing.ngp"));
    EXPECT_TRUE(logIs({"Failed to open 'missing.ngp': No such file or directory"}));
    // The window's log keeps a name's line break and tab on the name's line.
    verify(scratchPath("a\nFORGED\t.ngp"));
    EXPECT_TRUE(logIs({"Failed to open 'a\\x0AFORGED\\x09.ngp': No such file or directory"}));
    // A path beyond what the system takes at all is refused the same way.
    std::string huge = std::string(5000, 'x') + ".ngp";
    verify(scratchPath(huge));
    EXPECT_TRUE(logIs({("Failed to open '" + huge + "'").substr(0, 1023)}));
    EXPECT_TRUE(sim::transfersSince(m).empty());

    // A folder is no file: refused before anything is read or sent, never
    // "no differences".
    std::filesystem::create_directories(scratchPath("folder.ngp"));
    EXPECT_TRUE(verify(scratchPath("folder.ngp")).empty());
    EXPECT_EQ(logLines().back(), "'folder.ngp' is not a regular file; nothing done.");
    EXPECT_EQ(findLine(NO_DIFFERENCES), -1);
    EXPECT_TRUE(sim::transfersSince(m).empty());
}

}  // namespace
