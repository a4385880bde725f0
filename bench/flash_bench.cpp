// What each write method of Flash ROM(s) costs: the program's own CPU time
// per MiB flashed against the simulated linker, which answers at once, set
// beside the modelled device time per MiB on a full-speed link; and whether
// the job's memory stays flat as the ROM grows.
//
// The simulator runs in the same thread inside every transfer, so its share
// is measured apart: the transfers the job made are replayed, unchanged,
// into a fresh simulated linker holding the same erased chip, and that
// replay's CPU time is taken off the job's.
//
// Then the erase scopes and verify after writing, at the default Write_N and
// the chips' own erase times: a 4 MiB ROM flashed whole and again with one
// 64 KB block changed, a 512 KiB ROM's erase with whole chips and with the
// ROM's blocks, and verify's cost; each with the program's own CPU against
// the device time, measured the same way.
//
// Needs a display (the job shows its progress window): run under xvfb-run.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <libusb.h>
#include <malloc.h>

#include <map>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/link/linker.h"
#include "support/command_buttons.h"
#include "sim.h"
#include "gui/events.h"
#include "gui/file_choice.h"
#include "gui/prefs.h"
#include "gui/progress.h"

namespace {

const uint32_t MIB = 0x100000;
const size_t REPLAY_TRACE = 4u << 20;  // transfers kept for the replay
const int RUNS = 3;                    // the best of these, against a busy machine

struct Method {
    const char* name;
    int writeN;
    uint8_t turbo;
    uint32_t bytes;  // enough to measure, few enough transfers to replay
};

const Method METHODS[] = {
    {"64 x N, Write_N 1024", 1024, TURBO_OFF, 2 * MIB},
    {"64 x N, Write_N 512 (default)", 512, TURBO_OFF, 2 * MIB},
    {"64 x N, Write_N 512, turbo", 512, TURBO_ON, 2 * MIB},
    {"64 x N, Write_N 64", 64, TURBO_OFF, 2 * MIB},
    {"32 bytes, Write_N 32", 32, TURBO_OFF, 1 * MIB},
    {"N bytes, Write_N 16", 16, TURBO_OFF, MIB / 2},
    {"N bytes, Write_N 2", 2, TURBO_OFF, MIB / 4},
    {"byte, read back, Write_N 1", 1, TURBO_OFF, MIB / 32},
    {"turbo byte, Write_N 1", 1, TURBO_ON, MIB / 16},
};

double cpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

size_t heapInUse()
{
    return mallinfo2().uordblks;
}

std::string g_romPath;

bool answerRom(const char*, const char*, FileChoiceMode, const char*, std::string* path)
{
    *path = g_romPath;
    return true;
}

// Where writing starts: the job's last event check while erasing (the turbo
// byte method enters unlock bypass before its first event check). The heap
// is sampled at every event check.
struct Sample {
    double cpu = 0, modelled = 0;
    sim::Mark mark = 0;
    uint64_t transfers = 0;
    size_t heapBefore = 0, heapPeak = 0;
};
Sample g_sample;

// Modelled time at the first and the last event check under each title;
// looked up only when the window changes, so that timing the phases costs
// next to nothing against what is measured.
std::map<std::string, std::pair<double, double>> g_phases;
std::string g_phaseTitle;
std::pair<double, double>* g_phase = nullptr;
// The heap and the start of writing are sampled only for the methods' table;
// the scope runs measure whole jobs and must not pay for the sampling.
bool g_sampleMethods = true;
// Where the chips' bus reads stand as writing starts, when asked for.
uint64_t* g_readsAtWriting = nullptr;

void onEvents()
{
    const char* title = progress_window && progress_window->label() ? progress_window->label() : "";
    if (strcmp(title, g_phaseTitle.c_str()) != 0) {
        g_phaseTitle = title;
        g_phase = &g_phases.emplace(title, std::make_pair(sim::clockSeconds(), 0.0)).first->second;
    }
    if (g_phase)
        g_phase->second = sim::clockSeconds();
    if (!g_sampleMethods)
        return;
    g_sample.heapPeak = std::max(g_sample.heapPeak, heapInUse());
    if (!progress_window || !progress_window->label() ||
        strcmp(progress_window->label(), "Erasing Cartridge") != 0)
        return;
    g_sample.cpu = cpuSeconds();
    g_sample.modelled = sim::clockSeconds();
    g_sample.mark = sim::mark();
    g_sample.transfers = sim::counters().transfers;
    if (g_readsAtWriting)
        *g_readsAtWriting = sim::counters().busReads;
}

std::vector<uint8_t> romImage(uint32_t size)
{
    std::vector<uint8_t> rom(size);
    uint32_t s = 0x2545F491;
    for (auto& b : rom) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        b = uint8_t(s >> 24);
    }
    return rom;
}

// Erases end at once unless the chips' own times are asked for.
void freshLinker(size_t traceLimit, const char* cart = "bung", bool realErase = false)
{
    closeLink();
    sim::reset();
    sim::insertCart(cart);
    sim::chip(0).protectAll(false);
    if (!realErase)
        sim::setEraseTimes(0.001, 0.001);
    sim::setTraceLimit(traceLimit);
    if (!openLink(stderrReporter())) {
        fprintf(stderr, "the simulated linker did not open\n");
        exit(1);
    }
}

void writeRomFile(const std::vector<uint8_t>& rom)
{
    FILE* f = fopen(g_romPath.c_str(), "wb");
    if (!f || fwrite(rom.data(), 1, rom.size(), f) != rom.size()) {
        fprintf(stderr, "cannot write %s\n", g_romPath.c_str());
        exit(1);
    }
    fclose(f);
}

struct Result {
    bool exact = false;
    double jobCpu = 0, simCpu = 0, modelled = 0;
    size_t heapGrowth = 0;
    std::vector<sim::Transfer> transfers;
};

Result flashOnce(const Method& m, uint32_t bytes, size_t traceLimit)
{
    std::vector<uint8_t> rom = romImage(bytes);
    writeRomFile(rom);

    freshLinker(traceLimit);
    windowSettings().writeN = m.writeN;
    windowSettings().turboMode = m.turbo;
    windowSettings().skipChip = -1;
    g_sample = Sample();
    g_sample.heapBefore = g_sample.heapPeak = heapInUse();
    clickCommand("flash");

    Result r;
    r.jobCpu = cpuSeconds() - g_sample.cpu;
    r.modelled = sim::clockSeconds() - g_sample.modelled;
    r.heapGrowth = g_sample.heapPeak - g_sample.heapBefore;
    std::vector<uint8_t> image = sim::cartImage();
    r.exact = image.size() >= rom.size() && std::equal(rom.begin(), rom.end(), image.begin());
    if (traceLimit >= REPLAY_TRACE) {
        // Bus cycles run to tens of millions and are dropped; transfers must not be.
        r.transfers = sim::transfersSince(g_sample.mark);
        if (r.transfers.size() != sim::counters().transfers - g_sample.transfers)
            fprintf(stderr, "%s: transfer trace truncated, replay incomplete\n", m.name);
    }
    return r;
}

// The simulator's share: the same transfers into the same chips, erased
// unless their starting image is given.
double replay(const std::vector<sim::Transfer>& transfers, const std::vector<uint8_t>* image = nullptr,
              const char* cart = "bung")
{
    freshLinker(REPLAY_TRACE, cart, image != nullptr);
    if (image) {
        sim::loadImage(*image);
    } else {
        sim::chip(0).fill(0, sim::chip(0).size(), 0xFF);
        sim::chip(1).fill(0, sim::chip(1).size(), 0xFF);
    }
    uint8_t buf[64];
    int n;
    double start = cpuSeconds();
    for (const sim::Transfer& t : transfers) {
        if (t.in()) {
            libusb_bulk_transfer(linker().link().handle(), t.endpoint, buf, t.requested, &n, LINK_TIMEOUT_MS);
        } else {
            memcpy(buf, t.bytes.data(), std::min<size_t>(t.bytes.size(), sizeof buf));
            libusb_bulk_transfer(linker().link().handle(), t.endpoint, buf, t.requested, &n, LINK_TIMEOUT_MS);
        }
    }
    return cpuSeconds() - start;
}

struct ScopeRun {
    double modelled = 0, erase = 0, jobCpu = 0, simCpu = 0;
    bool done = false;
    double own() const { return jobCpu - simCpu; }
};

// One whole job at the chips' own erase times, into a cartridge holding
// `image`; the simulator's share taken off by replaying the job's transfers
// into the same image.
ScopeRun flashScopedOnce(const char* cart, const std::vector<uint8_t>& image, const std::vector<uint8_t>& rom,
                         EraseScope scope, bool verify)
{
    writeRomFile(rom);
    freshLinker(REPLAY_TRACE, cart, true);
    sim::loadImage(image);
    windowSettings().writeN = 512;
    windowSettings().turboMode = TURBO_OFF;
    windowSettings().skipChip = -1;
    windowSettings().eraseScope = scope;
    windowSettings().verifyAfterWrite = verify;
    g_phases.clear();
    g_phaseTitle.clear();
    g_phase = nullptr;
    g_sampleMethods = false;
    sim::Mark mark = sim::mark();
    uint64_t transfersBefore = sim::counters().transfers;
    double cpu = cpuSeconds(), modelled = sim::clockSeconds();
    clickCommand("flash");
    ScopeRun r;
    r.jobCpu = cpuSeconds() - cpu;
    r.modelled = sim::clockSeconds() - modelled;
    r.erase = g_phases["Erasing Cartridge"].second - g_phases["Erasing Cartridge"].first;
    std::vector<uint8_t> after = sim::cartImage();
    r.done = std::equal(rom.begin(), rom.end(), after.begin());
    std::vector<sim::Transfer> transfers = sim::transfersSince(mark);
    if (transfers.size() != sim::counters().transfers - transfersBefore)
        fprintf(stderr, "transfer trace truncated, replay incomplete\n");
    r.simCpu = replay(transfers, &image, cart);
    windowSettings().eraseScope = EraseScope::WholeChips;
    windowSettings().verifyAfterWrite = false;
    g_sampleMethods = true;
    return r;
}

// A busy machine only ever adds time: the job's and the replay's CPU are
// each the least of a few runs.
ScopeRun flashScoped(const char* cart, const std::vector<uint8_t>& image, const std::vector<uint8_t>& rom,
                     EraseScope scope, bool verify)
{
    ScopeRun best = flashScopedOnce(cart, image, rom, scope, verify);
    for (int run = 1; run < RUNS; run++) {
        ScopeRun r = flashScopedOnce(cart, image, rom, scope, verify);
        best.jobCpu = std::min(best.jobCpu, r.jobCpu);
        best.simCpu = std::min(best.simCpu, r.simCpu);
        best.done = best.done && r.done;
    }
    return best;
}

const char* scopeName(EraseScope scope)
{
    switch (scope) {
    case EraseScope::RomBlocks: return "ROM's blocks only";
    case EraseScope::ChangedBlocks: return "Changed blocks only";
    default: return "Whole chips";
    }
}

void printRun(const char* what, EraseScope scope, bool verify, const ScopeRun& r)
{
    printf("| %s | %s | %s | %.1f | %.1f | %.1f | %.2f%% | %s |\n", what, scopeName(scope), verify ? "on" : "off",
           r.modelled, r.erase, r.own() * 1e3, 100.0 * r.own() / r.modelled, r.done ? "yes" : "NO");
    fflush(stdout);
}

// The four measurements of the erase scopes and verify; true if each meets its target.
bool benchScopes()
{
    printf("\n| ROM | Erase | Verify | Device s (modelled) | Erasing s | Own CPU ms | Own / device | Exact |\n"
           "|---|---|---|---|---|---|---|---|\n");
    std::vector<uint8_t> rom = romImage(4 * MIB), erased(4 * MIB, 0xFF);
    std::vector<uint8_t> changed = rom;
    for (uint32_t i = 0x150000; i < 0x160000; i++)
        changed[i] ^= 0x5A;  // one 64 KB block, in the middle of chip 0

    // A homebrew round: the ROM flashed whole, then one block changed.
    ScopeRun whole = flashScoped("bung", erased, rom, EraseScope::WholeChips, false);
    printRun("4 MiB", EraseScope::WholeChips, false, whole);
    ScopeRun again = flashScoped("bung", rom, changed, EraseScope::ChangedBlocks, false);
    printRun("4 MiB, one 64 KB block changed", EraseScope::ChangedBlocks, false, again);
    ScopeRun romBlocks = flashScoped("bung", rom, changed, EraseScope::RomBlocks, false);
    printRun("4 MiB, one 64 KB block changed", EraseScope::RomBlocks, false, romBlocks);
    ScopeRun wholeAgain = flashScoped("bung", rom, changed, EraseScope::WholeChips, false);
    printRun("4 MiB, one 64 KB block changed", EraseScope::WholeChips, false, wholeAgain);
    ScopeRun verified = flashScoped("bung", erased, rom, EraseScope::WholeChips, true);
    printRun("4 MiB", EraseScope::WholeChips, true, verified);

    // A small ROM in a 16 Mbit cartridge: its eight blocks against the chip.
    std::vector<uint8_t> small = romImage(512 * 1024), chip16(2 * MIB, 0x00);
    ScopeRun chipErase = flashScoped("official16", chip16, small, EraseScope::WholeChips, false);
    printRun("512 KiB in 16 Mbit", EraseScope::WholeChips, false, chipErase);
    ScopeRun blockErase = flashScoped("official16", chip16, small, EraseScope::RomBlocks, false);
    printRun("512 KiB in 16 Mbit", EraseScope::RomBlocks, false, blockErase);

    double ownWorst = 0;
    for (const ScopeRun* r : {&whole, &again, &romBlocks, &wholeAgain, &verified, &chipErase, &blockErase})
        ownWorst = std::max(ownWorst, r->own() / r->modelled);
    const struct { const char* what; double got, most; } targets[] = {
        {"one changed block, changed blocks only / whole flash", again.modelled / whole.modelled, 0.10},
        {"512 KiB erase, ROM's blocks / whole chip", blockErase.erase / chipErase.erase, 0.30},
        {"verify after writing, added to a 4 MiB flash", verified.modelled / whole.modelled - 1.0, 0.10},
        {"own CPU / device time, worst run", ownWorst, 0.01}};
    printf("\n| Measured | Got | Target |\n|---|---|---|\n");
    bool met = true;
    for (const auto& t : targets) {
        printf("| %s | %.1f%% | at most %.0f%% %s |\n", t.what, 100.0 * t.got, 100.0 * t.most, t.got <= t.most ? "" : "MISSED");
        met = met && t.got <= t.most;
    }
    for (const ScopeRun* r : {&whole, &again, &romBlocks, &wholeAgain, &verified, &chipErase, &blockErase})
        met = met && r->done;
    return met;
}

// Each scope against whole chips, flashing a new game over an older one:
// a 4 MiB ROM, one that ends early in chip 1 with the older game's bytes
// past its end, and a whole 8 Mbit chip, which erases quicker whole than
// block by block. True when the ROM's blocks take no longer than whole
// chips, and the changed blocks no more than their first look longer.
bool benchScopesAgainstWholeChips()
{
    printf("\n| ROM | Erase | Device s (modelled) | Erasing s | Against whole chips | Exact |\n"
           "|---|---|---|---|---|---|\n");
    bool met = true;
    const struct { const char* cart; uint32_t size; const char* what; } roms[] = {
        {"bung", 4 * MIB, "4 MiB"},
        {"bung", 3 * MIB + 0x1234, "3 MiB + 4660 bytes"},
        {"flash8", MIB, "1 MiB in 8 Mbit"},
    };
    for (const auto& c : roms) {
        std::vector<uint8_t> rom = romImage(c.size), older = romImage(c.size > MIB ? 4 * MIB : MIB);
        for (uint8_t& b : older)
            b ^= 0xA5;
        double whole = 0;
        for (EraseScope scope : {EraseScope::WholeChips, EraseScope::RomBlocks, EraseScope::ChangedBlocks}) {
            ScopeRun r = flashScopedOnce(c.cart, older, rom, scope, false);
            if (scope == EraseScope::WholeChips)
                whole = r.modelled;
            // Changed blocks only first looks at every block: over a game
            // of which every block differs, that look is all it adds, a
            // packet a block.
            bool ok = r.done && r.modelled <= whole * (scope == EraseScope::ChangedBlocks ? 1.001 : 1.0);
            printf("| %s | %s | %.1f | %.1f | %.4f%s | %s |\n", c.what, scopeName(scope), r.modelled, r.erase,
                   r.modelled / whole, ok ? "" : " SLOWER", r.done ? "yes" : "NO");
            fflush(stdout);
            met = met && ok;
        }
    }
    return met;
}

// The turbo byte method reads nothing back, so it asks the chip every 64 KB
// and at the end of each chip whether a byte failed: single-byte reads, the
// only reads while it writes. A 4 MiB ROM over two chips, as a whole
// cartridge of the kind turbo is for; true when the reads cost at most 1% of
// the writing's modelled time.
bool benchTurboCheck()
{
    const uint32_t size = 4 * MIB;
    writeRomFile(romImage(size));
    freshLinker(64);
    double before = sim::clockSeconds();
    linker().link().read_byte(0, 0);
    double oneRead = sim::clockSeconds() - before;
    windowSettings().writeN = 1;
    windowSettings().turboMode = TURBO_ON;
    windowSettings().skipChip = -1;
    g_sampleMethods = true;
    g_sample = Sample();
    uint64_t readsBefore = 0;
    g_readsAtWriting = &readsBefore;
    clickCommand("flash");
    g_readsAtWriting = nullptr;
    double writing = sim::clockSeconds() - g_sample.modelled;
    uint64_t reads = sim::counters().busReads - readsBefore;
    std::vector<uint8_t> image = sim::cartImage();
    std::vector<uint8_t> rom = romImage(size);
    bool exact = std::equal(rom.begin(), rom.end(), image.begin());
    double share = reads * oneRead / writing;
    printf("\n| Turbo byte method, 4 MiB on two chips | Status reads | Their time s | Writing s (modelled) | Share | Exact |\n"
           "|---|---|---|---|---|---|\n"
           "| the failed-byte check | %llu | %.3f | %.1f | %.3f%% (at most 1%%)%s | %s |\n",
           (unsigned long long)reads, reads * oneRead, writing, 100.0 * share, share <= 0.01 ? "" : " MISSED",
           exact ? "yes" : "NO");
    fflush(stdout);
    return exact && share <= 0.01;
}

}  // namespace

int main(int argc, char** argv)
{
    Fl::lock();
    char dir[] = "/tmp/ptb-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    g_romPath = std::string(dir) + "/bench.ngp";
    g_fileChoiceHook = answerRom;
    g_afterEventsHook = onEvents;

    // The first job pays for the toolkit's fonts and the first window.
    flashOnce(METHODS[0], 64 * 1024, 64);
    // "scopes": the erase scopes alone, for a quicker look; "turbo": the
    // turbo byte method's check alone.
    if (argc > 1 && strcmp(argv[1], "turbo") == 0)
        return benchTurboCheck() ? 0 : 1;
    bool methods = !(argc > 1 && strcmp(argv[1], "scopes") == 0);

    printf("| Method | Flashed | Own CPU ms/MiB | Simulator CPU ms/MiB | Device s/MiB (modelled) | "
           "Own / device | Exact |\n");
    printf("|---|---|---|---|---|---|---|\n");
    bool allExact = true;
    for (const Method& m : METHODS) {
        if (!methods)
            break;
        double own = 1e9, sim = 0, modelled = 0;
        bool exact = true;
        for (int run = 0; run < RUNS; run++) {
            Result r = flashOnce(m, m.bytes, REPLAY_TRACE);
            double simRun = replay(r.transfers);
            if (r.jobCpu - simRun < own) {
                own = r.jobCpu - simRun;
                sim = simRun;
            }
            modelled = r.modelled;
            exact = exact && r.exact;
        }
        double mib = double(m.bytes) / MIB;
        printf("| %s | %u KiB | %.1f | %.1f | %.2f | %.2f%% | %s |\n", m.name, m.bytes / 1024,
               own / mib * 1e3, sim / mib * 1e3, modelled / mib, 100.0 * own / modelled,
               exact ? "yes" : "NO");
        fflush(stdout);
        allExact = allExact && exact;
    }

    // Memory: the heap's peak growth during the job, with the simulator's
    // trace kept tiny so that only the program's own use shows.
    printf("\n| Method | Heap growth, 1 MiB ROM | Heap growth, 4 MiB ROM |\n|---|---|---|\n");
    for (const Method& m : METHODS) {
        if (m.bytes < MIB || !methods)
            continue;
        Result small = flashOnce(m, MIB, 64);
        Result large = flashOnce(m, 4 * MIB, 64);
        printf("| %s | %zu bytes | %zu bytes |\n", m.name, small.heapGrowth, large.heapGrowth);
        fflush(stdout);
        allExact = allExact && small.exact && large.exact;
    }

    bool scopesMet = benchScopes() && benchScopesAgainstWholeChips();
    bool turboMet = !methods || benchTurboCheck();

    closeLink();
    unlink(g_romPath.c_str());
    rmdir(dir);
    return allExact && scopesMet && turboMet ? 0 : 1;
}
