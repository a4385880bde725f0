// The Tetherbox's 64-byte message layouts as the program sees them: it builds
// commands and parses replies. Builders write only their own bytes and never
// clear the buffer, so bytes a message kind does not define keep whatever the
// previous message left there.
#pragma once

#include <cstdint>

constexpr int MSG_LEN = 64;

// Message codes.
constexpr uint8_t CMD_GETVERSION = 0x00;
constexpr uint8_t CMD_READ = 0x01;
constexpr uint8_t CMD_WRITE = 0x02;
constexpr uint8_t REPLY_READ = 0x03;
constexpr uint8_t CMD_READ64XN = 0x04;
constexpr uint8_t CMD_FLASH_WRITE_32 = 0x05;
constexpr uint8_t CMD_FLASH_WRITE_N = 0x06;
constexpr uint8_t CMD_FLASH_WRITE64XN = 0x07;
constexpr uint8_t REPLY_FLASH_WRITE64XN = 0x08;
constexpr uint8_t CMD_BLINK_LED = 0x09;
constexpr uint8_t CMD_SPI_SEND_RECV = 0x0A;
constexpr uint8_t REPLY_GETVERSION = 0x00;
constexpr uint8_t REPLY_FAIL = 0x10;
constexpr uint8_t REPLY_SUCCESS = 0x11;

// Byte offsets of the fields.
constexpr int MSG_CODE = 0;
constexpr int MSG_ADDR = 1;  // 3 bytes, most significant first
constexpr int MSG_VALUE = 4;
constexpr int MSG_CHIP = 5;
constexpr int MSG_COUNT = 6;
constexpr int MSG_LENGTH = 7;
constexpr int MSG_TURBO = 8;
constexpr int MSG_DATA = 32;
constexpr int MSG_DATA_LEN = 32;

// Commands and data packets.
void build_getversion_command(uint8_t* msg);
void build_read_command(uint8_t* msg, uint32_t address, uint8_t chip);
void build_write_command(uint8_t* msg, uint32_t address, uint8_t value, uint8_t chip);
void build_read64xN_command(uint8_t* msg, uint32_t address, uint8_t chip, uint8_t count);
void build_read64_command(uint8_t* msg, uint32_t address, uint8_t chip);
void build_flash_write_32_command(uint8_t* msg, uint32_t address, const uint8_t* source,
                                  uint8_t chip, uint8_t turbo);
void build_flash_write_N_command(uint8_t* msg, uint32_t address, const uint8_t* source,
                                 uint8_t chip, uint8_t length, uint8_t turbo);
void build_flash_write64xN_command(uint8_t* msg, uint32_t address, uint8_t chip, uint8_t count,
                                   uint8_t turbo);
void build_flash_write64xN_data_packet(uint8_t* msg, const uint8_t* source);
void build_blink_led_command(uint8_t* msg, uint8_t value);
void build_SPI_send_recv_command(uint8_t* msg, uint8_t value);

// Replies.
void get_getversion_reply(const uint8_t* msg, uint8_t* major, uint8_t* minor);
bool get_read_reply(const uint8_t* msg, uint32_t* address, uint8_t* value);
void get_flash_write64xN_reply(const uint8_t* msg, uint8_t* result, uint8_t* count);
void get_result_reply(const uint8_t* msg, uint8_t* result);
