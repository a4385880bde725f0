// The host side of a conversation with the simulated linker, spoken the way
// the program speaks it: protocol builders into a 64-byte buffer, then
// libusb bulk transfers to 0x02 and from 0x81 with the 2000 ms time-out.
#pragma once

#include "link/protocol.h"
#include "sim.h"

#include <libusb.h>

#include <cstring>
#include <vector>

namespace simtest {

constexpr uint16_t VID = 0x20A0;
constexpr uint16_t PID = 0x4178;
constexpr unsigned char EP_OUT = 0x02;
constexpr unsigned char EP_IN = 0x81;
constexpr unsigned int TIMEOUT_MS = 2000;

// Opens the linker like the program's start-up; closes it like its shut-down.
class Link {
public:
    Link()
    {
        initResult = libusb_init(&ctx);
        if (initResult == 0)
            devh = libusb_open_device_with_vid_pid(ctx, VID, PID);
        if (devh) {
            configResult = libusb_set_configuration(devh, 1);
            claimResult = libusb_claim_interface(devh, 0);
        }
    }
    ~Link()
    {
        if (devh) {
            libusb_release_interface(devh, 0);
            libusb_reset_device(devh);
            libusb_close(devh);
        }
        if (ctx)
            libusb_exit(ctx);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    int send(const uint8_t* msg, int* moved = nullptr, int length = MSG_LEN)
    {
        int n = -1;
        int r = libusb_bulk_transfer(devh, EP_OUT, const_cast<uint8_t*>(msg), length, &n, TIMEOUT_MS);
        if (moved)
            *moved = n;
        return r;
    }
    int receive(uint8_t* msg, int* moved = nullptr, int length = MSG_LEN)
    {
        int n = -1;
        int r = libusb_bulk_transfer(devh, EP_IN, msg, length, &n, TIMEOUT_MS);
        if (moved)
            *moved = n;
        return r;
    }
    // Sends buf and receives the reply into it; true when both transfers
    // worked and 64 bytes came back.
    bool exchange(uint8_t* buf)
    {
        int n = 0;
        return send(buf) == 0 && receive(buf, &n) == 0 && n == MSG_LEN;
    }

    uint8_t getVersionReplyCode(uint8_t* major, uint8_t* minor)
    {
        build_getversion_command(buf);
        if (!exchange(buf))
            return 0xFF;
        get_getversion_reply(buf, major, minor);
        return buf[0];
    }
    // The byte read, or -1 when the reply was not a read reply.
    int readByte(uint32_t address, uint8_t chip)
    {
        build_read_command(buf, address, chip);
        uint32_t a = 0;
        uint8_t v = 0;
        if (!exchange(buf) || !get_read_reply(buf, &a, &v))
            return -1;
        return v;
    }
    // The reply code.
    uint8_t writeByte(uint32_t address, uint8_t value, uint8_t chip)
    {
        build_write_command(buf, address, value, chip);
        return exchange(buf) ? buf[0] : 0xFF;
    }
    bool read64xN(uint8_t* dest, uint32_t address, uint8_t chip, uint8_t count)
    {
        build_read64xN_command(buf, address, chip, count);
        if (send(buf) != 0)
            return false;
        for (int k = 0; k < count; ++k) {
            int n = 0;
            if (receive(dest + 64 * k, &n) != 0 || n != 64)
                return false;
        }
        return true;
    }
    uint8_t flashWrite32(uint32_t address, const uint8_t* src, uint8_t chip, uint8_t turbo)
    {
        build_flash_write_32_command(buf, address, src, chip, turbo);
        return exchange(buf) ? buf[0] : 0xFF;
    }
    uint8_t flashWriteN(uint32_t address, const uint8_t* src, uint8_t chip, uint8_t length, uint8_t turbo)
    {
        build_flash_write_N_command(buf, address, src, chip, length, turbo);
        return exchange(buf) ? buf[0] : 0xFF;
    }
    // Reply code and count through the out arguments; false on a transfer failure.
    bool flashWrite64xN(uint32_t address, const uint8_t* src, uint8_t chip, uint8_t count, uint8_t turbo,
                        uint8_t* result, uint8_t* processed)
    {
        build_flash_write64xN_command(buf, address, chip, count, turbo);
        if (send(buf) != 0)
            return false;
        for (int k = 0; k < count; ++k) {
            build_flash_write64xN_data_packet(buf, src + 64 * k);
            if (send(buf) != 0)
                return false;
        }
        int n = 0;
        if (receive(buf, &n) != 0 || n != 64)
            return false;
        get_flash_write64xN_reply(buf, result, processed);
        return true;
    }
    // The program's chip commands, as single-byte writes.
    void unlock(uint8_t chip)
    {
        writeByte(0x5555, 0xAA, chip);
        writeByte(0x2AAA, 0x55, chip);
    }
    void identify(uint8_t chip)
    {
        unlock(chip);
        writeByte(0x5555, 0xF0, chip);
        unlock(chip);
        writeByte(0x5555, 0x90, chip);
    }
    void resetChip(uint8_t chip)
    {
        unlock(chip);
        writeByte(0x5555, 0xF0, chip);
    }
    void chipErase(uint8_t chip)
    {
        unlock(chip);
        writeByte(0x5555, 0x80, chip);
        unlock(chip);
        writeByte(0x5555, 0x10, chip);
    }
    void blockErase(uint32_t address, uint8_t chip)
    {
        unlock(chip);
        writeByte(0x5555, 0x80, chip);
        unlock(chip);
        writeByte(address, 0x30, chip);
    }

    libusb_context* ctx = nullptr;
    libusb_device_handle* devh = nullptr;
    int initResult = 0;
    int configResult = 0;
    int claimResult = 0;
    uint8_t buf[MSG_LEN] = {};
};

inline std::vector<uint8_t> pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 37);
    return v;
}

}  // namespace simtest
