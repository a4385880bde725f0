// What knowing a dump costs: the checksums of a 4 MiB backup next to the
// modelled time the linker takes to read it, the loading of a 5,000-game
// known-dump list made here, and `identify` of 50 files against one
// 60,000-entry list, which is read once for all of them.
//
// Targets: hashing under 2% of the backup's device time; the list loaded in
// under 100 ms; the 50 files in under 1 s of CPU.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/identity/identity.h"
#include "core/jobs/jobs.h"
#include "core/link/linker.h"
#include "sim.h"

static const int RUNS = 3;
static const uint8_t PACKETS = 128;
static const uint32_t CHUNK = PACKETS * 64;  // the backup's request size

static double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

static double wallSeconds()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The two-chip official cartridge read as the backup reads it; returns the
// modelled device seconds.
static double readCartridge(std::vector<uint8_t>* image)
{
    sim::insertCart("official32");
    image->assign(sim::cartImage().size(), 0);
    double t0 = sim::clockSeconds();
    for (uint32_t pos = 0; pos < image->size(); pos += CHUNK)
        if (!linker().link().read_64xN_bytes(image->data() + pos, pos & 0x1FFFFF, pos > 0x1FFFFF, PACKETS))
            return -1;
    return sim::clockSeconds() - t0;
}

// Both chips keep their save area in block 33 (0x1FA000, 8 KiB).
static double hashSeconds(const std::vector<uint8_t>& image)
{
    double best = 1e9;
    for (int run = 0; run < RUNS; run++) {
        double t0 = cpuSeconds();
        ImageHasher h({{0x1FA000, 0x2000}, {0x3FA000, 0x2000}});
        for (size_t pos = 0; pos < image.size(); pos += CHUNK)
            h.update(image.data() + pos, CHUNK);
        h.finish();
        best = std::min(best, cpuSeconds() - t0);
    }
    return best;
}

static std::string makeList(const std::string& dir, int games)
{
    std::string path = dir + "/big.dat";
    std::ofstream out(path);
    out << "<?xml version=\"1.0\"?>\n<datafile>\n<header><name>Bench</name></header>\n";
    char line[512];
    for (int i = 0; i < games; i++) {
        snprintf(line, sizeof line,
                 "<game name=\"Game %05d (World) (Rev %d)\">\n"
                 "  <description>Game %05d (World) (Rev %d)</description>\n"
                 "  <rom name=\"Game %05d.ngc\" size=\"%d\" crc=\"%08x\" "
                 "md5=\"%032x\" sha1=\"%040x\" serial=\"%04X\" status=\"verified\"/>\n"
                 "</game>\n",
                 i, i % 3, i, i % 3, i, (1 + i % 4) << 20, unsigned(i) * 2654435761u, i, i, i);
        out << line;
    }
    out << "</datafile>\n";
    return path;
}

// Lines go nowhere: only the work is measured.
class Silent : public Reporter {
    void line(const char*) override {}
};

// 50 distinct 1 MiB images, identified one after another as
// `identify FILE...` does, against lists read once.
static double identifySeconds(const std::string& dir, const std::string& listDir, int files)
{
    std::vector<std::string> paths;
    for (int i = 0; i < files; i++) {
        std::vector<uint8_t> image(0x100000);
        uint32_t x = uint32_t(i) + 1;
        for (uint8_t& b : image)
            b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
        paths.push_back(dir + "/rom" + std::to_string(i) + ".ngp");
        std::ofstream(paths.back(), std::ios::binary).write(reinterpret_cast<const char*>(image.data()), long(image.size()));
    }
    Silent quiet;
    double t0 = cpuSeconds();
    KnownDumps known = loadKnownDumps(listDir);
    for (const std::string& path : paths)
        identifyImage(path, known, quiet);
    return cpuSeconds() - t0;
}

int main()
{
    sim::reset();
    if (!openLink(stderrReporter())) {
        fprintf(stderr, "the simulated linker did not open\n");
        return 1;
    }
    std::vector<uint8_t> image;
    double device = readCartridge(&image);
    closeLink();
    if (device <= 0) {
        fprintf(stderr, "the cartridge could not be read\n");
        return 1;
    }
    double hash = hashSeconds(image);
    printf("Identity of a %.0f MiB backup (CRC32, MD5, SHA-1, SHA-256 and the save-area key):\n",
           image.size() / 1048576.0);
    printf("| device s | hashing ms | hashing/device | target |\n|---|---|---|---|\n");
    printf("| %8.3f | %10.2f | %13.2f%% | < 2%% |\n\n", device, hash * 1e3, hash / device * 100);

    char dir[] = "/tmp/ptb-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const int games = 5000;
    std::string list = makeList(dir, games);
    double first = 0, best = 1e9;
    size_t entries = 0;
    for (int run = 0; run < RUNS; run++) {
        double t0 = wallSeconds();
        KnownDumps k = loadKnownDumps(dir);
        double t = wallSeconds() - t0;
        entries = k.entries.size();
        if (run == 0)
            first = t;
        best = std::min(best, t);
    }
    printf("Known-dump list of %d games (%.1f MiB, %zu entries read):\n", games,
           std::filesystem::file_size(list) / 1048576.0, entries);
    printf("| first load ms | best of %d ms | target |\n|---|---|---|\n", RUNS);
    printf("| %13.2f | %12.2f | < 100 ms |\n\n", first * 1e3, best * 1e3);

    // One list of 60,000 entries in a folder of its own.
    std::string listDir = std::string(dir) + "/lists";
    std::filesystem::create_directories(listDir);
    std::string big = makeList(listDir, 60000);
    const int files = 50;
    double cpu = identifySeconds(dir, listDir, files);
    printf("identify of %d files of 1 MiB against one list of 60,000 entries (%.1f MiB), read once:\n", files,
           std::filesystem::file_size(big) / 1048576.0);
    printf("| CPU s | target |\n|---|---|\n| %5.2f | < 1 s |\n", cpu);
    std::filesystem::remove_all(dir);
    return 0;
}
