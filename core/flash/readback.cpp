#include "core/flash/readback.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "core/cart/blocks.h"
#include "core/flash/progress.h"
#include "core/link/transfer.h"

static const uint32_t READ_PIECE = PACKETS_PER_REQUEST * 64u;
static const uint32_t PACKET = 64;

void addDifferences(const uint8_t* want, const uint8_t* got, uint32_t length, uint32_t at,
                    Differences* d)
{
    for (uint32_t i = 0; i < length; i++) {
        if (want[i] == got[i])
            continue;
        if (d->count == 0)
            d->first = at + i;
        d->count++;
    }
}

// Told each piece read, with the file's and the cartridge's bytes; returns
// whether the rest of the span is still wanted.
using PieceCheck =
    std::function<bool(size_t span, uint32_t at, const uint8_t* file, const uint8_t* cart, uint32_t n)>;

// Reads the spans, cut at romSize, in pieces of at most READ_PIECE bytes
// that never cross a chip's end, with the file's bytes at the same offsets.
// The bar counts to `total`, the bytes below romSize.
static ReadBackResult walkSpans(Link& link, FILE* rom, uint32_t romSize,
                                const std::vector<AddressRanges::Span>& spans, uint64_t total,
                                const PieceCheck& check, Reporter& r)
{
    uint8_t fileBuf[READ_PIECE], cartBuf[READ_PIECE];
    uint64_t done = 0;
    for (size_t i = 0; i < spans.size(); i++) {
        uint32_t end = std::min(spans[i].second, romSize);
        for (uint32_t at = spans[i].first; at < end;) {
            showProgress(total ? float(double(done) / double(total)) : 0.0f, r);
            if (!r.goingOn())
                return ReadBackResult::Cancelled;
            uint32_t n = std::min(end - at, READ_PIECE);
            if (at < CHIP_WINDOW && at + n > CHIP_WINDOW)
                n = CHIP_WINDOW - at;
            if (fseek(rom, long(at), SEEK_SET) != 0 || fread(fileBuf, 1, n, rom) != n) {
                printWindow(r, "Failed to read the ROM file at 0x%06X", at);
                return ReadBackResult::Failed;
            }
            uint8_t packets = uint8_t((n + PACKET - 1) / PACKET);
            if (!link.read_64xN_bytes(cartBuf, at & CHIP_ADDR_MASK, chipOf(at), packets))
                return ReadBackResult::Failed;
            at += n;
            done += n;
            if (!check(i, at - n, fileBuf, cartBuf, n)) {
                done += end - at;
                break;
            }
        }
    }
    return ReadBackResult::Done;
}

ReadBackResult findChangedBlocks(Link& link, FILE* rom, uint32_t romSize, const std::vector<CartBlock>& blocks,
                                 std::vector<bool>* changed, Reporter& r)
{
    std::vector<AddressRanges::Span> spans;
    for (const CartBlock& b : blocks)
        spans.push_back({b.start, b.end()});
    changed->assign(blocks.size(), false);
    return walkSpans(link, rom, romSize, spans, AddressRanges(blocks).bytesBelow(romSize),
                     [changed](size_t span, uint32_t, const uint8_t* file, const uint8_t* cart,
                               uint32_t n) {
                         if (memcmp(file, cart, n) == 0)
                             return true;
                         (*changed)[span] = true;
                         return false;
                     },
                     r);
}

ReadBackResult compareWithCart(Link& link, FILE* rom, uint32_t romSize, const AddressRanges& ranges,
                               Differences* d, Reporter& r)
{
    *d = Differences();
    return walkSpans(link, rom, romSize, ranges.spans(), ranges.bytesBelow(romSize),
                     [d](size_t, uint32_t at, const uint8_t* file, const uint8_t* cart, uint32_t n) {
                         addDifferences(file, cart, n, at, d);
                         return true;
                     },
                     r);
}
