// Reading the cartridge in bulk: every job that reads more than a byte or a
// header reads through here, over address spans, in requests that never
// cross a chip's end.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/cart/blocks.h"

class Link;
class Reporter;

// What a piece's reader wants next.
enum class AfterPiece {
    GoOn,
    NextSpan,  // the rest of this span is not wanted
    Stop,      // nothing more is wanted
};

struct CartRead {
    // In the order they are read, each whole unless cut short; cartridge
    // addresses, chip 1's from 0x200000.
    std::vector<AddressRanges::Span> spans;
    // The next request's length from what of its span was read and what
    // remains; a length that is no whole number of packets asks for the
    // packet that holds its end, and hands over only the length.
    uint32_t (*pace)(uint32_t read, uint32_t remaining) = fullRequests;
    // Before each request, with the address and length it will read: false
    // stops the read there. Optional.
    std::function<bool(uint32_t at, uint32_t length)> before;
    // Each piece read, with the index of its span.
    std::function<AfterPiece(size_t span, uint32_t at, const uint8_t* bytes, uint32_t length)> take;

    // As many bytes as one request can bring (8 KB).
    static uint32_t fullRequests(uint32_t read, uint32_t remaining);
};

enum class CartReadEnd {
    Done,
    Stopped,     // `before` or `take` said so
    LinkFailed,  // a request failed; the link has said why
};

// `stoppedAt`, when given, gets the address of the piece the read ended at
// when it did not end done.
CartReadEnd readCart(Link& link, const CartRead& read, uint32_t* stoppedAt = nullptr);

// `length` bytes from cartridge address `at` into `into`, letting the face
// breathe before each request when given one; false when the link failed.
bool readCartInto(Link& link, uint32_t at, uint32_t length, uint8_t* into, Reporter* breathe = nullptr);

// Bytes that five reads give no two alike are not going to settle: the
// contacts want cleaning.
constexpr int MOST_READS_TO_AGREE = 5;

// Reads the bytes again, `most` reads in all at most, until a read agrees
// with one in `reads` (those already taken); true with it last in `reads`.
// False when the link failed, or, with *unstable set, when none agreed.
bool readUntilTwoAgree(Link& link, uint32_t at, uint32_t length, std::vector<std::vector<uint8_t>>* reads,
                       int most, bool* unstable, Reporter* breathe = nullptr);

// The same for bytes that are about to be erased and written back: read
// twice, and again while the last two reads differ, a few times at most, so
// that a byte misread through dirty contacts is never what goes back. False
// when the link failed, or, with *unstable set, when no two reads running
// agreed.
bool readCartSure(Link& link, uint32_t at, uint32_t length, uint8_t* into, bool* unstable,
                  Reporter* breathe = nullptr);
