// Feeds arbitrary bytes to the NGF loader as a whole file, through what
// Write Savegame runs: loading from a stream, checking the records against
// several cartridges and planning and merging every block. The same bytes
// also pick a cartridge and its protected blocks for the safety copy's
// record list, whose file must load and plan back to exactly those blocks.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/cart/blocks.h"
#include "core/cart/detect.h"
#include "core/report.h"
#include "core/saves/block_plan.h"
#include "core/saves/ngf.h"
#include "core/saves/ngf_load.h"

// The reader's messages have nowhere to go here; their formats are checked
// when the program is compiled.
void printWindow(Reporter&, const char*, ...) {}
void Reporter::notes(const std::vector<std::string>&, const std::vector<std::string>&) {}
namespace {
struct Quiet : Reporter {
    void line(const char*) override {}
} quiet;
}  // namespace


static bool load(const uint8_t* data, size_t size, LoadedSave* save)
{
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!f)
        return false;
    bool loaded = loadNgfFile(quiet, f, "fuzz.ngf", save);
    fclose(f);
    return loaded;
}

// Every block of the plan lies on its chip, is read exactly when some of
// its bytes are no record's, and merges to the last record's byte wherever
// one lands and to the cartridge's byte everywhere else.
static void checkPlan(const LoadedSave& save, const uint8_t chips[2])
{
    SavePlan plan;
    if (!planSaveWrite(quiet, save, chips, &plan))
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

// Cartridges detection may report: one chip of 4, 8 or 16 Mbit, two of
// 16, two of different sizes, or chip 1 alone behind a silent chip 0.
static const uint8_t CARTS[][2] = {{4, 0}, {8, 0}, {16, 0}, {16, 16}, {16, 8}, {0, 16}};

// A safety copy of the unprotected blocks loads as the blocks it lists and
// plans to write each of them whole, from its own record, with nothing to
// read first.
static void checkSafetyCopy(const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    const uint8_t* chips = CARTS[data[0] % (sizeof CARTS / sizeof CARTS[0])];
    // What detection finds, set from the input instead of a cartridge.
    Cart cart;
    cart.chipSize[0] = chips[0];
    cart.chipSize[1] = chips[1];
    // Detection marks every slot protected, then scans the chips' real
    // blocks: the main blocks up to the boot region and its four.
    int unprotected = 0;
    for (int i = 0; i < BLOCK_SLOTS; i++) {
        int chip = i / BLOCKS_PER_CHIP, block = i % BLOCKS_PER_CHIP;
        bool real = chips[chip] && block < chips[chip] * 2 - 1 + 4;
        cart.prot[i] = real ? data[(1 + i / 8) % size] >> (i % 8) & 1 : 1;
        unprotected += cart.prot[i] == 0;
    }

    NgfBlockHeader records[NGF_MAX_WRITE_BLOCKS];
    int count = ngfRecordList(cart, records);
    if (count != unprotected)
        __builtin_trap();
    // A copy runs to megabytes: its buffers are kept from one input to the
    // next, or fresh pages would cost more than the checks. What the blocks
    // hold does not matter here.
    static std::vector<uint8_t> file;
    static LoadedSave save;
    file.resize(ngfFileLen(records, count));
    putNgfHeader(file.data(), NgfHeader{NGF_VERSION, uint16_t(count), uint32_t(file.size())});
    std::vector<size_t> dataAt(count);
    size_t at = NGF_HEADER_LEN;
    for (int i = 0; i < count; i++) {
        uint32_t cartAddr;
        if (!cartAddrFromConsole(records[i].NGPCaddr, &cartAddr) || !recordFitsItsChip(records[i]) ||
            consoleAddrFromCart(cartAddr) != records[i].NGPCaddr)
            __builtin_trap();
        putNgfBlockHeader(file.data() + at, records[i]);
        at += NGF_BLOCK_HEADER_LEN;
        dataAt[i] = at - NGF_HEADER_LEN;
        at += records[i].blockLen;
    }
    if (at != file.size())
        __builtin_trap();

    save.body.clear();  // the loader fills it from empty; its room stays
    SavePlan plan;
    if (!load(file.data(), file.size(), &save) || !planSaveWrite(quiet, save, chips, &plan) ||
        plan.steps.size() != size_t(count))
        __builtin_trap();
    for (int i = 0; i < count; i++) {
        const BlockStep& step = plan.steps[i];
        const CartBlock& b = step.block;
        if (step.readFirst || consoleAddrFromCart(b.start) != records[i].NGPCaddr ||
            b.size != records[i].blockLen || cart.isProtected(b) ||
            step.pieces.size() != 1 || step.pieces[0].offset != 0 || step.pieces[0].length != b.size ||
            step.pieces[0].dataAt != dataAt[i])
            __builtin_trap();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkSafetyCopy(data, size);

    LoadedSave save;
    if (!load(data, size, &save))
        return 0;
    static const uint8_t PLAN_CARTS[][2] = {{16, 16}, {8, 4}, {4, 0}};
    for (const auto& chips : PLAN_CARTS)
        checkPlan(save, chips);
    return 0;
}
