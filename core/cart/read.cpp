#include "core/cart/read.h"

#include <algorithm>
#include <cstring>

#include "core/link/transfer.h"
#include "core/report.h"

static const uint32_t PACKET = 64;
static const uint32_t MAX_REQUEST = PACKETS_PER_REQUEST * PACKET;

uint32_t CartRead::fullRequests(uint32_t, uint32_t remaining)
{
    return std::min(remaining, MAX_REQUEST);
}

CartReadEnd readCart(Link& link, const CartRead& read, uint32_t* stoppedAt)
{
    uint8_t readBuf[MAX_REQUEST];
    for (size_t i = 0; i < read.spans.size(); i++) {
        const uint32_t end = read.spans[i].second;
        for (uint32_t at = read.spans[i].first; at < end;) {
            uint32_t n = std::min(std::min(read.pace(at - read.spans[i].first, end - at), end - at), MAX_REQUEST);
            if (at < CHIP_WINDOW && at + n > CHIP_WINDOW)
                n = CHIP_WINDOW - at;
            if (stoppedAt)
                *stoppedAt = at;
            if (read.before && !read.before(at, n))
                return CartReadEnd::Stopped;
            uint8_t packets = uint8_t((n + PACKET - 1) / PACKET);
            if (!link.read_64xN_bytes(readBuf, at & CHIP_ADDR_MASK, chipOf(at), packets))
                return CartReadEnd::LinkFailed;
            at += n;
            AfterPiece next = read.take(i, at - n, readBuf, n);
            if (next == AfterPiece::Stop)
                return CartReadEnd::Stopped;
            if (next == AfterPiece::NextSpan)
                break;
        }
    }
    return CartReadEnd::Done;
}

bool readUntilTwoAgree(Link& link, uint32_t at, uint32_t length, std::vector<std::vector<uint8_t>>* reads,
                       int most, bool* unstable, Reporter* breathe)
{
    *unstable = false;
    while (int(reads->size()) < most) {
        std::vector<uint8_t> again(length);
        if (!readCartInto(link, at, length, again.data(), breathe))
            return false;
        reads->push_back(std::move(again));
        for (size_t i = 0; i + 1 < reads->size(); i++)
            if ((*reads)[i] == reads->back())
                return true;
    }
    *unstable = true;
    return false;
}

bool readCartSure(Link& link, uint32_t at, uint32_t length, uint8_t* into, bool* unstable, Reporter* breathe)
{
    std::vector<std::vector<uint8_t>> reads;
    if (!readUntilTwoAgree(link, at, length, &reads, MOST_READS_TO_AGREE, unstable, breathe))
        return false;
    memcpy(into, reads.back().data(), length);
    return true;
}

bool readCartInto(Link& link, uint32_t at, uint32_t length, uint8_t* into, Reporter* breathe)
{
    CartRead read;
    read.spans = {{at, at + length}};
    if (breathe)
        read.before = [breathe](uint32_t, uint32_t) {
            breathe->breathe();
            return true;
        };
    read.take = [&](size_t, uint32_t from, const uint8_t* bytes, uint32_t n) {
        memcpy(into + (from - at), bytes, n);
        return AfterPiece::GoOn;
    };
    return readCart(link, read) == CartReadEnd::Done;
}
