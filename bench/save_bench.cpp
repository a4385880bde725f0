// What Backup Savegame and Write Savegame's safety copy cost in modelled
// device time: the save area read 8 KB to a request against 64 bytes a
// request as it was read before, and a safety copy of the blocks a one-record
// write erases against a copy of the whole save area. On a cartridge with
// nothing protected (the whole cartridge is its "save area") the difference
// is what a user waits for before every write.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/cart/blocks.h"
#include "core/cart/detect.h"
#include "core/jobs/jobs.h"
#include "core/saves/ngf.h"
#include "core/link/linker.h"
#include "sim.h"

namespace {

class Quiet : public Reporter {
public:
    void line(const char*) override {}
};

// Modelled seconds `step` takes.
template <class F>
double modelled(F step)
{
    double start = sim::clockSeconds();
    step();
    return sim::clockSeconds() - start;
}

// Backup Savegame's probe and reads as they were before: one 64-byte
// request per 64 bytes.
double readSaveAreaBy64(Cart* probed)
{
    NgfBlockHeader records[NGF_MAX_WRITE_BLOCKS];
    static uint8_t chunk[64];
    return modelled([&] {
        checkCart(stderrReporter(), linker().link(), probed, nullptr, nullptr, nullptr, true, false);
        int count = ngfRecordList(*probed, records);
        for (int i = 0; i < count; i++) {
            uint32_t cart = 0;
            cartAddrFromConsole(records[i].NGPCaddr, &cart);
            for (uint32_t o = 0; o < records[i].blockLen; o += 64)
                linker().link().read_64xN_bytes(chunk, (cart + o) & CHIP_ADDR_MASK, chipOf(cart), 1);
        }
    });
}

// The save area read 8 KB to a request: what a copy of it all costs.
double readSaveAreaBy8K(const Cart& probed, uint64_t* bytes)
{
    NgfBlockHeader records[NGF_MAX_WRITE_BLOCKS];
    int count = ngfRecordList(probed, records);
    static uint8_t chunk[8192];
    *bytes = 0;
    return modelled([&] {
        for (int i = 0; i < count; i++) {
            uint32_t cart = 0;
            cartAddrFromConsole(records[i].NGPCaddr, &cart);
            *bytes += records[i].blockLen;
            for (uint32_t o = 0; o < records[i].blockLen; o += sizeof chunk)
                linker().link().read_64xN_bytes(chunk, (cart + o) & CHIP_ADDR_MASK, chipOf(cart), 128);
        }
    });
}

}  // namespace

int main()
{
    char dir[] = "/tmp/ptb-save-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    setenv("XDG_DATA_HOME", dir, 1);
    sim::reset();
    sim::setEraseTimes(0.2, 25.0);
    if (!openLink(stderrReporter())) {
        fprintf(stderr, "the simulated linker did not open\n");
        return 1;
    }
    Quiet quiet;
    std::string backup = std::string(dir) + "/backup.ngf", in = std::string(dir) + "/in.ngf";

    printf("Backup Savegame, modelled seconds\n\n");
    printf("| cartridge | save area KiB | 64 bytes a request (before) | 8 KB a request (now) |\n");
    printf("|---|---|---|---|\n");
    struct BenchCart { const char* name; const char* label; bool unprotect; };
    const BenchCart carts[] = {{"official16", "official16", false},
                          {"official32", "official32", false},
                          {"official32", "two 16 Mbit chips, nothing protected", true}};
    for (const BenchCart& c : carts) {
        sim::insertCart(c.name);
        if (c.unprotect) {
            sim::chip(0).protectAll(false);
            sim::chip(1).protectAll(false);
        }
        Cart probed;
        double before = readSaveAreaBy64(&probed);
        double now = modelled([&] {
            Job job(linker().link(), quiet);
            backupSaveGame(backup, job);
        });
        uint64_t bytes = 0;
        readSaveAreaBy8K(probed, &bytes);
        printf("| %s | %llu | %.2f | %.2f |\n", c.label, (unsigned long long)(bytes / 1024), before, now);
    }

    printf("\nWrite Savegame of one 256-byte record, modelled seconds\n\n");
    printf("| cartridge | copy of the save area (before): KiB, s | copy of the erased block (now): KiB | whole job now, s |\n");
    printf("|---|---|---|---|\n");
    for (const BenchCart& c : carts) {
        sim::insertCart(c.name);
        if (c.unprotect) {
            sim::chip(0).protectAll(false);
            sim::chip(1).protectAll(false);
        }
        Cart probed;
        checkCart(stderrReporter(), linker().link(), &probed, nullptr, nullptr, nullptr, true, false);
        uint64_t areaBytes = 0;
        double area = readSaveAreaBy8K(probed, &areaBytes);
        std::vector<uint8_t> file(NGF_HEADER_LEN + NGF_BLOCK_HEADER_LEN + 256, 0x5A);
        putNgfHeader(file.data(), NgfHeader{NGF_VERSION, 1, uint32_t(file.size())});
        putNgfBlockHeader(file.data() + NGF_HEADER_LEN, NgfBlockHeader{0x3FA100, 256});
        FILE* f = fopen(in.c_str(), "wb");
        fwrite(file.data(), 1, file.size(), f);
        fclose(f);
        SaveWriteRun run;
        double job = modelled([&] {
            Job job(linker().link(), quiet);
            writeSaveGame(in, job, &run);
        });
        long copyBytes = 0;
        if (FILE* copy = fopen(run.copy.c_str(), "rb")) {
            fseek(copy, 0, SEEK_END);
            copyBytes = ftell(copy);
            fclose(copy);
        }
        printf("| %s | %llu, %.2f | %.1f | %.2f |\n", c.label, (unsigned long long)(areaBytes / 1024), area,
               copyBytes / 1024.0, job);
    }
    closeLink();
    std::string clean = std::string("rm -rf '") + dir + "'";
    return system(clean.c_str()) == 0 ? 0 : 1;
}
