// The Tetherbox's 64-byte messages as the firmware reads and writes them.
// The codes and byte positions are the linker's own, stated here rather than
// taken from the program: a code the program gets wrong then meets a device
// that does not understand it, as it would on the real linker.
#pragma once

#include <cstdint>

namespace sim {

constexpr int MESSAGE_BYTES = 64;

// Command opcodes (byte 0 of a message from the host).
constexpr uint8_t OP_GETVERSION = 0x00;
constexpr uint8_t OP_READ = 0x01;
constexpr uint8_t OP_WRITE = 0x02;
constexpr uint8_t OP_READ64XN = 0x04;
constexpr uint8_t OP_FLASH_WRITE_32 = 0x05;
constexpr uint8_t OP_FLASH_WRITE_N = 0x06;
constexpr uint8_t OP_FLASH_WRITE64XN = 0x07;
constexpr uint8_t OP_BLINK_LED = 0x09;
constexpr uint8_t OP_SPI_SEND_RECV = 0x0A;

// Reply codes (byte 0 of a message from the linker). The version reply
// shares its code with the command.
constexpr uint8_t ANSWER_VERSION = 0x00;
constexpr uint8_t ANSWER_READ = 0x03;
constexpr uint8_t ANSWER_FLASH_WRITE64XN = 0x08;
constexpr uint8_t ANSWER_FAIL = 0x10;
constexpr uint8_t ANSWER_SUCCESS = 0x11;

// Where the fields sit.
constexpr int AT_CODE = 0;
constexpr int AT_ADDRESS = 1;  // 3 bytes, most significant first
constexpr int AT_VALUE = 4;
constexpr int AT_CHIP = 5;
constexpr int AT_COUNT = 6;
constexpr int AT_LENGTH = 7;
constexpr int AT_TURBO = 8;
constexpr int AT_DATA = 32;
constexpr int DATA_BYTES = 32;  // what the data field holds

// A command as the firmware understands it. Only the fields its kind defines
// are taken from the message; the others stay 0 whatever the bytes held.
struct Command {
    enum class Kind {
        GetVersion,
        Read,
        Write,
        Read64xN,
        FlashWrite32,
        FlashWriteN,
        FlashWrite64xN,
        BlinkLed,
        SpiSendRecv,
        Unknown,
    };
    Kind kind = Kind::Unknown;
    uint32_t address = 0;
    uint8_t value = 0;
    uint8_t chip = 0;
    uint8_t count = 0;
    uint8_t length = 0;  // data bytes carried: 32 for flash_write_32, the length field for flash_write_N
    uint8_t turbo = 0;
    const uint8_t* data = nullptr;  // inside the message it was parsed from
};

Command parseCommand(const uint8_t* msg);

// Replies write only their own bytes: the firmware reuses one buffer, so the
// rest keeps what the previous reply left.
void putVersionReply(uint8_t* msg, uint8_t major, uint8_t minor);
void putReadReply(uint8_t* msg, uint32_t address, uint8_t value, uint8_t chip);
void putFlashWrite64xNReply(uint8_t* msg, uint8_t processed);
void putSuccessReply(uint8_t* msg);
void putFailReply(uint8_t* msg);

}  // namespace sim
