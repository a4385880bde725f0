#include "messages.h"

namespace sim {

static uint32_t takeAddress(const uint8_t* msg)
{
    return (static_cast<uint32_t>(msg[AT_ADDRESS]) << 16) | (static_cast<uint32_t>(msg[AT_ADDRESS + 1]) << 8) |
           msg[AT_ADDRESS + 2];
}

static void putAddress(uint8_t* msg, uint32_t address)
{
    msg[AT_ADDRESS] = (address >> 16) & 0xFF;
    msg[AT_ADDRESS + 1] = (address >> 8) & 0xFF;
    msg[AT_ADDRESS + 2] = address & 0xFF;
}

Command parseCommand(const uint8_t* msg)
{
    Command c;
    switch (msg[AT_CODE]) {
    case OP_GETVERSION:
        c.kind = Command::Kind::GetVersion;
        break;
    case OP_READ:
        c.kind = Command::Kind::Read;
        c.address = takeAddress(msg);
        c.chip = msg[AT_CHIP];
        break;
    case OP_WRITE:
        c.kind = Command::Kind::Write;
        c.address = takeAddress(msg);
        c.value = msg[AT_VALUE];
        c.chip = msg[AT_CHIP];
        break;
    case OP_READ64XN:
        c.kind = Command::Kind::Read64xN;
        c.address = takeAddress(msg);
        c.chip = msg[AT_CHIP];
        c.count = msg[AT_COUNT];
        break;
    case OP_FLASH_WRITE_32:
        c.kind = Command::Kind::FlashWrite32;
        c.address = takeAddress(msg);
        c.chip = msg[AT_CHIP];
        c.length = DATA_BYTES;
        c.turbo = msg[AT_TURBO];
        c.data = msg + AT_DATA;
        break;
    case OP_FLASH_WRITE_N:
        c.kind = Command::Kind::FlashWriteN;
        c.address = takeAddress(msg);
        c.chip = msg[AT_CHIP];
        c.length = msg[AT_LENGTH];
        c.turbo = msg[AT_TURBO];
        c.data = msg + AT_DATA;
        break;
    case OP_FLASH_WRITE64XN:
        c.kind = Command::Kind::FlashWrite64xN;
        c.address = takeAddress(msg);
        c.chip = msg[AT_CHIP];
        c.count = msg[AT_COUNT];
        c.turbo = msg[AT_TURBO];
        break;
    case OP_BLINK_LED:
        c.kind = Command::Kind::BlinkLed;
        c.value = msg[AT_VALUE];
        break;
    case OP_SPI_SEND_RECV:
        c.kind = Command::Kind::SpiSendRecv;
        c.value = msg[AT_VALUE];
        break;
    default:
        break;
    }
    return c;
}

void putVersionReply(uint8_t* msg, uint8_t major, uint8_t minor)
{
    msg[AT_CODE] = ANSWER_VERSION;
    msg[1] = major;
    msg[2] = minor;
}

void putReadReply(uint8_t* msg, uint32_t address, uint8_t value, uint8_t chip)
{
    msg[AT_CODE] = ANSWER_READ;
    putAddress(msg, address);
    msg[AT_VALUE] = value;
    msg[AT_CHIP] = chip;
}

void putFlashWrite64xNReply(uint8_t* msg, uint8_t processed)
{
    msg[AT_CODE] = ANSWER_FLASH_WRITE64XN;
    msg[AT_COUNT] = processed;
}

void putSuccessReply(uint8_t* msg)
{
    msg[AT_CODE] = ANSWER_SUCCESS;
}

void putFailReply(uint8_t* msg)
{
    msg[AT_CODE] = ANSWER_FAIL;
}

}  // namespace sim
