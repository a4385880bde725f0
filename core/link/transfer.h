// The USB link with the Tetherbox: opening, the transfer primitives every
// cartridge function uses, and letting the linker go. Each primitive logs its
// own failures; callers learn only what the result tells them.
#pragma once

#include <cstdint>

struct libusb_context;
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

// Set and cleared only by the Linker (core/link/linker.h), which owns them.
extern libusb_context* g_ctx;
extern libusb_device_handle* devh;
extern uint8_t G_buf[64];

// Every failure a primitive has logged since start-up. The writers return
// nothing, so a job compares this before and after its work to know whether
// what it reports as done really was.
extern unsigned g_linkFailures;
// True once libusb has said the device is gone: no later transfer on this
// handle can work.
bool linkGone();
// A new handle (gone false), or none left of a linker that vanished (true):
// nothing owed, nothing out of step.
void resetTransfers(bool gone);

int checkLinker(uint8_t* major, uint8_t* minor);
uint8_t read_byte(uint32_t address, uint8_t chip);
void write_byte(uint32_t address, uint8_t value, uint8_t chip);
// write_byte, true only when the linker accepted the write.
bool write_byte_checked(uint32_t address, uint8_t value, uint8_t chip);
bool read_64xN_bytes(uint8_t* dest, uint32_t address, uint8_t chip, uint8_t count);
uint8_t* read_64_bytes(uint32_t address, uint8_t chip);
void flash_write_32_bytes(uint32_t address, const uint8_t* source, uint8_t chip, uint8_t turbo);
void flash_write_N_bytes(uint32_t address, const uint8_t* source, uint8_t chip, uint8_t length,
                         uint8_t turbo);
void flash_write_64xN_bytes(uint32_t address, const uint8_t* source, uint8_t chip, uint8_t count,
                            uint8_t turbo);
void build_tetherbox_led(uint8_t value);
void print_libusb_error(int code);

// The Linker's opening without the cartridge check, true once the linker
// answered with the accepted firmware; and its closing.
bool openLink();
void closeLink();
