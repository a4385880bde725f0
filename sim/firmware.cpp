#include "firmware.h"

#include "clock.h"
#include "core/link/protocol.h"

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

void Bus::powerOn()
{
    latch_ = 0xFF;
    chips[0].powerOn();
    chips[1].powerOn();
}

static uint32_t joinAddress(const uint8_t* addr)
{
    return (static_cast<uint32_t>(addr[0]) << 16) | (static_cast<uint32_t>(addr[1]) << 8) | addr[2];
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
        build_reply_fail(reply_);
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

    uint8_t addr[3], chip = 0, value = 0, count = 0, length = 0, turbo = 0;
    const uint8_t code = msg[MSG_CODE];
    switch (code) {
    case CMD_GETVERSION:
        build_getversion_reply(reply_, major_, minor_);
        break;
    case CMD_READ:
        get_read_message(msg, addr, &chip);
        if (chip > 1) {
            build_reply_fail(reply_);
            break;
        }
        value = bus_.read(chip, joinAddress(addr), true);
        build_read_reply(reply_, addr, value, chip);
        break;
    case CMD_WRITE:
        get_write_message(msg, addr, &value, &chip);
        if (chip > 1) {
            build_reply_fail(reply_);
            break;
        }
        bus_.write(chip, joinAddress(addr), value, true);
        build_reply_success(reply_);
        break;
    case CMD_READ64XN: {
        get_read64xN_message(msg, addr, &chip, &count);
        if (chip > 1) {
            build_reply_fail(reply_);
            break;
        }
        uint32_t start = joinAddress(addr);
        uint8_t packet[64];
        for (uint32_t k = 0; k < count; ++k) {
            for (uint32_t i = 0; i < 64; ++i)
                packet[i] = bus_.read(chip, start + 64 * k + i);
            queue(packet);
        }
        return;  // data packets only, no reply
    }
    case CMD_FLASH_WRITE_32: {
        const uint8_t* data = get_flash_write_32_command(msg, addr, &chip, &turbo);
        bool ok = chip <= 1 && programRun(chip, joinAddress(addr), data, MSG_DATA_LEN, turbo != 0);
        ok ? build_reply_success(reply_) : build_reply_fail(reply_);
        break;
    }
    case CMD_FLASH_WRITE_N: {
        const uint8_t* data = get_flash_write_N_command(msg, addr, &chip, &length, &turbo);
        // The data field holds 32 bytes; a longer length would read past the message.
        bool ok = chip <= 1 && length >= 1 && length <= MSG_DATA_LEN &&
                  programRun(chip, joinAddress(addr), data, length, turbo != 0);
        ok ? build_reply_success(reply_) : build_reply_fail(reply_);
        break;
    }
    case CMD_FLASH_WRITE64XN:
        get_flash_write64xN_message(msg, addr, &chip, &count, &turbo);
        write64_ = {};
        write64_.chip = chip;
        write64_.address = joinAddress(addr);
        write64_.count = count;
        write64_.turbo = turbo != 0;
        write64_.failed = chip > 1;
        if (count == 0) {
            build_flash_write64xN_reply(reply_, 0);
            break;
        }
        write64_.active = true;
        return;  // the reply follows the data packets
    case CMD_BLINK_LED:
        get_blink_led_message(msg, &led_);
        build_reply_success(reply_);
        break;
    case CMD_SPI_SEND_RECV:
        // Nothing hangs on the SPI lines: the byte clocked in is all ones.
        get_SPI_send_recv_message(msg, &value);
        build_reply_success(reply_);
        reply_[MSG_VALUE] = 0xFF;
        break;
    default:
        build_reply_fail(reply_);
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
    build_flash_write64xN_reply(reply_, static_cast<uint8_t>(write64_.processed));
    queueReply();
}

}  // namespace sim
