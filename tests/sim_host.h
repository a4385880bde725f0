// The host side of a conversation with the simulated linker, spoken the way
// the program speaks it: protocol builders into a 64-byte buffer, then
// libusb bulk transfers to 0x02 and from 0x81 with the 2000 ms time-out.
#pragma once

#include "core/link/protocol.h"
#include "sim.h"

#include <libusb.h>

#include <vector>

namespace simtest {

constexpr uint16_t VID = 0x20A0;
constexpr uint16_t PID = 0x4178;
constexpr unsigned char EP_OUT = 0x02;
constexpr unsigned char EP_IN = 0x81;

// Opens the linker like the program's start-up; closes it like its shut-down.
struct Link {
    Link()
    {
        initResult = libusb_init(&ctx);
        devh = initResult == 0 ? libusb_open_device_with_vid_pid(ctx, VID, PID) : nullptr;
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

    int transfer(unsigned char endpoint, uint8_t* data, int length = MSG_LEN, int* moved = nullptr)
    {
        int n = -1;
        int r = libusb_bulk_transfer(devh, endpoint, data, length, &n, 2000);
        if (moved)
            *moved = n;
        return r;
    }
    int send(uint8_t* msg) { return transfer(EP_OUT, msg); }
    int receive(uint8_t* msg, int* moved = nullptr) { return transfer(EP_IN, msg, MSG_LEN, moved); }
    // Sends buf and receives the reply into it: the reply code, or 0xFF when
    // a transfer failed or fewer than 64 bytes came back.
    uint8_t exchange()
    {
        int n = 0;
        return send(buf) == 0 && receive(buf, &n) == 0 && n == MSG_LEN ? buf[0] : 0xFF;
    }

    uint8_t version(uint8_t* major, uint8_t* minor)
    {
        build_getversion_command(buf);
        uint8_t code = exchange();
        get_getversion_reply(buf, major, minor);
        return code;
    }
    // The byte read, or -1 when the reply was not a read reply.
    int readByte(uint32_t address, uint8_t chip)
    {
        build_read_command(buf, address, chip);
        return exchange() == REPLY_READ ? buf[MSG_VALUE] : -1;
    }
    uint8_t writeByte(uint32_t address, uint8_t value, uint8_t chip)
    {
        build_write_command(buf, address, value, chip);
        return exchange();
    }
    uint8_t flashWrite32(uint32_t address, const uint8_t* src, uint8_t chip, uint8_t turbo)
    {
        build_flash_write_32_command(buf, address, src, chip, turbo);
        return exchange();
    }
    bool read64xN(uint8_t* dest, uint32_t address, uint8_t chip, uint8_t count)
    {
        build_read64xN_command(buf, address, chip, count);
        int n = send(buf) == 0 ? 64 : 0;
        for (int k = 0; k < count && n == 64; ++k)
            if (receive(dest + 64 * k, &n) != 0)
                n = 0;
        return n == 64;
    }
    // An unlocked chip command, as the program sends it in single-byte writes.
    void command(uint8_t chip, uint8_t cmd, uint32_t at = 0x5555)
    {
        writeByte(0x5555, 0xAA, chip);
        writeByte(0x2AAA, 0x55, chip);
        writeByte(at, cmd, chip);
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
