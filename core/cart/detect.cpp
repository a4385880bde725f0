#include "core/cart/detect.h"

#include <unistd.h>

#include "core/cart/blocks.h"
#include "core/cart/flash_commands.h"
#include "core/link/transfer.h"
#include "core/report.h"
#include "core/shown_text.h"

bool Cart::chipHasProtectedBlocks(uint8_t chip) const
{
    CartLayout all = layout();
    for (const CartBlock& b : all.blocksOf(chip))
        if (isProtected(b))
            return true;
    return false;
}

static const uint8_t EMPTY_POSITION = 0x90;  // an empty socket echoes the identify command

// The probe's transfers: it goes on past a failed one, as the chips were
// always probed, and remembers that one failed. A failed read gives 0.
struct Probe {
    Link& link;
    bool clean = true;
    uint8_t read(uint32_t address, int chip)
    {
        std::optional<uint8_t> v = link.read_byte(address, uint8_t(chip));
        clean = clean && v;
        return v.value_or(0);
    }
    void write(uint32_t address, uint8_t value, int chip)
    {
        clean = link.write_byte(address, value, uint8_t(chip)) && clean;
    }
    void unlock(int chip)
    {
        clean = flashUnlock(link, uint8_t(chip)) && clean;
    }
};

// The chips the program knows, by their device byte; any other is taken for
// a 16 Mbit one. Their blocks follow from the size (CartLayout).
static const struct KnownChip {
    uint8_t deviceId;
    uint8_t megabits;
} KNOWN_CHIPS[] = {{0xAB, 4}, {0x2C, 8}};
static const uint8_t OTHER_CHIP_MEGABITS = 16;

static uint8_t megabitsOf(uint8_t deviceId)
{
    for (const KnownChip& k : KNOWN_CHIPS)
        if (k.deviceId == deviceId)
            return k.megabits;
    return OTHER_CHIP_MEGABITS;
}

// A block's protection status is the byte read at its address + 2, in
// identify mode.
static void scanProtection(Reporter& r, Probe& p, Cart* cart, uint8_t chip, bool list)
{
    if (list)
        printWindow(r, "Chip #%d block protection:", chip);
    CartLayout layout = cart->layout();
    for (const CartBlock& b : layout.blocksOf(chip)) {
        uint8_t status = p.read(b.chipAddr() + 2, chip);
        cart->prot[b.slot()] = status;
        if (list)
            printWindow(r, " Block %02d (0x%06X) %s", b.number, b.chipAddr(), status ? "Protected" : "Unprotected");
    }
}

static void backToReadingMode(Probe& p, int chip)
{
    p.write(FLASH_UNLOCK_ADDR1, FLASH_UNLOCK_DATA1, chip);
    usleep(20);
    p.write(FLASH_UNLOCK_ADDR2, FLASH_UNLOCK_DATA2, chip);
    usleep(20);
    p.write(FLASH_UNLOCK_ADDR1, FLASH_CMD_RESET, chip);
    usleep(20);
    usleep(1);
    p.read(0, chip);
    usleep(20);
}

// Puts the chip in identify mode and reads its manufacturer, device and
// factory protection bytes; false when the position is empty.
static bool identify(Probe& p, int chip, uint8_t* manuf, uint8_t* device, uint8_t* factory)
{
    p.unlock(chip);
    p.write(FLASH_UNLOCK_ADDR1, FLASH_CMD_RESET, chip);
    p.unlock(chip);
    p.write(FLASH_UNLOCK_ADDR1, FLASH_CMD_IDENTIFY, chip);
    *manuf = p.read(0, chip);
    *device = p.read(1, chip);
    *factory = p.read(3, chip);
    return !(*manuf == EMPTY_POSITION && *device == EMPTY_POSITION && *factory == EMPTY_POSITION);
}

bool chipZeroAnswers(Link& link)
{
    Probe p{link};
    uint8_t manuf = 0, device = 0, factory = 0;
    if (!identify(p, 0, &manuf, &device, &factory))
        return false;
    backToReadingMode(p, 0);
    return p.clean;
}

bool refusedAsChipZeroSilent(Reporter& r, const Cart& cart, const char* outcome)
{
    if (!cart.chipZeroSilent())
        return false;
    printWindow(r, "Chip 0 did not answer; %s.", outcome);
    return true;
}

bool checkCart(Reporter& r, Link& link, Cart* cart, uint8_t* manufOut, uint8_t* deviceOut,
               uint8_t* factoryProtOut, bool scan, bool list)
{
    Probe p{link};
    Cart& c = *cart = Cart();

    bool answered = false;
    for (uint8_t chip = 0; chip < 2; chip++) {
        bool present = identify(p, chip, &c.manufID[chip], &c.deviceID[chip], &c.factoryProt[chip]);
        if (link.gone())
            return false;
        if (!present)
            continue;

        c.chipSize[chip] = megabitsOf(c.deviceID[chip]);
        if (manufOut || deviceOut || factoryProtOut)
            printWindow(r, "Chip #%d info:", chip);
        if (manufOut) {
            printWindow(r, "  ManufID  = 0x%02X", c.manufID[chip]);
            *manufOut = c.manufID[chip];
        }
        if (deviceOut) {
            printWindow(r, "  DeviceID = 0x%02X", c.deviceID[chip]);
            *deviceOut = c.deviceID[chip];
        }
        if (factoryProtOut) {
            printWindow(r, "  FactoryProt = 0x%02X", c.factoryProt[chip]);
            *factoryProtOut = c.factoryProt[chip];
        }
        if (scan)
            scanProtection(r, p, cart, chip, list);
        backToReadingMode(p, chip);
        answered = true;
    }

    if (!answered) {
        printWindow(r, "No cart detected!");
        return p.clean;
    }
    if (scan)
        return p.clean;

    for (int i = 0; i < ROM_NAME_LEN; i++)
        c.cartRomName[i] = char(p.read(ROM_NAME_ADDR + i, 0));
    if (link.gone())
        return false;
    printWindow(r, "%dmbit cart detected.", c.megabits());
    // The name is whatever the cartridge holds: an erased one reads 0xFF.
    printWindow(r, "ROM name: '%s'", printable(c.cartRomName).c_str());
    return p.clean;
}

bool checkCartCleanly(Reporter& r, Link& link, Cart* cart, bool scanProtection, bool listProtection,
                      const char* outcome)
{
    if (checkCart(r, link, cart, nullptr, nullptr, nullptr, scanProtection, listProtection))
        return true;
    printWindow(r, "Cart check failed; %s.", outcome);
    return false;
}
