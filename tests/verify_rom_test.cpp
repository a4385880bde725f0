#include <cstdio>

#include "ops/commands.h"
#include "rom_job_helpers.h"
#include "ui/file_choice.h"
#include "ui/progress.h"

class VerifyRom : public JobTest {};

static const uint32_t MBIT16 = 0x200000;

// The image of the inserted cartridge, on disk.
static std::string imageFile(const std::string& name)
{
    std::string path = scratchPath(name);
    writeFile(path, sim::cartImage());
    return path;
}

static void verify(const std::string& path)
{
    answerFileChoice(path);
    runJob(cb_verify_button);
}

static std::string mismatchLine(uint32_t addr, uint8_t file, uint8_t cart)
{
    char line[80];
    snprintf(line, sizeof line, "Mismatch at 0x%06X: file=0x%02X cart=0x%02X", addr, file, cart);
    return line;
}

static const std::string NO_DIFFERENCES = "No differences found, but cart was larger than file";

TEST_F(VerifyRom, Exact16MbitImageWalksEveryBlockInHalvingRequests)
{
    std::string path = imageFile("game.ngp");
    sim::Mark m = sim::mark();
    verify(path);

    EXPECT_EQ(lastFileRequest().title, "Verify a ROM");
    EXPECT_EQ(lastFileRequest().pattern, "*.{ngp,rom,bin}");
    EXPECT_EQ(lastFileRequest().mode, CHOOSE_EXISTING);
    EXPECT_FALSE(lastFileRequest().hadInitial);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Verifying 'game.ngp'", timingLine(MBIT16)}));
    EXPECT_EQ(progress_window, nullptr);

    const std::vector<int> block64k = {128, 128, 128, 128, 128, 128, 128, 64, 32, 16, 8, 4, 2, 1, 1};
    const std::vector<int> block32k = {128, 128, 128, 64, 32, 16, 8, 4, 2, 1, 1};
    const std::vector<int> block16k = {128, 64, 32, 16, 8, 4, 2, 1, 1};
    const std::vector<int> block8k = {64, 32, 16, 8, 4, 2, 1, 1};
    std::vector<int> expected;
    for (int b = 0; b < 31; b++)
        expected.insert(expected.end(), block64k.begin(), block64k.end());
    for (const auto* top : {&block32k, &block8k, &block8k, &block16k})
        expected.insert(expected.end(), top->begin(), top->end());

    std::vector<ReadRequest> reads = readRequestsSince(m);
    ASSERT_EQ(reads.size(), 501u);
    uint32_t next = 0;
    for (size_t k = 0; k < reads.size(); k++) {
        EXPECT_EQ(reads[k].packets, expected[k]) << k;
        EXPECT_EQ(reads[k].address, next) << k;
        EXPECT_EQ(reads[k].chip, 0) << k;
        next += reads[k].packets * 64;
    }
    EXPECT_EQ(next, MBIT16);
}

TEST_F(VerifyRom, Exact8MbitImageEndsWhereTheFileDoes)
{
    sim::insertCart("official8");
    std::string path = imageFile("eight.ngp");
    sim::Mark m = sim::mark();
    verify(path);

    EXPECT_EQ(logLines(), (std::vector<std::string>{"Verifying 'eight.ngp'",
                                                    "End of file reached at addr 0x100000",
                                                    NO_DIFFERENCES}));
    std::vector<ReadRequest> reads = readRequestsSince(m);
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.back().address + reads.back().packets * 64, 0x100000u);
}

TEST_F(VerifyRom, LargerFileIsReadOnlyAsFarAsTheFlash)
{
    Bytes image = sim::cartImage();
    image.resize(image.size() + 4096, 0x33);
    std::string path = scratchPath("large.bin");
    writeFile(path, image);
    sim::Mark m = sim::mark();
    verify(path);

    EXPECT_EQ(logLines(), (std::vector<std::string>{"Warning! ROM size of 2101248 bytes is",
                                                    " is larger than the flash size of 2097152 bytes.",
                                                    "Verifying 'large.bin'", timingLine(MBIT16)}));
    uint32_t requested = 0;
    for (const ReadRequest& r : readRequestsSince(m))
        requested += r.packets * 64;
    EXPECT_EQ(requested, MBIT16);
}

TEST_F(VerifyRom, TwoDifferencesInOneProtectedChunkFailAtThatChunk)
{
    Bytes image = sim::cartImage();
    image[0x10010] ^= 0x01;
    image[0x11FFF] ^= 0xFF;
    std::string path = scratchPath("bad.ngp");
    writeFile(path, image);
    sim::Mark m = sim::mark();
    verify(path);

    EXPECT_EQ(logLines(),
              (std::vector<std::string>{
                  "Verifying 'bad.ngp'",
                  mismatchLine(0x10010, image[0x10010], sim::cartPeek(0x10010)),
                  mismatchLine(0x11FFF, image[0x11FFF], sim::cartPeek(0x11FFF)),
                  "Verification failed in chip 0, block 1.", timingLine(0x10000)}));
    std::vector<ReadRequest> reads = readRequestsSince(m);
    ASSERT_EQ(reads.size(), 16u);  // block 0, then the first chunk of block 1
    EXPECT_EQ(reads.back().address, 0x10000u);
    EXPECT_EQ(progress_window, nullptr);
}

TEST_F(VerifyRom, EmptyFileEndsAtAddressZero)
{
    std::string path = scratchPath("empty.ngp");
    writeFile(path, {});
    sim::Mark m = sim::mark();
    verify(path);

    EXPECT_EQ(logLines(), (std::vector<std::string>{"ROM size of 0 bytes is",
                                                    " smaller than the flash size of 2097152 bytes.",
                                                    "Verifying 'empty.ngp'",
                                                    "End of file reached at addr 0x000000",
                                                    NO_DIFFERENCES}));
    EXPECT_TRUE(readRequestsSince(m).empty());
}

TEST_F(VerifyRom, CancelDuringABlockCountsTheChunksDone)
{
    std::string path = imageFile("stop.ngp");
    cancelAfterEvents(3);
    sim::Mark m = sim::mark();
    verify(path);

    // The chunk in flight when Cancel was pressed is still compared.
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Verifying 'stop.ngp'", "Verifying cancelled.",
                                                    timingLine(3 * 8192)}));
    EXPECT_EQ(readRequestsSince(m).size(), 3u);
    EXPECT_EQ(progress_window, nullptr);
}

TEST_F(VerifyRom, SecondsAreCountedOnTheLinksClock)
{
    std::string path = imageFile("slow.ngp");
    atEvent(3, [] { sim::advanceClock(100.0); });  // a link that stalls for 100 s
    verify(path);
    ASSERT_GE(lastJobSpan(), 100.0);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Verifying 'slow.ngp'", timingLine(MBIT16)}));
}

// The fault strikes the fifth request (at 0x8000); no summary follows.
static void expectEndAfterFault(std::function<void()> fault, std::vector<std::string> lines)
{
    std::string path = imageFile("cut.ngp");
    atEvent(5, fault);
    sim::Mark m = sim::mark();
    verify(path);

    std::vector<std::string> expected = {"Verifying 'cut.ngp'"};
    expected.insert(expected.end(), lines.begin(), lines.end());
    expected.push_back("Wut?! usb recv error..");
    EXPECT_EQ(logLines(), expected);
    EXPECT_EQ(readRequestsSince(m).size(), 5u);
    EXPECT_EQ(progress_window, nullptr);
}

TEST_F(VerifyRom, TimeoutEndsTheJobWithoutASummary)
{
    expectEndAfterFault([] { sim::timeoutOnTransfer(2); },
                        {"", "Error: LIBUSB_ERROR_TIMEOUT", "Operation timed out."});
}

TEST_F(VerifyRom, UnpluggedLinkerEndsTheJobWithoutASummary)
{
    expectEndAfterFault(
        [] { sim::unplugAfterTransfers(100); },
        {"", "Error: LIBUSB_ERROR_NO_DEVICE", "No such device (it may have been disconnected)."});
}

TEST_F(VerifyRom, AProbeThatMetLinkFailuresJudgesNothing)
{
    // Block 1 differs, and the read of its protection status fails: it
    // would look unprotected and the difference pass as save data.
    Bytes image = sim::cartImage();
    image[0x10400] ^= 0x01;
    std::string path = scratchPath("bad.ngp");
    writeFile(path, image);
    sim::wrongCodeOnTransfer(22);
    sim::Mark m = sim::mark();
    verify(path);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"read_byte: get_read_reply failure",
                                                    "Cart check failed; verify not started."}));
    EXPECT_TRUE(readRequestsSince(m).empty());
    EXPECT_EQ(progress_window, nullptr);
}

TEST_F(VerifyRom, FileEndingInsideAChunkHasItsLastBytesCompared)
{
    Bytes image = sim::cartImage();
    image.resize(0x10064);  // 100 bytes into block 1, which is protected
    std::string path = scratchPath("short.ngp");
    writeFile(path, image);
    verify(path);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"ROM size of 65636 bytes is",
                                                    " smaller than the flash size of 2097152 bytes.",
                                                    "Verifying 'short.ngp'",
                                                    "End of file reached at addr 0x010064",
                                                    NO_DIFFERENCES}));

    clearLog();
    image[0x10032] ^= 0x80;
    writeFile(path, image);
    verify(path);
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "ROM size of 65636 bytes is",
                              " smaller than the flash size of 2097152 bytes.",
                              "Verifying 'short.ngp'",
                              mismatchLine(0x10032, image[0x10032], sim::cartPeek(0x10032)),
                              "Verification failed in chip 0, block 1.", timingLine(0x10000)}));
}

TEST_F(VerifyRom, FileThatCannotBeHadIsNamedAndNothingIsSent)
{
    sim::Mark m = sim::mark();
    answerNoFile();
    runJob(cb_verify_button);
    EXPECT_EQ(logLines(), std::vector<std::string>{"No file selected."});

    clearLog();
    verify(scratchPath("missing.ngp"));
    EXPECT_EQ(logLines(), std::vector<std::string>{"Failed to open 'missing.ngp'"});

    // A path beyond what the system takes at all is refused the same way.
    clearLog();
    std::string huge = std::string(5000, 'x') + ".ngp";
    verify(scratchPath(huge));
    ASSERT_EQ(logLines().size(), 1u);
    EXPECT_EQ(logLines()[0], ("Failed to open '" + huge + "'").substr(0, 1023));

    EXPECT_TRUE(sim::transfersSince(m).empty());
    EXPECT_EQ(progress_window, nullptr);

    // A folder opens but gives no bytes: a read failure, never "no differences".
    clearLog();
    std::string folder = scratchPath("folder.ngp");
    std::filesystem::create_directories(folder);
    verify(folder);
    EXPECT_EQ(logLines().back(), "Failed to read 'folder.ngp'");
    EXPECT_EQ(findLine(NO_DIFFERENCES), -1);
    EXPECT_EQ(progress_window, nullptr);
}

TEST_F(VerifyRom, PathsOfAnyLengthAreHeldWhole)
{
    std::string path = longPath("deep.ngp");
    ASSERT_GT(path.size(), 300u);
    writeFile(path, sim::cartImage());
    verify(path);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Verifying 'deep.ngp'", timingLine(MBIT16)}));
}

TEST_F(VerifyRom, NoCartridgeWalksNothing)
{
    sim::insertCart("none");
    std::string path = scratchPath("any.ngp");
    writeFile(path, Bytes(100, 0));
    sim::Mark m = sim::mark();
    verify(path);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"No cart detected!",
                                                    "Warning! ROM size of 100 bytes is",
                                                    " is larger than the flash size of 0 bytes.",
                                                    "Verifying 'any.ngp'", timingLine(0)}));
    EXPECT_TRUE(readRequestsSince(m).empty());
}
