// Erasing the cartridge's flash: the chip-erase and block-erase commands,
// and the one wait for an erase to end, which every job that erases uses
// with a policy of its own.
#pragma once

#include <cstdint>
#include <optional>

#include "core/report.h"

class Link;

constexpr uint8_t ERASE_CHIP0 = 0;
constexpr uint8_t ERASE_CHIP1 = 1;
constexpr uint8_t ERASE_BOTH = 2;

// Starts a whole-chip erase and returns at once; the caller waits for the end.
// True only when the linker accepted every cycle of every chip's
// command. A cycle goes out only after the one before it was accepted, and
// chip 1's command only after chip 0's: a chip given half a command is left
// as it was, and one refused cycle means the erase may never have started.
bool erase_cart_checked(Link& link, uint8_t chips);

// How long a whole-chip erase of a chip this size usually takes: flash datasheets
// of these parts give about 25 s for 16 Mbit, less in proportion for smaller chips.
double typicalChipEraseSeconds(uint8_t megabits);

// A block erases in about 0.7 s, whatever its size, by the datasheets of
// these parts: a chip's 35 blocks take about what its chip erase does.
constexpr double TYPICAL_BLOCK_ERASE_SECONDS = 0.7;

// Sends the block-erase command for the block holding chipAddr.
bool sendBlockErase(Link& link, uint32_t chipAddr, uint8_t chip);

// What a wait for an erase takes as its end, and how long it gives it.
struct EraseWait {
    // Done once the data-polling bit of the status is set (a chip erase),
    // or once the polled address reads erased (a block erase).
    bool doneOnStatusBit = false;
    // The same byte twice running means the chip is not erasing (protected,
    // refusing, or never told): an erasing chip toggles a status bit on
    // every read.
    bool stillMeansRefused = true;
    // A busy status has its erase-timer bit set and so never reads 0: a
    // first read of 0 already says the chip is not erasing.
    bool zeroMeansRefused = false;
    // Still busy past this, the erase will not finish.
    double limitSeconds = 20.0;
    // A status read takes a quarter of a millisecond and an erase from most
    // of a second to tens of seconds: the face breathes this often, not
    // after every read, which would cost more than the reading itself.
    double breatheEverySeconds = 0.001;
    // Past this, Cancel ends the wait; below zero, Cancel waits for the end
    // (the chip finishes an erase once it has begun).
    double cancelAfterSeconds = -1.0;
    // Above zero: the bar moves with the time taken against this.
    double typicalSeconds = 0.0;
};

// A block erase takes well under a second, and no datasheet of these chips
// allows more than a few; past 20 seconds the block will not erase at all.
constexpr EraseWait BLOCK_ERASE_WAIT{};

// A normal chip erase takes well under a minute; a chip still busy after
// five minutes is not going to finish. Cancel is not consulted: a chip erase
// cannot be stopped halfway.
EraseWait chipEraseWait(double typicalSeconds);

enum class EraseEnd {
    Erased,
    Refused,     // the chip stopped answering with its busy status, or never did
    TimedOut,    // still busy at the policy's limit
    Cancelled,   // the user stopped the wait once the policy let them
    LinkFailed,  // a read failed; the link has said why
};

// One erase under way, looked at one read at a time, so that erases on
// both chips can be watched in turn.
class EraseWatch {
public:
    EraseWatch(Link& link, uint32_t chipAddr, uint8_t chip, const EraseWait& policy, double started);
    // Reads the chip once: how the erase ended, or nothing while it runs.
    // Neither breathes nor asks about Cancel.
    std::optional<EraseEnd> look();

private:
    Link& link_;
    uint32_t chipAddr_;
    uint8_t chip_;
    EraseWait policy_;
    double started_;
    std::optional<uint8_t> before_;
};

// Reads chipAddr of the chip until the policy says how the erase went,
// timed from `started` on the link's clock (chips erasing at once share
// one), letting the face breathe between reads.
EraseEnd waitForErase(Link& link, uint32_t chipAddr, uint8_t chip, const EraseWait& policy, double started,
                      Reporter& r);
