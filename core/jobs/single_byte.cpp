// "Read Byte" and "Write Byte": one byte at a cartridge address, read or
// written as a single bus cycle, with nothing erased or programmed around it.
#include <cstdint>

#include "core/cart/flash_commands.h"
#include "core/cart/blocks.h"
#include "core/jobs/jobs.h"
#include "core/link/linker.h"

static const uint32_t LAST_CART_ADDR = 0x3FFFFF;

// Printable characters of the C locale; anything else shows as '.', so a
// control byte never reaches the log as itself.
static char shownChar(uint8_t byte)
{
    return byte >= 0x20 && byte <= 0x7E ? char(byte) : '.';
}

bool cartAddressValid(uint32_t address, Reporter& r)
{
    if (address > LAST_CART_ADDR) {
        printWindow(r, "Invalid address %#x", address);
        return false;
    }
    return true;
}

// A chip that took the write as the end of a program command answers with
// its toggling status until it is done: read until two reads agree.
// None when a read failed.
static std::optional<uint8_t> readBackSettled(Link& link, uint32_t chipAddr, uint8_t chip)
{
    static const int MOST_READS = 64;
    bool clean = true;
    auto read = [&] {
        std::optional<uint8_t> v = link.read_byte(chipAddr, chip);
        clean = clean && v;
        return v.value_or(0);
    };
    uint8_t before = read();
    for (int i = 0; i < MOST_READS; i++) {
        uint8_t now = read();
        if (now == before)
            break;
        before = now;
    }
    return clean ? std::optional<uint8_t>(before) : std::nullopt;
}

bool readByte(uint32_t address, Job& job)
{
    Reporter& r = job.r;
    if (!linkStillThere(r))
        return false;
    Link& link = job.link;
    std::optional<uint8_t> read = link.read_byte(address & CHIP_ADDR_MASK, chipOf(address));
    // A linker that vanished gave no byte at all, not a 0x00.
    if (link.gone())
        return false;
    uint8_t byte = read.value_or(0);
    printWindow(r, "Byte at address 0x%08x is 0x%02x '%c'", address, byte, shownChar(byte));
    return read.has_value();
}

bool writeByte(uint32_t address, int value, Job& job)
{
    Reporter& r = job.r;
    if (!linkStillThere(r))
        return false;
    uint8_t chip = chipOf(address);
    if (value == -1) {
        printWindow(r, "Invalid byte value");
        return false;
    }
    // Only the low byte goes on the bus; the line shows the value as typed,
    // with the character of the byte that is actually written.
    uint8_t byte = uint8_t(value & 0xFF);
    printWindow(r, "Writing 0x%02x '%c' to address 0x%08x", unsigned(value), shownChar(byte), address);
    Link& link = job.link;
    uint32_t chipAddr = address & CHIP_ADDR_MASK;
    if (!link.write_byte(chipAddr, byte, chip))
        return false;
    // A write to a command address is one step of a command, and reading
    // there would read the chip mid-command.
    if (chipAddr == FLASH_UNLOCK_ADDR1 || chipAddr == FLASH_UNLOCK_ADDR2)
        return true;
    std::optional<uint8_t> held = readBackSettled(link, chipAddr, chip);
    if (!held)
        return false;
    if (*held != byte) {
        printWindow(r, "Read back 0x%02x: the byte did not take.", *held);
        printWindow(r, "Flash needs an erase and a program command.");
        return false;
    }
    return true;
}
