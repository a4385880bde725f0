#include "core/saves/block_plan.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include "core/report.h"

// Where the record goes, if it may go there at all.
static bool checkRecord(Reporter& r, const SaveRecord& rec, const CartLayout& layout, uint32_t* cartAddr)
{
    if (!cartAddrFromConsole(rec.NGPCaddr, cartAddr)) {
        printWindow(r, "restoreSaveGameToCart: invalid blockHeader->NGPCaddr=0x%08X", rec.NGPCaddr);
        return false;
    }
    // An empty record would still have its block erased.
    if (rec.blockLen == 0) {
        printWindow(r, "Record at 0x%08X is empty (blockLen=0).", rec.NGPCaddr);
        return false;
    }
    uint8_t chip = chipOf(*cartAddr);
    uint32_t chipBytes = layout.chipBytes(chip);
    if (chipBytes == 0) {
        printWindow(r, "Record at 0x%08X is on chip %d,", rec.NGPCaddr, chip);
        printWindow(r, "and no chip %d was detected.", chip);
        return false;
    }
    // The chip would take the address modulo its size: past its end lies its
    // first block, the cartridge header with it.
    if (uint64_t(*cartAddr & CHIP_ADDR_MASK) + rec.blockLen > chipBytes) {
        printWindow(r, "Record at 0x%08X, blockLen=0x%X,", rec.NGPCaddr, rec.blockLen);
        printWindow(r, "runs past the end of the chip.");
        return false;
    }
    return true;
}

static bool coversWholeBlock(std::vector<Piece> pieces, uint32_t size)
{
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.offset < b.offset; });
    uint32_t covered = 0;
    for (const Piece& p : pieces) {
        if (p.offset > covered)
            return false;
        covered = std::max(covered, p.offset + p.length);
    }
    return covered == size;
}

bool planSaveWrite(Reporter& r, const LoadedSave& save, const uint8_t chipMegabits[2], SavePlan* plan)
{
    CartLayout layout(chipMegabits[0], chipMegabits[1]);
    std::map<std::pair<uint8_t, uint8_t>, BlockStep> steps;
    uint32_t total = 0;
    for (const SaveRecord& rec : save.records) {
        uint32_t at;
        if (!checkRecord(r, rec, layout, &at))
            return false;
        uint32_t left = rec.blockLen;
        size_t dataAt = rec.dataAt;
        while (left > 0) {
            CartBlock b;
            layout.blockAt(at, &b);  // checkRecord kept the record on its chip
            uint32_t n = std::min(left, b.end() - at);
            BlockStep& step = steps[{b.chip, b.number}];
            step.block = b;
            step.pieces.push_back(Piece{at - b.start, dataAt, n});
            at += n;
            dataAt += n;
            left -= n;
        }
        total += rec.blockLen;
    }
    plan->steps.clear();
    for (auto& [key, step] : steps) {
        step.readFirst = !coversWholeBlock(step.pieces, step.block.size);
        plan->steps.push_back(std::move(step));
    }
    plan->total = total;
    return true;
}

void mergeBlock(const BlockStep& step, const uint8_t* body, const uint8_t* current, uint8_t* out)
{
    if (current)
        memcpy(out, current, step.block.size);
    else
        memset(out, 0xFF, step.block.size);
    for (const Piece& p : step.pieces)
        memcpy(out + p.offset, body + p.dataAt, p.length);
}
