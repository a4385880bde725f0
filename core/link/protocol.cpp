#include "core/link/protocol.h"

#include <cstring>

static void put_address(uint8_t* msg, uint32_t address)
{
    msg[MSG_ADDR] = (address >> 16) & 0xFF;
    msg[MSG_ADDR + 1] = (address >> 8) & 0xFF;
    msg[MSG_ADDR + 2] = address & 0xFF;
}

void build_getversion_command(uint8_t* msg)
{
    msg[MSG_CODE] = CMD_GETVERSION;
}

void build_read_command(uint8_t* msg, uint32_t address, uint8_t chip)
{
    msg[MSG_CODE] = CMD_READ;
    put_address(msg, address);
    msg[MSG_CHIP] = chip;
}

void build_write_command(uint8_t* msg, uint32_t address, uint8_t value, uint8_t chip)
{
    msg[MSG_CODE] = CMD_WRITE;
    put_address(msg, address);
    msg[MSG_VALUE] = value;
    msg[MSG_CHIP] = chip;
}

void build_read64xN_command(uint8_t* msg, uint32_t address, uint8_t chip, uint8_t count)
{
    msg[MSG_CODE] = CMD_READ64XN;
    put_address(msg, address);
    msg[MSG_CHIP] = chip;
    msg[MSG_COUNT] = count;
}

void build_read64_command(uint8_t* msg, uint32_t address, uint8_t chip)
{
    build_read64xN_command(msg, address, chip, 1);
}

void build_flash_write_32_command(uint8_t* msg, uint32_t address, const uint8_t* source,
                                  uint8_t chip, uint8_t turbo)
{
    msg[MSG_CODE] = CMD_FLASH_WRITE_32;
    put_address(msg, address);
    msg[MSG_CHIP] = chip;
    msg[MSG_TURBO] = turbo;
    memcpy(msg + MSG_DATA, source, MSG_DATA_LEN);
}

void build_flash_write_N_command(uint8_t* msg, uint32_t address, const uint8_t* source,
                                 uint8_t chip, uint8_t length, uint8_t turbo)
{
    msg[MSG_CODE] = CMD_FLASH_WRITE_N;
    put_address(msg, address);
    msg[MSG_CHIP] = chip;
    msg[MSG_LENGTH] = length;
    msg[MSG_TURBO] = turbo;
    memcpy(msg + MSG_DATA, source, length);
}

void build_flash_write64xN_command(uint8_t* msg, uint32_t address, uint8_t chip, uint8_t count,
                                   uint8_t turbo)
{
    msg[MSG_CODE] = CMD_FLASH_WRITE64XN;
    put_address(msg, address);
    msg[MSG_CHIP] = chip;
    msg[MSG_COUNT] = count;
    msg[MSG_TURBO] = turbo;
}

void build_flash_write64xN_data_packet(uint8_t* msg, const uint8_t* source)
{
    memcpy(msg, source, MSG_LEN);
}

void build_blink_led_command(uint8_t* msg, uint8_t value)
{
    msg[MSG_CODE] = CMD_BLINK_LED;
    msg[MSG_VALUE] = value;
}

void build_SPI_send_recv_command(uint8_t* msg, uint8_t value)
{
    msg[MSG_CODE] = CMD_SPI_SEND_RECV;
    msg[MSG_VALUE] = value;
}

void get_getversion_reply(const uint8_t* msg, uint8_t* major, uint8_t* minor)
{
    if (msg[MSG_CODE] == REPLY_GETVERSION) {
        *major = msg[1];
        *minor = msg[2];
    } else {
        *major = 0;
        *minor = 0;
    }
}

bool get_read_reply(const uint8_t* msg, uint32_t* address, uint8_t* value)
{
    if (msg[MSG_CODE] != REPLY_READ)
        return false;
    *address = (uint32_t(msg[MSG_ADDR]) << 16) | (uint32_t(msg[MSG_ADDR + 1]) << 8) |
               msg[MSG_ADDR + 2];
    *value = msg[MSG_VALUE];
    return true;
}

void get_flash_write64xN_reply(const uint8_t* msg, uint8_t* result, uint8_t* count)
{
    *result = msg[MSG_CODE];
    *count = msg[MSG_COUNT];
}

void get_result_reply(const uint8_t* msg, uint8_t* result)
{
    *result = msg[MSG_CODE];
}
