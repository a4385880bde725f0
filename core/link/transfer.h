// The USB link with the Tetherbox: the transfer primitives every cartridge
// function uses, over the handle the Linker opened. Each primitive logs its
// own failures and tells its caller whether it worked: a failed read is no
// byte, never a 0 that looks like one.
#pragma once

#include <cstdint>
#include <optional>

#include "core/link/protocol.h"
#include "core/report.h"

struct libusb_device_handle;

constexpr uint16_t TETHERBOX_VID = 0x20A0;
constexpr uint16_t TETHERBOX_PID = 0x4178;
constexpr int LINK_CONFIGURATION = 1;
constexpr int LINK_INTERFACE = 0;
constexpr unsigned char EP_OUT = 0x02;
constexpr unsigned char EP_IN = 0x81;
constexpr int LINK_TIMEOUT_MS = 2000;
constexpr uint8_t FIRMWARE_MAJOR = 0;
constexpr uint8_t FIRMWARE_MINOR = 13;
constexpr uint8_t LED_AT_SHUTDOWN = 2;
// The most data packets a read of the cartridge asks for in one request.
constexpr uint8_t PACKETS_PER_REQUEST = 128;

class Link {
public:
    Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The handle now in use (null: none), and what it is owed: a new one
    // owes nothing; one dropped because its linker vanished is gone.
    void attach(libusb_device_handle* handle);
    libusb_device_handle* detach(bool gone);
    libusb_device_handle* handle() const { return handle_; }
    // Nothing owed any more: the linker is being let go.
    void forgetOwed() { repliesOwed_ = outOfStep_ = false; }
    // True once libusb has said the device is gone: no later transfer on
    // this handle can work.
    bool gone() const { return gone_; }

    // Where the primitives word their failures: the reporter of the job
    // that uses the link. Returns the one before.
    Reporter& reportTo(Reporter& r)
    {
        Reporter& before = *reporter_;
        reporter_ = &r;
        return before;
    }
    Reporter& reporter() const { return *reporter_; }

    // 0 on success, -1 on failure.
    int checkLinker(uint8_t* major, uint8_t* minor);
    // The byte, or none after a failure.
    std::optional<uint8_t> read_byte(uint32_t address, uint8_t chip);
    // The writers: true only when the linker accepted what was sent.
    bool write_byte(uint32_t address, uint8_t value, uint8_t chip);
    bool read_64xN_bytes(uint8_t* dest, uint32_t address, uint8_t chip, uint8_t count);
    // The 64 bytes in the link's message buffer, or null on failure.
    const uint8_t* read_64_bytes(uint32_t address, uint8_t chip);
    bool flash_write_32_bytes(uint32_t address, const uint8_t* source, uint8_t chip, uint8_t turbo);
    bool flash_write_N_bytes(uint32_t address, const uint8_t* source, uint8_t chip, uint8_t length,
                             uint8_t turbo);
    bool flash_write_64xN_bytes(uint32_t address, const uint8_t* source, uint8_t chip, uint8_t count,
                                uint8_t turbo);
    bool build_tetherbox_led(uint8_t value);
    void print_libusb_error(int code);

private:
    int bulk(unsigned char endpoint, uint8_t* data, int* transferred);
    bool goneAlready() const { return gone_; }
    void usbFailed(int code);
    void inFailed(int code);
    void drainOwedReplies();
    int exchange();
    bool expectSuccess(const char* name, uint32_t address, bool withAddress);

    void failed(const char* format, ...) __attribute__((format(printf, 2, 3)));

    libusb_device_handle* handle_ = nullptr;
    Reporter* reporter_ = &stderrReporter();
    // The one message buffer: every command is built in it and every reply
    // received into it.
    uint8_t buf_[MSG_LEN] = {};
    bool gone_ = false;
    // A reply or data packet the linker owes may still come: after a
    // receive timed out or came short, or a multi-packet read stopped early.
    bool repliesOwed_ = false;
    // A flash_write64xN's data packets were cut short: the linker is still
    // waiting for them and would take the next command for data.
    bool outOfStep_ = false;
};
