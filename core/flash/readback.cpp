#include "core/flash/readback.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "core/cart/blocks.h"
#include "core/cart/read.h"
#include "core/flash/progress.h"
#include "core/link/transfer.h"

static const uint32_t READ_PIECE = PACKETS_PER_REQUEST * 64u;

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

// Reads the spans, cut at romSize, with the file's bytes at the same
// offsets. The bar counts to `total`, the bytes below romSize.
static ReadBackResult walkSpans(Link& link, FILE* rom, uint32_t romSize,
                                const std::vector<AddressRanges::Span>& spans, uint64_t total,
                                const PieceCheck& check, Reporter& r,
                                uint32_t (*pace)(uint32_t, uint32_t) = CartRead::fullRequests)
{
    uint8_t fileBuf[READ_PIECE];
    uint64_t done = 0;
    bool failed = false;
    CartRead read;
    read.pace = pace;
    for (const AddressRanges::Span& s : spans)
        read.spans.push_back({s.first, std::min(s.second, romSize)});
    read.before = [&](uint32_t at, uint32_t n) {
        showProgress(total ? float(double(done) / double(total)) : 0.0f, r);
        if (!r.goingOn())
            return false;
        if (fseek(rom, long(at), SEEK_SET) != 0 || fread(fileBuf, 1, n, rom) != n) {
            printWindow(r, "Failed to read the ROM file at 0x%06X", at);
            return !(failed = true);
        }
        return true;
    };
    read.take = [&](size_t i, uint32_t at, const uint8_t* cart, uint32_t n) {
        done += n;
        if (check(i, at, fileBuf, cart, n))
            return AfterPiece::GoOn;
        done += read.spans[i].second - (at + n);
        return AfterPiece::NextSpan;
    };
    switch (readCart(link, read)) {
    case CartReadEnd::Done:
        return ReadBackResult::Done;
    case CartReadEnd::Stopped:
        return failed ? ReadBackResult::Failed : ReadBackResult::Cancelled;
    default:
        return ReadBackResult::Failed;
    }
}

// A block that differs mostly does so from its first bytes (another game,
// another build): its first request is of one packet, and the requests grow
// while the block matches. A block that matches costs a few requests more.
static uint32_t growingRequests(uint32_t read, uint32_t remaining)
{
    return std::min(std::max(read, 64u), remaining);
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
                     r, growingRequests);
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
