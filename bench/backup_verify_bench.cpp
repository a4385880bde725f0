// What Backup ROM and Verify ROM cost the host, against the simulated linker
// answering at once, next to the time the modelled device and USB link take.
//
// For each cartridge size: the job's CPU time, the CPU time of the same read
// requests replayed bare through the transfer primitive (the simulator's own
// share and the primitive's), the difference as the job's own cost, the
// modelled device time, and the peak resident memory the job added.
//
// Then reading for sure: Backup ROM's two passes against one (its target:
// at most 2.05 times the device time), and what Verify ROM reads again on a
// clean cartridge (its target: nothing).
//
// Run under a display (xvfb-run): the jobs show their progress window.

#include <FL/Fl.H>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/link/linker.h"
#include "support/command_buttons.h"
#include "sim.h"
#include "gui/file_choice.h"
#include "gui/main_window.h"
#include "gui/prefs.h"

static const double MIB = 1048576.0;
// Full-speed bulk: at most 19 packets of 64 bytes per 1 ms frame.
static const double BULK_SECONDS_PER_MIB = MIB / (19.0 * 64.0 * 1000.0);
static const int RUNS = 3;

static std::string g_path;

static bool answerPath(const char*, const char*, FileChoiceMode, const char*, std::string* path)
{
    *path = g_path;
    return true;
}

static double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Resident set in KiB, now or at its peak since the last resetPeak().
static long statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, strlen(field), field) == 0)
            return atol(line.c_str() + strlen(field) + 1);
    return -1;
}

static void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Request {
    uint32_t address;
    uint8_t chip, packets;
};

// The read requests a command sends, taken from the simulator's trace.
static std::vector<Request> requestsOf(const char* command)
{
    sim::setTraceLimit(1u << 20);
    sim::Mark m = sim::mark();
    clickCommand(command);
    std::vector<Request> reads;
    for (const sim::Transfer& t : sim::transfersSince(m))
        if (!t.in() && t.bytes.size() == 64 && t.bytes[0] == 0x04)
            reads.push_back({uint32_t(t.bytes[1] << 16 | t.bytes[2] << 8 | t.bytes[3]), t.bytes[5],
                             t.bytes[6]});
    sim::setTraceLimit(1);
    return reads;
}

struct Measure {
    double jobCpu = 1e9, bareCpu = 1e9, device = 0;
    long peakKiB = 0;
};

static Measure measure(const char* command)
{
    std::vector<Request> reads = requestsOf(command);
    static uint8_t buf[8192];
    Measure best;
    for (int run = 0; run < RUNS; run++) {
        long before = statusKiB("VmRSS:");
        resetPeak();
        double clock0 = sim::clockSeconds(), cpu0 = cpuSeconds();
        clickCommand(command);
        double cpu1 = cpuSeconds(), clock1 = sim::clockSeconds();
        best.peakKiB = std::max(best.peakKiB, statusKiB("VmHWM:") - before);
        best.jobCpu = std::min(best.jobCpu, cpu1 - cpu0);
        best.device = clock1 - clock0;

        cpu0 = cpuSeconds();
        for (const Request& r : reads)
            linker().link().read_64xN_bytes(buf, r.address, r.chip, r.packets);
        best.bareCpu = std::min(best.bareCpu, cpuSeconds() - cpu0);
    }
    return best;
}

static void row(const char* cart, const char* job, double mib, const Measure& m)
{
    double own = std::max(0.0, m.jobCpu - m.bareCpu) / mib;
    double device = m.device / mib;
    printf("| %-10s | %-6s | %5.2f | %8.2f | %8.2f | %8.2f | %8.1f | %6.2f%% | %5.3f | %6ld |\n",
           cart, job, mib, m.jobCpu / mib * 1e3, m.bareCpu / mib * 1e3, own * 1e3, device * 1e3,
           own / device * 100.0, device / BULK_SECONDS_PER_MIB, m.peakKiB);
}

// Device seconds of one run of the command, and the bytes its read requests
// asked for.
static std::pair<double, uint64_t> deviceAndBytesRead(const char* command)
{
    sim::setTraceLimit(1u << 20);
    sim::Mark m = sim::mark();
    double before = sim::clockSeconds();
    clickCommand(command);
    double device = sim::clockSeconds() - before;
    uint64_t bytes = 0;
    for (const sim::Transfer& t : sim::transfersSince(m))
        if (!t.in() && t.bytes.size() == 64 && t.bytes[0] == 0x04)
            bytes += 64u * t.bytes[6];
    sim::setTraceLimit(1);
    return {device, bytes};
}

// True when every cartridge meets both targets.
static bool benchReadingForSure()
{
    printf("\n| cartridge | backup, 1 pass s | backup, 2 passes s | ratio | verify read again |\n"
           "|---|---|---|---|---|\n");
    bool met = true;
    for (const char* cart : {"flash8", "official32"}) {
        sim::insertCart(cart);
        double size = double(sim::cartImage().size());
        windowSettings().readPasses = 1;
        double once = deviceAndBytesRead("backup").first;
        windowSettings().readPasses = 2;
        double twice = deviceAndBytesRead("backup").first;
        windowSettings().readPasses = 1;
        // The file just backed up is the cartridge: nothing differs.
        double again = double(deviceAndBytesRead("verify").second) / size - 1.0;
        bool ok = twice / once <= 2.05 && again <= 0.0;
        printf("| %s | %.2f | %.2f | %.3f (at most 2.05) | %.1f%% (target 0%%)%s |\n", cart, once, twice,
               twice / once, 100.0 * again, ok ? "" : " MISSED");
        met = met && ok;
    }
    return met;
}

int main()
{
    Fl::lock();
    buildMainWindow();
    sim::reset();
    if (!openLink(stderrReporter())) {
        fprintf(stderr, "the simulated linker did not open\n");
        return 1;
    }
    char dir[] = "/tmp/ptb-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    g_path = std::string(dir) + "/bench.ngp";
    g_fileChoiceHook = answerPath;

    printf("Full-speed bulk limit: %.1f ms per MiB\n\n", BULK_SECONDS_PER_MIB * 1e3);
    printf("| cartridge  | job    |   MiB | job CPU ms/MiB | bare reads ms/MiB | own ms/MiB | "
           "device ms/MiB | own/device | device/bulk | peak KiB |\n");
    printf("|---|---|---|---|---|---|---|---|---|---|\n");
    for (const char* cart : {"flash4", "flash8", "official16", "official32"}) {
        sim::insertCart(cart);
        double mib = double(sim::cartImage().size()) / MIB;
        row(cart, "backup", mib, measure("backup"));
        row(cart, "verify", mib, measure("verify"));
    }
    bool met = benchReadingForSure();
    unlink(g_path.c_str());
    rmdir(dir);
    closeLink();
    return met ? 0 : 1;
}
