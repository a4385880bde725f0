#include <cstdint>

#include "cart/geometry.h"
#include "link/transfer.h"
#include "ops/commands.h"
#include "ui/input.h"
#include "ui/log.h"

static const uint32_t LAST_CART_ADDR = 0x3FFFFF;

// Printable characters of the C locale; anything else shows as '.', so a
// control byte never reaches the log as itself.
static char shownChar(uint8_t byte)
{
    return byte >= 0x20 && byte <= 0x7E ? char(byte) : '.';
}

// Asks for a cartridge address; false (after saying so) when the window was
// closed or the address lies past chip 1's window.
static bool askAddress(uint32_t* address)
{
    *address = uint32_t(makeInputWindow("Enter address"));
    if (*address > LAST_CART_ADDR) {
        printWindow("Invalid address %#x", *address);
        return false;
    }
    return true;
}

void cb_readByte_button(Fl_Widget* w, void* data)
{
    uint32_t address;
    if (!askAddress(&address))
        return;
    uint8_t byte = read_byte(address & CHIP_ADDR_MASK, chipOf(address));
    printWindow("Byte at address 0x%08x is 0x%02x '%c'", address, byte, shownChar(byte));
}

void cb_writeByte_button(Fl_Widget* w, void* data)
{
    uint32_t address;
    if (!askAddress(&address))
        return;
    uint8_t chip = chipOf(address);
    int value = makeInputWindow("Enter byte value");
    if (value == -1) {
        printWindow("Invalid byte value");
        return;
    }
    // Only the low byte goes on the bus; the line shows the value as typed,
    // with the character of the byte that is actually written.
    uint8_t byte = uint8_t(value & 0xFF);
    printWindow("Writing 0x%02x '%c' to address 0x%08x", unsigned(value), shownChar(byte), address);
    write_byte(address & CHIP_ADDR_MASK, byte, chip);
}
