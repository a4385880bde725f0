// The vault on the command line: the listing's stable format, a restore that
// puts the exact bytes back, one refused on another game's cartridge, and
// the command a stopped write names, run as a shell would run it.
#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>

#include "core/report.h"
#include "core/saves/safety_copy.h"
#include "core/saves/vault.h"
#include "support/cli_run.h"

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST_F(CliTest, SavesListAndRestore)
{
    setenv("TZ", "UTC0", 1);
    tzset();
    plug("official16");
    const Bytes before = sim::cartImage();
    std::string mine = folder + "/mine.ngf";
    ASSERT_EQ(run({"save-backup", mine}).status, 0);
    writeFile(folder + "/new.ngf", ngfFile({{0x3FA100, pattern(0x80)}}));
    ASSERT_EQ(run({"save-write", folder + "/new.ngf"}).status, 0);
    const Bytes written = sim::cartImage();

    // PATH, GAME, DATE, BYTES, KIND; the copy of the one block erased, the
    // backup of the one block unprotected; newest first.
    CliRun list = run({"saves", "list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.err, "") << "no linker opened";
    std::vector<VaultEntry> entries = vaultEntries();
    ASSERT_EQ(entries.size(), 2u);
    const std::regex line("([^\t]+)\tSIM_OFFICIAL-1234\t\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\+0000\t(\\d+)\t(copy|backup)");
    std::vector<std::vector<std::string>> rows;
    for (const std::string& l : linesOf(list.out)) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(l, m, line)) << l;
        rows.push_back({m[1], m[2], m[3]});
    }
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{entries[0].path, "8208", "copy"},
                                                           {std::filesystem::canonical(mine).string(), "8208", "backup"}}));
    EXPECT_EQ(run({"saves", "list", "1234"}).out, list.out);
    EXPECT_EQ(run({"saves", "list", "OTHER"}).out, "");
    EXPECT_EQ(run({"saves"}).status, 2) << "a subcommand is needed";

    // The copy undoes the write, the backup too; each run adds a copy of its own.
    struct { std::string path; int status; Bytes cart; } restores[] = {
        {entries[0].path, 0, before}, {mine, 0, before}, {folder + "/new.ngf", 1, written}};
    for (const auto& row : restores) {
        sim::loadImage(written);
        CliRun r = run({"saves", "restore", row.path});
        EXPECT_EQ(r.status, row.status) << r.out;
        EXPECT_EQ(sim::cartImage(), row.cart) << row.path;
    }
    EXPECT_EQ(run({"saves", "restore", folder + "/new.ngf"}).lastLines(2),
              "'" + folder + "/new.ngf' is no copy or backup\nthe vault holds; nothing was written.");

    // Another game's cartridge: refused, unless told otherwise.
    plug("official8");
    const Bytes other = sim::cartImage();
    CliRun refused = run({"saves", "restore", mine});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.lastLines(4), "'" + std::filesystem::canonical(mine).string() +
                                       "':\na save of SIM_OFFICIAL-1234,\nand the cartridge is SIM_OFFICL_8-1234;\n"
                                       "nothing was written to the cartridge.");
    EXPECT_EQ(sim::cartImage(), other);
    unsetenv("TZ");
    tzset();
}

// One file backed up from two games holds the last one's save: it is listed
// once, under that game, and refused on the other game's cartridge.
TEST_F(CliTest, ABackupBelongsToTheLastGameWrittenToIt)
{
    std::string mine = folder + "/mine.ngf";
    for (const char* cart : {"official32", "official16"}) {
        plug(cart);
        ASSERT_EQ(run({"save-backup", mine}).status, 0);
    }
    const std::string canonical = std::filesystem::canonical(mine).string();
    CliRun list = run({"saves", "list"});
    ASSERT_EQ(linesOf(list.out).size(), 1u) << list.out;
    EXPECT_EQ(list.out.rfind(canonical + "\tSIM_OFFICIAL-1234\t", 0), 0u) << list.out;

    plug("official32");
    const Bytes before = sim::cartImage();
    CliRun refused = run({"saves", "restore", mine});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.lastLines(4), "'" + canonical + "':\na save of SIM_OFFICIAL-1234,\n"
                                    "and the cartridge is SIM_BIG_GAME-1234;\nnothing was written to the cartridge.");
    EXPECT_EQ(sim::cartImage(), before);
}

// The words bash makes of `line`.
std::vector<std::string> shellWords(const std::string& line, const std::string& folder)
{
    std::ofstream(folder + "/words.sh") << "printf '%s\\0' " << line << "\n";
    FILE* shell = popen(("bash " + folder + "/words.sh").c_str(), "r");
    std::string all;
    for (int c; shell && (c = fgetc(shell)) != EOF;)
        all += char(c);
    if (shell)
        pclose(shell);
    std::vector<std::string> words;
    for (size_t at = 0, end; (end = all.find('\0', at)) != std::string::npos; at = end + 1)
        words.push_back(all.substr(at, end - at));
    return words;
}

// A write stopped half-way: chip 1's erase never ends after chip 0's block
// was written; or a header byte never programs, which leaves the cartridge
// of no known game. Once the cartridge has been powered off, the line's
// command, split as a shell splits it, puts every block back: also from a
// vault whose path holds a line break and a tab, which the line shows
// escaped as bash reads them, and under the program that printed it.
TEST_F(CliTest, AStoppedWriteNamesACommandThatUndoesIt)
{
    const struct { const char* cart; std::vector<std::pair<uint32_t, Bytes>> records; std::function<void()> fault; bool anyGame;
                   const char* data = "it's data"; const char* program = "pockettetherbox-cli"; } cases[] = {
        {"official32", {{0x3FA000, pattern(0x100, 1)}, {0x9FA000, pattern(0x100, 2)}}, [] { sim::chipEraseNeverEnds(1); }, false},
        {"cindercart", {{0x200100, pattern(0x100, 3)}}, [] { sim::byteNeverPrograms(0, 0x24); }, true},
        {"silent0", {{0x8FA010, pattern(0x20, 4)}}, [] { sim::byteNeverPrograms(1, 0xFA010); }, true},
        {"official32", {{0x3FA000, pattern(0x100, 1)}, {0x9FA000, pattern(0x100, 2)}}, [] { sim::chipEraseNeverEnds(1); }, false,
         "it's\ndata\t", "pockettetherbox-cli-sim"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cart);
        setenv("XDG_DATA_HOME", (folder + "/" + c.data).c_str(), 1);
        program = c.program;
        plug(c.cart);
        const Bytes before = sim::cartImage();
        writeFile(folder + "/two.ngf", ngfFile(c.records));
        c.fault();
        CliRun stopped = run({"save-write", folder + "/two.ngf"});
        EXPECT_EQ(stopped.status, 1);
        ASSERT_EQ(stopped.lineFromEnd(1), "To put those blocks back as they were:") << stopped.out;
        EXPECT_EQ(stopped.lastLine().find(" restore --any-game '") != std::string::npos, c.anyGame) << stopped.lastLine();
        std::vector<std::string> command = shellWords(stopped.lastLine(), folder);
        ASSERT_GE(command.size(), 4u);
        EXPECT_EQ(command[0], c.program);
        EXPECT_EQ(command.back().rfind(folder + "/" + c.data + "/", 0), 0u) << command.back();
        command.erase(command.begin());

        sim::clearFaults();
        sim::unplugNow();
        sim::plugInNow();
        CliRun undone = run(command);
        EXPECT_EQ(undone.status, 0) << undone.out;
        EXPECT_EQ(sim::cartImage(), before);
    }
}

// A pipe is read as it comes, and never blocked on: refused when nothing
// comes, cancelled by a signal while its writer says nothing, written when
// the file comes. Only the last changes the cartridge.
TEST_F(CliTest, SaveWriteReadsAPipeWithoutHanging)
{
    plug("official16");
    const Bytes before = sim::cartImage(), file = ngfFile({{0x3FA100, pattern(0x80)}});
    const std::string fifo = folder + "/pipe.ngf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    enum Writer { NONE, SILENT, WRITES };
    const struct { Writer writer; int status; std::string last; } cases[] = {
        {NONE, 1, "Nothing came through the pipe '" + fifo + "'\nin 3 seconds; nothing was written."},
        {SILENT, 143, "Writing a save-game cancelled."},
        {WRITES, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.writer);
        sim::loadImage(before);
        std::mutex m;
        std::condition_variable cv;
        bool over = false;
        std::thread writer;
        if (c.writer != NONE)
            writer = std::thread([&] {
                int fd = open(fifo.c_str(), O_WRONLY);  // until the job opens it
                if (c.writer == WRITES) {
                    EXPECT_EQ(write(fd, file.data(), file.size()), ssize_t(file.size()));
                } else {
                    kill(getpid(), SIGTERM);
                    // Open without a word until the run is over, or long after it should be.
                    std::unique_lock<std::mutex> lock(m);
                    cv.wait_for(lock, std::chrono::seconds(10), [&] { return over; });
                }
                close(fd);
            });
        CliRun r = run({"save-write", fifo});
        {
            std::lock_guard<std::mutex> lock(m);
            over = true;
        }
        cv.notify_all();
        if (writer.joinable())
            writer.join();
        EXPECT_EQ(r.status, c.status) << r.out;
        if (!c.last.empty()) {
            EXPECT_EQ(r.lastLines(int(std::count(c.last.begin(), c.last.end(), '\n')) + 1), c.last);
        }
        EXPECT_EQ(sim::cartImage() == before, c.status != 0);
    }
}

// A copy being written back is held: another run's prune passes over it.
// The listing names a registered file that is no save apart from its lines.
TEST_F(CliTest, ARestoredCopyOutlivesAnotherRunsPrune)
{
    plug("official16");
    const Bytes before = sim::cartImage();
    writeFile(folder + "/new.ngf", ngfFile({{0x3FA100, pattern(0x80)}}));
    ASSERT_EQ(run({"save-write", folder + "/new.ngf"}).status, 0);
    std::vector<VaultEntry> copies = vaultEntries();
    ASSERT_EQ(copies.size(), 1u);
    const std::string copy = copies[0].path;
    int prunes = 0;
    atBreath = [&](int) {
        int fd = open(copy.c_str(), O_RDONLY);
        bool held = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (fd >= 0)
            close(fd);
        if (held && ++prunes)
            pruneSafetyCopies(stderrReporter(), std::filesystem::path(copy).parent_path().string(), 0);
    };
    CliRun r = run({"saves", "restore", copy});
    atBreath = nullptr;
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_GT(prunes, 0) << "the copy was never held";
    EXPECT_TRUE(std::filesystem::exists(copy));
    EXPECT_EQ(sim::cartImage(), before);

    const std::string text = folder + "/important.txt";
    writeFile(text, Bytes(27, 'x'));
    ASSERT_TRUE(registerBackup("SIM_OFFICIAL-1234", text));
    CliRun list = run({"saves", "list"});
    EXPECT_EQ(list.err, "Passed over 1 file named in the vault's backups.list that does not read as an NGF save: '" +
                            std::filesystem::canonical(text).string() + "'.\n");
    for (const std::string& l : linesOf(list.out))
        EXPECT_EQ(std::count(l.begin(), l.end(), '\t'), 4) << l;
}

}  // namespace
