// Feeds arbitrary bytes to the NGF reader as a whole file, then walks the
// records it accepted the way Write Savegame does, unit by unit.
#include <cstdint>

#include "core/jobs/ngf.h"
#include "core/report.h"

// The reader's messages have nowhere to go here; their formats are checked
// when the program is compiled.
void printWindow(const char*, ...) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    NgfHeader h;
    const uint8_t* body = nullptr;
    if (!ngfParse(data, size, "fuzz.ngf", &h, &body))
        return 0;
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
    return 0;
}
