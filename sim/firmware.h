// The Tetherbox firmware: reads the host's 64-byte messages, drives the
// cartridge bus and queues the replies and data packets the host will read.
// It knows nothing of USB; a transport feeds it OUT packets and drains its
// IN packets.
#pragma once

#include "flash_chip.h"
#include "trace.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace sim {

// The cartridge bus: two chip positions behind one data bus. An empty
// position drives nothing, so a read there returns whatever was last on the
// bus (the identify sequence therefore reads back its own 0x90).
class Bus {
public:
    FlashChip chips[2];

    uint8_t read(int chip, uint32_t address, bool fromHost = false);
    void write(int chip, uint32_t address, uint8_t value, bool fromHost = false);

    uint8_t lastValue() const { return latch_; }

    // Dirty contacts: what the linker sends the host for a byte it read. A
    // byte may be misread on one read only (the nth from now), or on every
    // read with a different wrong value each time, so it never reads the
    // same twice.
    uint8_t sensed(int chip, uint32_t address, uint8_t value);
    void misreadOnce(int chip, uint32_t address, int nth);
    void neverSettles(int chip, uint32_t address);
    void cleanContacts() { misreads_.clear(); }

    void setObserver(std::function<void(const BusCycle&)> observer) { observer_ = std::move(observer); }
    void powerOn();

private:
    uint8_t latch_ = 0xFF;
    std::function<void(const BusCycle&)> observer_;
    struct Misread {
        int chip;
        uint32_t address;
        int readsLeft;  // the read that comes out wrong; < 0: every read
        unsigned reads = 0;
    };
    std::vector<Misread> misreads_;
};

class Firmware {
public:
    using Packet = std::array<uint8_t, 64>;
    struct Out {
        Packet data;
        int length;
    };

    explicit Firmware(Bus& bus) : bus_(bus) {}

    void setVersion(uint8_t major, uint8_t minor);
    uint8_t major() const { return major_; }
    uint8_t minor() const { return minor_; }
    uint8_t led() const { return led_; }

    // One OUT packet from the host (normally 64 bytes; a short one is
    // possible when a transfer is cut).
    void receive(const uint8_t* data, int length);
    bool pending() const { return !out_.empty(); }
    size_t pendingCount() const { return out_.size(); }
    // Takes the next IN packet; returns false if there is none.
    bool next(Out& out);
    // USB reset or power-on: forget half-received commands and unsent packets.
    void restart();

    // Whether a flash_write64xN is still waiting for data packets.
    bool awaitingData() const { return write64_.active; }
    uint64_t commands() const { return commands_; }

private:
    void command(const uint8_t* msg);
    void dataPacket(const uint8_t* data, int length);
    void queue(const uint8_t* msg, int length = 64);
    void queueReply();
    bool programRun(uint8_t chip, uint32_t address, const uint8_t* data, int length, bool turbo);
    bool programByte(uint8_t chip, uint32_t address, uint8_t value, bool bypass);
    void unlock(uint8_t chip);

    Bus& bus_;
    uint8_t major_ = 0, minor_ = 13;
    uint8_t led_ = 0;
    // One reply buffer, reused: bytes a reply does not define keep what the
    // previous reply left, as on the wire.
    uint8_t reply_[64] = {};
    std::deque<Out> out_;
    struct {
        bool active = false;
        uint8_t chip = 0;
        uint32_t address = 0;
        int count = 0;
        int received = 0;
        int processed = 0;
        bool turbo = false;
        bool failed = false;
    } write64_;
    uint64_t commands_ = 0;
};

}  // namespace sim
