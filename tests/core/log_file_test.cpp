// The log file keeps what the tool said, under the command that said it,
// bounded in size, and never gets in a job's way when it cannot be written.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "core/jobs/jobs.h"
#include "core/log_file.h"
#include "sim.h"
#include "support/core_job.h"
#include "support/log_file_records.h"
#include "support/sim_job.h"

namespace fs = std::filesystem;

namespace {

using Records = std::vector<LogRecord>;

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spit(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// "YYYY-MM-DD HH:MM:SS+hhmm [-] " plus the text and its line break.
constexpr size_t RECORD_OVERHEAD = 24 + 1 + 4 + 1;

class LogFile : public ::testing::Test {
protected:
    ScratchStateHome state;
    RecordingReporter quiet;

    std::string rotated(int n) const { return state.log() + "." + std::to_string(n); }
};

}  // namespace

TEST_F(LogFile, EachLineIsStampedWithTheCommandItBelongsTo)
{
    printWindow(quiet, "before any command");
    {
        CommandScope flash(quiet, "flash");
        printWindow(quiet, "Flashing done.");
        {
            CommandScope inner(quiet, "Preferences");
            printWindow(quiet, "Unknown skipChip mode value %d", 7);
        }
        printWindow(quiet, "back in flash");
    }
    printWindow(quiet, "after");
    EXPECT_EQ(logFileRecords(state.log()),
              (Records{{"-", "before any command"}, {"flash", "Flashing done."},
                       {"Preferences", "Unknown skipChip mode value 7"}, {"flash", "back in flash"},
                       {"-", "after"}}));
    EXPECT_EQ(quiet.lines.size(), 5u) << "the reporter still gets every line";
}

TEST_F(LogFile, LineBreaksGiveEachPartItsStampAndControlBytesAreEscaped)
{
    printWindow(quiet, "Error: LIBUSB_ERROR_OTHER\nOther error.");
    printWindow(quiet, "Checking for the linker and the cart..\n");
    printWindow(quiet, "%s", "");
    printWindow(quiet, "ROM name: '%s'", "\x1b]0;owned\x07\t\x7f");
    EXPECT_EQ(logFileRecords(state.log()),
              (Records{{"-", "Error: LIBUSB_ERROR_OTHER"}, {"-", "Other error."},
                       {"-", "Checking for the linker and the cart.."}, {"-", ""},
                       {"-", "ROM name: '\\x1B]0;owned\\x07\\x09\\x7F'"}}));
}

TEST_F(LogFile, WithoutAnAbsoluteStateHomeItGoesUnderHomeInPrivateFolders)
{
    std::string savedHome = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", state.folder().c_str(), 1);
    const std::string folder = state.folder() + "/.local/state/pockettetherbox";
    for (const char* xdg : {"", "relative/state", (const char*)nullptr}) {
        xdg ? setenv("XDG_STATE_HOME", xdg, 1) : unsetenv("XDG_STATE_HOME");
        EXPECT_EQ(logFilePath(), folder + "/pockettetherbox.log") << (xdg ? xdg : "unset");
    }
    printWindow(quiet, "here");
    EXPECT_EQ(logFileRecords(folder + "/pockettetherbox.log"), (Records{{"-", "here"}}));
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(folder + "/pockettetherbox.log").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(LogFile, RotatesBeforeALineWouldTakeItPastOneMibAndKeepsFive)
{
    printWindow(quiet, "x");
    // Exactly full: the next record of the same length would not fit.
    ASSERT_EQ(truncate(state.log().c_str(), off_t(LOG_FILE_MAX_BYTES - (RECORD_OVERHEAD + 1))), 0);
    printWindow(quiet, "y");
    ASSERT_EQ(fs::file_size(state.log()), LOG_FILE_MAX_BYTES) << "a record that fits was moved on";
    EXPECT_FALSE(fs::exists(rotated(1)));

    for (int i = 1; i <= LOG_FILE_KEPT; i++)
        spit(rotated(i), "older " + std::to_string(i) + "\n");
    const std::string full = slurp(state.log());
    printWindow(quiet, "z");

    EXPECT_EQ(logFileRecords(state.log()), (Records{{"-", "z"}}));
    EXPECT_EQ(slurp(rotated(1)), full);
    for (int i = 2; i <= LOG_FILE_KEPT; i++)
        EXPECT_EQ(slurp(rotated(i)), "older " + std::to_string(i - 1) + "\n") << "file ." << i;
    EXPECT_FALSE(fs::exists(rotated(LOG_FILE_KEPT + 1))) << "more than five kept";
}

// Another running copy rotates the file while this one waits for it: the
// line must land in the new file, not in the one just moved away.
TEST_F(LogFile, ALineWaitingForARotationGoesToTheNewFile)
{
    printWindow(quiet, "old");
    int other = open(state.log().c_str(), O_WRONLY);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(other);  // the lock belongs to the other copy alone
        printWindow(quiet, "waited");
        _exit(0);
    }
    // The kernel lists a process blocked on a lock with "->" before it.
    const std::string blocked = "-> FLOCK  ADVISORY  WRITE " + std::to_string(child) + " ";
    bool waiting = false;
    for (int polls = 0; !waiting && polls < 100000; polls++)
        waiting = slurp("/proc/locks").find(blocked) != std::string::npos;
    EXPECT_TRUE(waiting) << "the line was written without waiting for the lock";
    rename(state.log().c_str(), rotated(1).c_str());
    close(other);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(logFileRecords(rotated(1)), (Records{{"-", "old"}}));
    EXPECT_EQ(logFileRecords(state.log()), (Records{{"-", "waited"}}));
}

// A log that cannot be written: the job runs and reports exactly as it
// would otherwise, and nothing is said about the file.
TEST_F(CoreJobTest, ALogFileThatCannotBeWrittenNeverDisturbsAJob)
{
    ScratchStateHome state;
    RecordingReporter reference;
    sim::insertCart("flash4");
    ASSERT_TRUE(cartInfo(simJob(reference)));

    std::string notAFolder = state.folder() + "/file";
    spit(notAFolder, "");
    struct Case {
        const char* name;
        std::function<void()> breakIt;
    } cases[] = {
        {"state home under a file", [&] { setenv("XDG_STATE_HOME", (notAFolder + "/state").c_str(), 1); }},
        {"state home is a file", [&] { setenv("XDG_STATE_HOME", notAFolder.c_str(), 1); }},
        {"log is a folder", [&] {
             fs::remove(state.log());
             fs::create_directory(state.log());
         }},
    };
    for (auto& c : cases) {
        c.breakIt();
        RecordingReporter job;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(cartInfo(simJob(job))) << c.name;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.name;
        EXPECT_EQ(job.lines, reference.lines) << c.name;
        setenv("XDG_STATE_HOME", state.folder().c_str(), 1);
    }
    fs::remove(state.log());

    // A full disk: the file stops growing, the job goes on.
    printWindow(stderrReporter(), "fills the file");
    auto size = fs::file_size(state.log());
    {
        FileSizeLimit full(size);
        RecordingReporter job;
        EXPECT_TRUE(cartInfo(simJob(job)));
        EXPECT_EQ(job.lines, reference.lines);
    }
    EXPECT_EQ(fs::file_size(state.log()), size);
}

// Past `ulimit -f` a write raises SIGXFSZ, which would end the program in
// the middle of a job.
TEST(LogFileLimits, AFileSizeLimitDoesNotKillTheProgram)
{
    ScratchStateHome state;
    printWindow(stderrReporter(), "a line before the limit");
    EXPECT_EXIT(
        {
            rlimit limit;
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = rlim_t(fs::file_size(state.log()));
            setrlimit(RLIMIT_FSIZE, &limit);
            signal(SIGXFSZ, SIG_DFL);
            printWindow(stderrReporter(), "one line too many");
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
