#include "firmware.h"

#include "clock.h"
#include "messages.h"

#include <cstring>

namespace sim {

uint8_t Bus::read(int chip, uint32_t address, bool fromHost)
{
    FlashChip& c = chips[chip & 1];
    if (c.present())
        latch_ = c.read(address, clockSeconds());
    if (observer_)
        observer_({0, chip, address, latch_, false, fromHost});
    return latch_;
}

void Bus::write(int chip, uint32_t address, uint8_t value, bool fromHost)
{
    latch_ = value;
    chips[chip & 1].write(address, value, clockSeconds());
    if (observer_)
        observer_({0, chip, address, value, true, fromHost});
}

uint8_t Bus::sensed(int chip, uint32_t address, uint8_t value)
{
    for (Misread& m : misreads_) {
        if (m.chip != (chip & 1) || m.address != (address & 0x1FFFFF))
            continue;
        ++m.reads;
        if (m.readsLeft < 0)
            return static_cast<uint8_t>(value ^ (1 + (m.reads - 1) % 255));
        if (m.readsLeft > 0 && --m.readsLeft == 0)
            return static_cast<uint8_t>(value ^ 0x10);
    }
    return value;
}

void Bus::misreadOnce(int chip, uint32_t address, int nth)
{
    misreads_.push_back({chip & 1, address & 0x1FFFFF, nth < 1 ? 1 : nth});
}

void Bus::neverSettles(int chip, uint32_t address)
{
    misreads_.push_back({chip & 1, address & 0x1FFFFF, -1});
}

void Bus::powerOn()
{
    latch_ = 0xFF;
    chips[0].powerOn();
    chips[1].powerOn();
}

void Firmware::setVersion(uint8_t major, uint8_t minor)
{
    major_ = major;
    minor_ = minor;
}

void Firmware::restart()
{
    out_.clear();
    write64_ = {};
}

bool Firmware::next(Out& out)
{
    if (out_.empty())
        return false;
    out = out_.front();
    out_.pop_front();
    return true;
}

void Firmware::queue(const uint8_t* msg, int length)
{
    Out o;
    memcpy(o.data.data(), msg, 64);
    o.length = length;
    out_.push_back(o);
}

void Firmware::queueReply()
{
    queue(reply_);
}

void Firmware::receive(const uint8_t* data, int length)
{
    if (length <= 0)
        return;  // a zero-length packet carries no message
    if (write64_.active) {
        dataPacket(data, length);
        return;
    }
    if (length < 64) {
        // A cut command cannot be trusted: answer it as a failure.
        ++commands_;
        advanceClock(costs().turnaround);
        putFailReply(reply_);
        queueReply();
        return;
    }
    command(data);
}

void Firmware::unlock(uint8_t chip)
{
    bus_.write(chip, FLASH_UNLOCK_ADDR1, FLASH_UNLOCK_DATA1);
    bus_.write(chip, FLASH_UNLOCK_ADDR2, FLASH_UNLOCK_DATA2);
}

// Programs one byte and waits for it by data polling: DQ7 shows the
// complement of the data until the cell is done; DQ5 says the chip gave up.
// The byte is read back whole before it counts as written, which also
// catches a chip that declined at once (protected block) and a 0 bit that
// was asked to become 1.
bool Firmware::programByte(uint8_t chip, uint32_t address, uint8_t value, bool bypass)
{
    if (bypass) {
        bus_.write(chip, 0, FLASH_CMD_PROGRAM);
    } else {
        unlock(chip);
        bus_.write(chip, FLASH_UNLOCK_ADDR1, FLASH_CMD_PROGRAM);
    }
    bus_.write(chip, address, value);

    const double deadline = clockSeconds() + costs().programTimeout;
    for (;;) {
        uint8_t status = bus_.read(chip, address);
        if (((status ^ value) & FLASH_STATUS_DATA_POLL) == 0)
            return bus_.read(chip, address) == value;
        if (status & FLASH_STATUS_TIMEOUT) {
            if (bus_.read(chip, address) == value)
                return true;
            break;
        }
        if (clockSeconds() >= deadline)
            break;
        advanceClock(costs().pollInterval);
    }
    // Leave the chip readable again: a failed program holds it in status mode.
    bus_.write(chip, 0, FLASH_CMD_RESET);
    return false;
}

bool Firmware::programRun(uint8_t chip, uint32_t address, const uint8_t* data, int length, bool turbo)
{
    if (turbo) {
        unlock(chip);
        bus_.write(chip, FLASH_UNLOCK_ADDR1, FLASH_CMD_UNLOCK_BYPASS);
    }
    bool ok = true;
    for (int i = 0; i < length && ok; ++i)
        ok = programByte(chip, address + static_cast<uint32_t>(i), data[i], turbo);
    if (turbo) {
        bus_.write(chip, 0, FLASH_CMD_IDENTIFY);
        bus_.write(chip, 0, FLASH_CMD_BYPASS_RESET);
    }
    return ok;
}

void Firmware::command(const uint8_t* msg)
{
    ++commands_;
    advanceClock(costs().turnaround);

    const Command c = parseCommand(msg);
    switch (c.kind) {
    case Command::Kind::GetVersion:
        putVersionReply(reply_, major_, minor_);
        break;
    case Command::Kind::Read:
        if (c.chip > 1) {
            putFailReply(reply_);
            break;
        }
        putReadReply(reply_, c.address, bus_.sensed(c.chip, c.address, bus_.read(c.chip, c.address, true)),
                     c.chip);
        break;
    case Command::Kind::Write:
        if (c.chip > 1) {
            putFailReply(reply_);
            break;
        }
        bus_.write(c.chip, c.address, c.value, true);
        putSuccessReply(reply_);
        break;
    case Command::Kind::Read64xN: {
        if (c.chip > 1) {
            putFailReply(reply_);
            break;
        }
        uint8_t packet[MESSAGE_BYTES];
        for (uint32_t k = 0; k < c.count; ++k) {
            for (uint32_t i = 0; i < MESSAGE_BYTES; ++i)
            {
                uint32_t at = c.address + MESSAGE_BYTES * k + i;
                packet[i] = bus_.sensed(c.chip, at, bus_.read(c.chip, at));
            }
            queue(packet);
        }
        return;  // data packets only, no reply
    }
    case Command::Kind::FlashWrite32:
    case Command::Kind::FlashWriteN: {
        // The data field holds 32 bytes; a longer length would read past the message.
        bool ok = c.chip <= 1 && c.length >= 1 && c.length <= DATA_BYTES &&
                  programRun(c.chip, c.address, c.data, c.length, c.turbo != 0);
        ok ? putSuccessReply(reply_) : putFailReply(reply_);
        break;
    }
    case Command::Kind::FlashWrite64xN:
        write64_ = {};
        write64_.chip = c.chip;
        write64_.address = c.address;
        write64_.count = c.count;
        write64_.turbo = c.turbo != 0;
        write64_.failed = c.chip > 1;
        if (c.count == 0) {
            putFlashWrite64xNReply(reply_, 0);
            break;
        }
        write64_.active = true;
        return;  // the reply follows the data packets
    case Command::Kind::BlinkLed:
        led_ = c.value;
        putSuccessReply(reply_);
        break;
    case Command::Kind::SpiSendRecv:
        // Nothing hangs on the SPI lines: the byte clocked in is all ones.
        putSuccessReply(reply_);
        reply_[AT_VALUE] = 0xFF;
        break;
    case Command::Kind::Unknown:
        putFailReply(reply_);
        break;
    }
    queueReply();
}

// One data packet of a flash_write64xN. After the first failure the rest of
// the packets are still taken (the host sends them all) but not programmed,
// and the reply counts only the packets written whole.
void Firmware::dataPacket(const uint8_t* data, int length)
{
    const uint32_t address = write64_.address + 64u * static_cast<uint32_t>(write64_.received);
    ++write64_.received;
    if (!write64_.failed) {
        if (length == 64 && programRun(write64_.chip, address, data, 64, write64_.turbo))
            ++write64_.processed;
        else
            write64_.failed = true;
    }
    if (write64_.received < write64_.count)
        return;
    write64_.active = false;
    putFlashWrite64xNReply(reply_, static_cast<uint8_t>(write64_.processed));
    queueReply();
}

}  // namespace sim
