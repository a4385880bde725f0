#include <signal.h>
#include <sys/resource.h>

#include <cstring>

#include "ops/commands.h"
#include "rom_job_helpers.h"
#include "ui/file_choice.h"
#include "ui/progress.h"

class BackupRom : public JobTest {};

static const uint32_t MBIT16 = 0x200000;

// The 12 header bytes the probe reads as the ROM name.
static void setRomName(const char (&name)[13])
{
    for (int i = 0; i < 12; i++)
        sim::cartPoke(0x24 + i, uint8_t(name[i]));
}

// Backs up into `path`; returns where the trace stood before the job.
static sim::Mark backupTo(const std::string& path)
{
    answerFileChoice(path);
    sim::Mark m = sim::mark();
    cb_backupROM_button(nullptr, nullptr);
    return m;
}

TEST_F(BackupRom, Copies16MbitCartridgeFromChip0InWholeRequests)
{
    std::string path = scratchPath("game.ngp");
    sim::Mark m = backupTo(path);

    EXPECT_EQ(lastFileRequest().title, "Select file for backup");
    EXPECT_EQ(lastFileRequest().pattern, "*.{ngp,rom,bin}");
    EXPECT_EQ(lastFileRequest().mode, CHOOSE_CREATE);
    EXPECT_EQ(lastFileRequest().initial, "SIM OFFICIAL.ngp");
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "16mbit cart detected.", "ROM name: 'SIM OFFICIAL'",
                              "Backing up ROM to 'game.ngp'", "Backup done. Wrote 2097152 bytes."}));
    EXPECT_TRUE(readFile(path) == sim::cartImage());
    std::vector<ReadRequest> reads = readRequestsSince(m);
    ASSERT_EQ(reads.size(), 256u);
    for (uint32_t k = 0; k < reads.size(); k++) {
        EXPECT_EQ(reads[k].address, k * 8192) << k;
        EXPECT_EQ(reads[k].chip, 0) << k;
        EXPECT_EQ(reads[k].packets, 128) << k;
    }
    EXPECT_EQ(progress_window, nullptr);
}

TEST_F(BackupRom, Copies32MbitCartridgeWithChip1FromItsAddress0)
{
    sim::insertCart("official32");
    std::string path = scratchPath("big.ngp");
    sim::Mark m = backupTo(path);

    EXPECT_EQ(findLine("Backup done. Wrote 4194304 bytes."), int(logLines().size()) - 1);
    Bytes file = readFile(path);
    ASSERT_EQ(file.size(), 2 * MBIT16);
    EXPECT_TRUE(Bytes(file.begin(), file.begin() + MBIT16) == sim::chip(0).contents());
    EXPECT_TRUE(Bytes(file.begin() + MBIT16, file.end()) == sim::chip(1).contents());
    std::vector<ReadRequest> reads = readRequestsSince(m);
    ASSERT_EQ(reads.size(), 512u);
    for (uint32_t k = 0; k < reads.size(); k++) {
        EXPECT_EQ(reads[k].chip, k < 256 ? 0 : 1) << k;
        EXPECT_EQ(reads[k].address, (k % 256) * 8192) << k;
    }
}

TEST_F(BackupRom, DefaultNameDropsTrailingPaddingButNeverTheFirstCharacter)
{
    struct Case {
        char rom[13];
        const char* proposed;
    } cases[] = {
        {"ZOMBIE      ", "ZOMBIE.ngp"},
        {"A B\t\r\n\v\f\0 \0 ", "A B.ngp"},
        {"            ", " .ngp"},
        {"\0\0\0\0\0\0\0\0\0\0\0\0", ".ngp"},
        {"AB\0DEFGHIJKL", "AB.ngp"},
        {"RPG:1/2*?<> ", "RPG:1/2*?<>.ngp"},
        {"FULLTWELVE12", "FULLTWELVE12.ngp"},
    };
    for (const Case& c : cases) {
        clearLog();
        setRomName(c.rom);
        answerNoFile();
        sim::Mark m = sim::mark();
        cb_backupROM_button(nullptr, nullptr);
        EXPECT_EQ(lastFileRequest().initial, c.proposed);
        EXPECT_EQ(logLines().back(), "No file selected.");
        EXPECT_TRUE(readRequestsSince(m).empty());
        EXPECT_EQ(progress_window, nullptr);
    }
}

TEST_F(BackupRom, CancelLeavesNoFileEvenOneThatExistedBefore)
{
    std::string path = scratchPath("old.ngp");
    writeFile(path, Bytes(100, 0x5A));
    cancelAfterEvents(3);
    sim::Mark m = backupTo(path);

    // The chunk in flight when Cancel was pressed is still read.
    EXPECT_EQ(readRequestsSince(m).size(), 3u);
    EXPECT_EQ(logLines().back(), "Backup aborted. Deleting the backup file.");
    EXPECT_FALSE(fileExists(path));
    EXPECT_EQ(progress_window, nullptr);
}

TEST_F(BackupRom, CancelDuringTheLastChunkIsStillAnAbort)
{
    std::string path = scratchPath("last.ngp");
    cancelAfterEvents(256);
    sim::Mark m = backupTo(path);

    EXPECT_EQ(readRequestsSince(m).size(), 256u);
    EXPECT_EQ(findLine("Backup done. Wrote 2097152 bytes."), -1);
    EXPECT_EQ(logLines().back(), "Backup aborted. Deleting the backup file.");
    EXPECT_FALSE(fileExists(path));
}

// The fault strikes the sixth request (at 0xA000); the transfer's own lines
// come first, then the job's.
static void expectAbortAfterFault(std::function<void()> fault, std::vector<std::string> tail)
{
    std::string path = scratchPath("cut.ngp");
    atEvent(6, fault);
    sim::Mark m = backupTo(path);

    tail.push_back("Wut?! usb recv error..");
    tail.push_back("Backup aborted. Deleting the backup file.");
    std::vector<std::string> log = logLines();
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(log.end() - tail.size(), log.end()), tail);
    EXPECT_EQ(readRequestsSince(m).size(), 6u);
    EXPECT_FALSE(fileExists(path));
    EXPECT_EQ(progress_window, nullptr);
}

TEST_F(BackupRom, TimeoutAbortsAndDeletesThePartialFile)
{
    expectAbortAfterFault([] { sim::timeoutOnTransfer(3); },
                          {"", "Error: LIBUSB_ERROR_TIMEOUT", "Operation timed out."});
}

TEST_F(BackupRom, ShortPacketAbortsNamingTheRequestsAddress)
{
    expectAbortAfterFault([] { sim::shortPacketOnTransfer(3); },
                          {"libusb_bulk_transfer fail (addr=0xA000)"});
}

TEST_F(BackupRom, UnpluggedLinkerAbortsAndDeletesThePartialFile)
{
    expectAbortAfterFault(
        [] { sim::unplugAfterTransfers(40); },
        {"", "Error: LIBUSB_ERROR_NO_DEVICE", "No such device (it may have been disconnected)."});
}

TEST_F(BackupRom, AProbeThatMetLinkFailuresStartsNothing)
{
    // One failed read of the device byte would make this 8 Mbit cartridge
    // look like 16 Mbit, and the backup twice its real size.
    sim::insertCart("official8");
    sim::wrongCodeOnTransfer(16);
    answerFileChoice(scratchPath("eight.ngp"));
    sim::Mark m = sim::mark();
    cb_backupROM_button(nullptr, nullptr);
    EXPECT_TRUE(logHasInOrder({"read_byte: get_read_reply failure",
                               "Cart check failed; backup not started."}));
    EXPECT_EQ(logLines().back(), "Cart check failed; backup not started.");
    EXPECT_EQ(lastFileRequest().count, 0);
    EXPECT_FALSE(fileExists(scratchPath("eight.ngp")));
    EXPECT_TRUE(readRequestsSince(m).empty());

    // A linker gone before the job.
    clearLog();
    sim::unplugAfterTransfers(0);
    cb_backupROM_button(nullptr, nullptr);
    EXPECT_EQ(logLines().back(), "Cart check failed; backup not started.");
    EXPECT_EQ(lastFileRequest().count, 0);
    EXPECT_EQ(progress_window, nullptr);
}

TEST_F(BackupRom, NoCartridgeGivesAnEmptyFile)
{
    sim::insertCart("none");
    std::string path = scratchPath("empty.ngp");
    sim::Mark m = backupTo(path);

    EXPECT_EQ(logLines(), (std::vector<std::string>{"No cart detected!", "Backing up ROM to 'empty.ngp'",
                                                    "Backup done. Wrote 0 bytes."}));
    EXPECT_TRUE(fileExists(path));
    EXPECT_TRUE(readFile(path).empty());
    EXPECT_TRUE(readRequestsSince(m).empty());
}

TEST_F(BackupRom, PathsOfAnyLengthAreHeldWhole)
{
    std::string path = longPath("deep.ngp");
    ASSERT_GT(path.size(), 300u);
    backupTo(path);
    EXPECT_TRUE(logHasInOrder({"Backing up ROM to 'deep.ngp'", "Backup done. Wrote 2097152 bytes."}));
    EXPECT_TRUE(readFile(path) == sim::cartImage());

    // An abort deletes the file by its whole path, not a cut one.
    clearLog();
    cancelAfterEvents(2);
    cb_backupROM_button(nullptr, nullptr);
    EXPECT_EQ(logLines().back(), "Backup aborted. Deleting the backup file.");
    EXPECT_FALSE(fileExists(path));

    // Beyond what the system takes at all: refused, nothing sent.
    clearLog();
    sim::Mark m = backupTo(scratchPath(std::string(5000, 'x') + ".ngp"));
    EXPECT_EQ(logLines().back(), "Can't open file!");
    EXPECT_TRUE(readRequestsSince(m).empty());
    EXPECT_EQ(progress_window, nullptr);
}

// A file size limit stands in for a full disk; the process's own limit and
// signal disposition are put back whatever the test's outcome.
struct FileSizeLimit {
    rlimit saved;
    struct sigaction savedAction;
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        struct sigaction ignore;
        memset(&ignore, 0, sizeof ignore);
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &savedAction);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        sigaction(SIGXFSZ, &savedAction, nullptr);
    }
};

TEST_F(BackupRom, AShortWriteIsAnAbortNeverDone)
{
    for (rlim_t limit : {rlim_t(300000), rlim_t(MBIT16 - 100)}) {
        clearLog();
        std::string path = scratchPath("full.ngp");
        answerFileChoice(path);
        {
            FileSizeLimit full(limit);
            cb_backupROM_button(nullptr, nullptr);
        }
        std::vector<std::string> log = logLines();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2], "Can't write to the backup file: File too large") << limit;
        EXPECT_EQ(log.back(), "Backup aborted. Deleting the backup file.");
        EXPECT_EQ(findLine("Backup done. Wrote 2097152 bytes."), -1);
        EXPECT_FALSE(fileExists(path));
    }
}
