// "Write Savegame": an NGF file of either record layout, loaded and checked
// whole before the cartridge is touched; every erase block the records touch
// is read into a safety copy; then each has the records laid over it, is
// erased once, programmed whole, read back and compared. Records may be any
// part of a block, so no byte outside them is lost on the way.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/cart/erase.h"
#include "core/cart/flash_commands.h"
#include "core/cart/detect.h"
#include "core/cart/read.h"
#include "core/jobs/jobs.h"
#include "core/saves/ngf.h"
#include "core/saves/ngf_load.h"
#include "core/link/clock.h"
#include "core/link/linker.h"
#include "core/saves/block_plan.h"
#include "core/saves/safety_copy.h"
#include "core/shown_text.h"

static const char* const JOB_TITLE = "Writing a save-game";

// A block erase as Flash ROM(s) waits for it, done once the block reads
// erased and not before (a protected block never is, and is refused before
// anything is erased), and Cancel let through once the erase has outlasted a
// healthy one by far: until then stopping would only leave the block erased,
// past it the erase may never end.
static const EraseWait SAVE_ERASE_WAIT = [] {
    EraseWait w = BLOCK_ERASE_WAIT;
    w.stillMeansRefused = false;
    w.breatheEverySeconds = 0.05;
    w.cancelAfterSeconds = 5.0;
    return w;
}();

enum StepOutcome { STEP_DONE, STEP_CANCELLED, STEP_STOPPED };

// A pipe given by name that nothing has written to in this long has no
// writer coming: it is refused, and the cartridge left alone.
static const double PIPE_SILENT_S = 3.0;
// How often a wait on a pipe looks whether the user asked to stop.
static const int PIPE_POLL_MS = 100;

enum class PipeRead { Read, Stopped, Silent, Failed };

// All a pipe (or standard input) gives until its writer closes it or the
// file's len has come, and no more than `limit` bytes and one: a longer
// file is no save either. It is never blocked on: the wait lets the face
// breathe, so that a Cancel or a signal is heard within a fraction of a
// second.
static PipeRead readPipe(int fd, bool named, size_t limit, std::vector<uint8_t>* bytes, Reporter& r)
{
    const double start = steadyClockSeconds();
    uint8_t chunk[0x10000];
    while (bytes->size() <= limit) {
        r.breathe();
        if (!r.goingOn())
            return PipeRead::Stopped;
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, PIPE_POLL_MS);
        if (ready < 0 && errno != EINTR)
            return PipeRead::Failed;
        if (ready <= 0) {
            if (named && bytes->empty() && steadyClockSeconds() - start >= PIPE_SILENT_S)
                return PipeRead::Silent;
            continue;
        }
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n == 0)
            return PipeRead::Read;
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return PipeRead::Failed;
        if (n > 0)
            bytes->insert(bytes->end(), chunk, chunk + n);
        // Whole once its header's len has come: a writer that keeps the
        // pipe open is not waited for.
        if (bytes->size() >= NGF_HEADER_LEN && bytes->size() >= getNgfHeader(bytes->data()).len)
            return PipeRead::Read;
    }
    return PipeRead::Read;
}

// Standard input ("-", as the command line gives it) and a named pipe are
// read whole first, as they come; a file is opened as files are.
static bool loadSaveFile(Reporter& r, const std::string& path, LoadedSave* save)
{
    struct stat st;
    bool named = path != "-" && stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    if (path != "-" && !named) {
        bool refused = false;
        FILE* f = openInputFile(r, path, &refused);
        if (!f) {
            if (!refused)
                printWindow(r, SAVE_COULDNT_OPEN, path.c_str(), strerror(errno));
            return false;
        }
        bool ok = loadNgfFile(r, f, path.c_str(), save);
        fclose(f);
        return ok;
    }
    // Opened without waiting for a writer: the wait is readPipe's.
    int fd = named ? open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : dup(STDIN_FILENO);
    if (fd < 0) {
        printWindow(r, SAVE_COULDNT_OPEN, path.c_str(), strerror(errno));
        return false;
    }
    std::vector<uint8_t> bytes;
    PipeRead outcome = readPipe(fd, named, SAVE_MAX_FILE_LEN, &bytes, r);
    int why = errno;
    close(fd);
    switch (outcome) {
    case PipeRead::Stopped:
        printWindow(r, "Writing a save-game cancelled.");
        return false;
    case PipeRead::Silent:
        printWindow(r, "Nothing came through the pipe '%s'", path.c_str());
        printWindow(r, "in %d seconds; nothing was written.", int(PIPE_SILENT_S));
        return false;
    case PipeRead::Failed:
        printWindow(r, "Couldn't read '%s':", path.c_str());
        printWindow(r, "%s.", strerror(why));
        return false;
    case PipeRead::Read:
        break;
    }
    // A stream of the bytes read, for the loader that reads files.
    size_t got = bytes.size();
    bytes.push_back(0);  // fmemopen wants a buffer of at least one byte
    FILE* f = fmemopen(bytes.data(), got ? got : 1, "rb");
    if (f && got == 0)
        fgetc(f);  // nothing came: the stream is at its end
    bool ok = f && loadNgfFile(r, f, path.c_str(), save);
    if (f)
        fclose(f);
    return ok;
}

static bool cancelled(Reporter& r)
{
    if (r.goingOn())
        return false;
    printWindow(r, "Writing a save-game cancelled.");
    return true;
}

// The cartridge's game, as its safety copies' folder is named.
static bool readGame(Reporter& r, Link& link, const Cart& cart, std::string* game)
{
    uint8_t header[64];
    if (!link.read_64xN_bytes(header, 0, 0, 1)) {
        printWindow(r, "Couldn't read the cartridge header.");
        return false;
    }
    *game = cartridgeGame(header, cart.chipSize[0] != 0);
    return true;
}

// With chip 0 silent the header is read from a floating bus: every such
// cartridge would be one game, and a save of any of them "the same game".
static const char UNKNOWN_GAME[] = "unknown: its chip 0 does not answer";

// The cartridge's game as a restore holds it to.
static std::string knownGame(const Cart& cart, const std::string& folder)
{
    return cart.chipSize[0] ? folder : UNKNOWN_GAME;
}

// Every block the plan erases, as it is now: what the write lays its records
// over, and a safety copy that undoes the write, kept under the game's name
// before anything changes.
static bool makeSafetyCopy(Link& link, const SavePlan& plan, const std::string& game,
                           std::vector<std::vector<uint8_t>>* blocks, Reporter& r, std::string* path)
{
    std::vector<CartBlock> erased;
    for (const BlockStep& step : plan.steps) {
        const CartBlock& b = step.block;
        erased.push_back(b);
        blocks->emplace_back(b.size);
        // What goes back into the block is what two reads agree on: a byte
        // misread through dirty contacts would be written back as it read.
        bool unstable = false;
        if (!readCartSure(link, b.start, b.size, blocks->back().data(), &unstable, &r)) {
            printWindow(r, "Couldn't read chip %d at 0x%06X,", b.chip, b.chipAddr());
            if (unstable)
                printWindow(r, "no two reads agreed: clean the contacts.");
            else
                printWindow(r, "so no safety copy could be made.");
            return false;
        }
    }
    // Trimmed once the write has ended: the file being written back may be
    // the oldest copy.
    return storeSafetyCopy(r, safetyCopyRoot() + "/" + game, ngfOfBlocks(erased, *blocks), time(nullptr), path, -1);
}

// A protected block does not erase: its records would be half applied, the
// blocks before it already changed.
static bool refusedAsProtected(Reporter& r, const Cart& cart, const SavePlan& plan)
{
    for (const BlockStep& step : plan.steps) {
        if (cart.isProtected(step.block)) {
            printWindow(r, "restoreSaveGameToCart: chip %d block %d is protected; nothing was written "
                        "to the cartridge.",
                        step.block.chip, step.block.number);
            return true;
        }
    }
    return false;
}

// Waits for the block's erase; false with the line saying why when it did
// not end erased.
static StepOutcome waitForBlockErase(Link& link, uint32_t addr, uint8_t chip, Reporter& r)
{
    switch (waitForErase(link, addr, chip, SAVE_ERASE_WAIT, linkSeconds(), r)) {
    case EraseEnd::Erased:
        return STEP_DONE;
    case EraseEnd::Cancelled:
        printWindow(r, "Writing a save-game cancelled.");
        return STEP_CANCELLED;
    case EraseEnd::LinkFailed:
        return STEP_STOPPED;  // the link has said why
    default:
        printWindow(r, "Chip %d address 0x%06X did not read 0xFF", chip, addr);
        printWindow(r, "within %d seconds of the erase, giving up.", int(SAVE_ERASE_WAIT.limitSeconds));
        return STEP_STOPPED;
    }
}

// One block, start to finish, over `current`, its bytes as they were. Once
// it is erased Cancel waits for its end: stopping half-way would lose them.
// `done` and `total` place the block on the progress bar; `*erased` is set
// once the erase has been sent.
static StepOutcome writeBlock(Link& link, const BlockStep& step, const LoadedSave& save,
                              const std::vector<uint8_t>& current, uint8_t turbo, uint64_t done,
                              uint64_t total, bool* erased, Reporter& r)
{
    const CartBlock& b = step.block;
    const uint32_t start = b.chipAddr();
    std::vector<uint8_t> merged(b.size);
    mergeBlock(step, save.body.data(), current.data(), merged.data());

    *erased = true;
    bool clean = sendBlockErase(link, start, b.chip);
    StepOutcome waited = waitForBlockErase(link, start, b.chip, r);
    if (waited != STEP_DONE)
        return waited;
    for (uint32_t o = 0; o < b.size && !link.gone(); o += NGF_UNIT) {
        // Erased flash holds these already.
        if (allErased(&merged[o], NGF_UNIT))
            continue;
        clean = link.flash_write_32_bytes(start + o, &merged[o], b.chip, turbo) && clean;
        r.progress(float(done + o) / float(total));
        r.breathe();
    }
    clean = link.read_byte(0, b.chip) && clean;

    std::vector<uint8_t> back(b.size);
    if (!clean || !readCartInto(link, b.start, b.size, back.data(), &r)) {
        // The writers report their failures only in the log: a save with
        // a failed unit in it is not a restored save.
        printWindow(r, "The linker reported errors;");
        printWindow(r, "the save-game is not written whole.");
        return STEP_STOPPED;
    }
    for (uint32_t o = 0; o < b.size; o++) {
        if (back[o] != merged[o]) {
            printWindow(r, "Chip %d block %d at 0x%06X does not read", b.chip, b.number, start);
            printWindow(r, "back as written, first at 0x%06X.", start + o);
            return STEP_STOPPED;
        }
    }
    return STEP_DONE;
}

// Which blocks hold the file's bytes now, for a job that did not end done:
// "chip 0 blocks 31, 32; chip 1 blocks 17".
static void logFinished(Reporter& r, const SavePlan& plan, size_t finished)
{
    std::string list;
    for (size_t i = 0; i < finished; i++) {
        const CartBlock& b = plan.steps[i].block;
        bool sameChip = i > 0 && plan.steps[i - 1].block.chip == b.chip;
        if (!sameChip)
            list += (i ? "; chip " : "chip ") + std::to_string(b.chip) + " blocks ";
        list += (sameChip ? ", " : "") + std::to_string(b.number);
    }
    printWindow(r, "Blocks written and compared before the stop:");
    printWindow(r, "%s", finished ? list.c_str() : "none");
}

// After a stop that left blocks changed: which, and how to undo them.
static void logUndo(Reporter& r, const Cart& cart, const SavePlan& plan, size_t finished, bool inHand,
                    const std::string& copy, const SaveWriteRun& run)
{
    logFinished(r, plan, finished);
    if (inHand) {
        const CartBlock& b = plan.steps[finished].block;
        printWindow(r, "Erased or partly written: chip %d block %d", b.chip, b.number);
    }
    printWindow(r, "Safety copy of the blocks this write erases:");
    printWindow(r, "'%s'", copy.c_str());
    if (finished == 0 && !inHand)
        return;
    bool headerChanged = false;
    for (size_t i = 0; i < finished + (inHand ? 1 : 0); i++) {
        const CartBlock& b = plan.steps[i].block;
        headerChanged |= b.chip == 0 && b.chipAddr() < CART_HEADER_BYTES &&
                         b.chipAddr() + b.size > CART_HEADER_ID_ADDR;
    }
    // A cartridge of no known game matches no copy's game, not even its own.
    std::string command = run.undoCommand;
    if ((headerChanged || cart.chipSize[0] == 0) && !run.undoAnyGame.empty())
        command += " " + run.undoAnyGame;
    if (run.undoCommand.empty())
        printWindow(r, "Writing that copy back restores those blocks.");
    else {
        printWindow(r, "To put those blocks back as they were:");
        printWindow(r, "%s %s", command.c_str(), shellWord(copy).c_str());
    }
}

void refuseOtherGame(Reporter& r, const std::string& path, const std::string& saveGame, const std::string& cartGame)
{
    printWindow(r, "'%s':", path.c_str());
    printWindow(r, "a save of %s,", saveGame.c_str());
    printWindow(r, "and the cartridge is %s;", cartGame.c_str());
    printWindow(r, "nothing was written to the cartridge.");
}

bool writeSaveGame(const std::string& path, Job& job, SaveWriteRun* runOut)
{
    Reporter& r = job.r;
    SaveWriteRun none;
    SaveWriteRun& run = runOut ? *runOut : none;
    run.copy.clear();
    run.changed = false;
    if (!linkStillThere(r))
        return false;
    LoadedSave save;
    if (!loadSaveFile(r, path, &save))
        return false;

    // A block whose protection read failed looks unprotected, and the
    // safety copy would hold game code for save data.
    Cart& cart = job.cart;
    Link& link = job.link;
    if (!checkCartCleanly(r, link, &cart, true, false, "save-game not written"))
        return false;
    // The copy goes under the game's name; a restore from the vault is for
    // its own game only. A file with nothing to write reads nothing more.
    std::string game;
    if (!run.sameGameAs.empty() && !readGame(r, link, cart, &game)) {
        printWindow(r, "Nothing was written to the cartridge.");
        return false;
    }
    if (!run.sameGameAs.empty() && knownGame(cart, game) != run.sameGameAs) {
        refuseOtherGame(r, path, run.sameGameAs, knownGame(cart, game));
        return false;
    }
    uint8_t turbo = decideTurbo(r, job.settings.turboMode, cart.factoryProt[0]) ? 1 : 0;

    printWindow(r, "%s", JOB_TITLE);
    SavePlan plan;
    for (const SaveRecord& rec : save.records)
        if (rec.blockLen % NGF_UNIT)
            printWindow(r, "mod 32 problem..");
    if (!planSaveWrite(r, save, cart.chipSize, &plan)) {
        printWindow(r, "Nothing was written to the cartridge.");
        return false;
    }
    if (refusedAsProtected(r, cart, plan))
        return false;
    if (game.empty() && !plan.steps.empty() && !readGame(r, link, cart, &game)) {
        printWindow(r, "Nothing was written to the cartridge.");
        return false;
    }
    uint64_t planBytes = 0;
    for (const BlockStep& step : plan.steps)
        planBytes += step.block.size;
    r.beginProgress(JOB_TITLE, planBytes);
    r.progress(0);
    double start = linkSeconds();

    std::vector<std::vector<uint8_t>> blocks;
    if (!plan.steps.empty() && !makeSafetyCopy(link, plan, game, &blocks, r, &run.copy)) {
        printWindow(r, "Nothing was written to the cartridge.");
        r.endProgress();
        return false;
    }

    StepOutcome outcome = STEP_DONE;
    size_t finished = 0;
    uint64_t bytesDone = 0;
    bool inHand = false;
    for (; finished < plan.steps.size(); finished++) {
        if (cancelled(r)) {
            outcome = STEP_CANCELLED;
            break;
        }
        outcome = writeBlock(link, plan.steps[finished], save, blocks[finished], turbo, bytesDone,
                             planBytes, &inHand, r);
        if (outcome != STEP_DONE)
            break;
        inHand = false;
        bytesDone += plan.steps[finished].block.size;
        r.progress(float(bytesDone) / float(planBytes));
    }
    if (outcome == STEP_DONE && plan.steps.empty() && cancelled(r))
        outcome = STEP_CANCELLED;
    // Before the outcome: a line about an old copy that could not be removed
    // must not follow the lines that explain a failure.
    if (!run.copy.empty()) {
        std::vector<std::string> kept{run.copy};
        if (path != "-")
            kept.push_back(path);
        pruneSafetyCopies(r, safetyCopyRoot() + "/" + game, SAFETY_COPIES_KEPT, kept);
    }
    if (outcome == STEP_DONE) {
        printWindow(r, "Writing a save-game done.");
        printWindow(r, "Wrote 0x%X bytes in %d seconds.", plan.total, int(linkSeconds() - start));
        if (!run.copy.empty()) {
            printWindow(r, "Safety copy of the blocks this write erases:");
            printWindow(r, "'%s'", run.copy.c_str());
        }
    } else if (!run.copy.empty()) {
        run.changed = finished > 0 || inHand;
        logUndo(r, cart, plan, finished, inHand, run.copy, run);
    } else {
        logFinished(r, plan, finished);
    }
    r.endProgress();
    return outcome == STEP_DONE;
}

bool insertedGame(std::string* game, Job& job)
{
    Reporter& r = job.r;
    if (!linkStillThere(r))
        return false;
    Cart& cart = job.cart;
    Link& link = job.link;
    if (!checkCartCleanly(r, link, &cart, true, false, "the cartridge's game is not known"))
        return false;
    if (cart.megabits() == 0 || !readGame(r, link, cart, game))  // the probe has said when none answered
        return false;
    *game = knownGame(cart, *game);
    return true;
}
