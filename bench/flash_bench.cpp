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
// Needs a display (the job shows its progress window): run under xvfb-run.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <libusb.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/link/transfer.h"
#include "gui/commands.h"
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

void onEvents()
{
    g_sample.heapPeak = std::max(g_sample.heapPeak, heapInUse());
    if (!progress_window || !progress_window->label() ||
        strcmp(progress_window->label(), "Erasing Cartridge") != 0)
        return;
    g_sample.cpu = cpuSeconds();
    g_sample.modelled = sim::clockSeconds();
    g_sample.mark = sim::mark();
    g_sample.transfers = sim::counters().transfers;
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

void freshLinker(size_t traceLimit)
{
    closeLink();
    sim::reset();
    sim::insertCart("bung");
    sim::setEraseTimes(0.001, 0.001);
    sim::setTraceLimit(traceLimit);
    if (!openLink()) {
        fprintf(stderr, "the simulated linker did not open\n");
        exit(1);
    }
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
    FILE* f = fopen(g_romPath.c_str(), "wb");
    if (!f || fwrite(rom.data(), 1, rom.size(), f) != rom.size()) {
        fprintf(stderr, "cannot write %s\n", g_romPath.c_str());
        exit(1);
    }
    fclose(f);

    freshLinker(traceLimit);
    write_N = m.writeN;
    G_unlockBypassMode = m.turbo;
    skipChip = -1;
    g_sample = Sample();
    g_sample.heapBefore = g_sample.heapPeak = heapInUse();
    cb_loadROMs_button(nullptr, nullptr);

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

// The simulator's share: the same transfers into the same erased chips.
double replay(const std::vector<sim::Transfer>& transfers)
{
    freshLinker(REPLAY_TRACE);
    sim::chip(0).fill(0, sim::chip(0).size(), 0xFF);
    sim::chip(1).fill(0, sim::chip(1).size(), 0xFF);
    uint8_t buf[64];
    int n;
    double start = cpuSeconds();
    for (const sim::Transfer& t : transfers) {
        if (t.in()) {
            libusb_bulk_transfer(devh, t.endpoint, buf, t.requested, &n, LINK_TIMEOUT_MS);
        } else {
            memcpy(buf, t.bytes.data(), std::min<size_t>(t.bytes.size(), sizeof buf));
            libusb_bulk_transfer(devh, t.endpoint, buf, t.requested, &n, LINK_TIMEOUT_MS);
        }
    }
    return cpuSeconds() - start;
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

    printf("| Method | Flashed | Own CPU ms/MiB | Simulator CPU ms/MiB | Device s/MiB (modelled) | "
           "Own / device | Exact |\n");
    printf("|---|---|---|---|---|---|---|\n");
    bool allExact = true;
    for (const Method& m : METHODS) {
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
        if (m.bytes < MIB)
            continue;
        Result small = flashOnce(m, MIB, 64);
        Result large = flashOnce(m, 4 * MIB, 64);
        printf("| %s | %zu bytes | %zu bytes |\n", m.name, small.heapGrowth, large.heapGrowth);
        fflush(stdout);
        allExact = allExact && small.exact && large.exact;
    }

    closeLink();
    unlink(g_romPath.c_str());
    rmdir(dir);
    return allExact ? 0 : 1;
}
