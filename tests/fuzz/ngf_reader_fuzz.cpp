// Feeds arbitrary bytes to the NGF reader as a whole file: first to the
// in-memory checks, walking the records they accepted unit by unit; then
// through what Write Savegame runs, loading from a stream, checking the
// records against several cartridges and planning and merging every block.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/jobs/ngf.h"
#include "core/report.h"
#include "core/saves/block_plan.h"
#include "core/saves/ngf_load.h"

// The reader's messages have nowhere to go here; their formats are checked
// when the program is compiled.
void printWindow(const char*, ...) {}

static void walkParsed(const uint8_t* data, size_t size)
{
    NgfHeader h;
    const uint8_t* body = nullptr;
    if (!ngfParse(data, size, "fuzz.ngf", &h, &body))
        return;
    size_t bodyLen = h.len - NGF_HEADER_LEN;
    size_t offset = 0;
    volatile uint8_t sink = 0;
    for (int i = 0; i < h.numBlocks; i++) {
        NgfRecord rec;
        // Every record was checked to lie inside the body before this point.
        if (!ngfRecordAt(body, bodyLen, &offset, &rec))
            __builtin_trap();
        uint32_t cartAddr;
        if (!cartAddrFromConsole(rec.head.NGPCaddr, &cartAddr) || !recordFitsItsChip(rec.head))
            break;
        if (consoleAddrFromCart(cartAddr) != rec.head.NGPCaddr)
            __builtin_trap();
        uint8_t unit[NGF_UNIT];
        for (uint32_t o = 0; o < rec.head.blockLen; o += NGF_UNIT) {
            ngfUnit(rec, o, unit);
            sink = sink ^ unit[0] ^ unit[NGF_UNIT - 1];
        }
    }
}

// Every block of the plan lies on its chip, is read exactly when some of
// its bytes are no record's, and merges to the last record's byte wherever
// one lands and to the cartridge's byte everywhere else.
static void checkPlan(const LoadedSave& save, const uint8_t chips[2])
{
    SavePlan plan;
    if (!planSaveWrite(save, chips, &plan))
        return;
    uint64_t pieces = 0;
    for (const BlockStep& step : plan.steps) {
        const CartBlock& b = step.block;
        if (b.chipAddr() + b.size > uint32_t(chips[b.chip]) * MEGABIT)
            __builtin_trap();
        std::vector<uint8_t> current(b.size), merged(b.size), want(b.size);
        std::vector<bool> covered(b.size);
        for (uint32_t i = 0; i < b.size; i++)
            current[i] = want[i] = uint8_t(i * 7 + b.number);
        for (const Piece& p : step.pieces) {
            if (p.length == 0 || p.offset + uint64_t(p.length) > b.size ||
                p.dataAt + p.length > save.body.size())
                __builtin_trap();
            for (uint32_t i = 0; i < p.length; i++) {
                want[p.offset + i] = save.body[p.dataAt + i];
                covered[p.offset + i] = true;
            }
            pieces += p.length;
        }
        bool gaps = false;
        for (bool c : covered)
            gaps = gaps || !c;
        if (gaps != step.readFirst)
            __builtin_trap();
        mergeBlock(step, save.body.data(), current.data(), merged.data());
        if (merged != want)
            __builtin_trap();
    }
    if (pieces != plan.total)
        __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    walkParsed(data, size);

    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!f)
        return 0;
    LoadedSave save;
    bool loaded = loadNgfFile(f, "fuzz.ngf", &save);
    fclose(f);
    if (!loaded)
        return 0;
    static const uint8_t CARTS[][2] = {{16, 16}, {8, 4}, {4, 0}};
    for (const auto& chips : CARTS)
        checkPlan(save, chips);
    return 0;
}
