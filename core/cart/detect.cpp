#include "core/cart/detect.h"

#include <unistd.h>

#include "core/cart/blocks.h"
#include "core/cart/flash_commands.h"
#include "core/link/transfer.h"
#include "core/report.h"
#include "core/shown_text.h"

uint8_t G_manufID[2];
uint8_t G_deviceID[2];
uint8_t G_factoryProt[2];
uint8_t G_chipSize[2];
uint32_t G_bootBlockStartAddr[2];
uint8_t G_bootBlockStartNum[2];
uint8_t G_prot[BLOCK_SLOTS];
char G_cartRomName[13];

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

static void setSizeFromDevice(int chip)
{
    G_chipSize[chip] = OTHER_CHIP_MEGABITS;
    for (const KnownChip& k : KNOWN_CHIPS)
        if (k.deviceId == G_deviceID[chip])
            G_chipSize[chip] = k.megabits;
    // The boot region's first block: the chip's last 64 KB.
    CartLayout layout(G_chipSize[chip], 0);
    const CartBlock& boot = layout.blocksOf(0).end()[-BOOT_REGION_BLOCKS];
    G_bootBlockStartAddr[chip] = boot.start;
    G_bootBlockStartNum[chip] = boot.number;
}

// A block's protection status is the byte read at its address + 2, in
// identify mode.
static void scanProtection(Reporter& r, Probe& p, int chip, bool list)
{
    if (list)
        printWindow(r, "Chip #%d block protection:", chip);
    CartLayout layout(G_chipSize[chip], 0);
    for (const CartBlock& b : layout.blocksOf(0)) {
        uint8_t status = p.read(b.chipAddr() + 2, chip);
        G_prot[chip * BLOCKS_PER_CHIP + b.number] = status;
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

bool refusedAsChipZeroSilent(Reporter& r, const char* outcome)
{
    if (G_chipSize[0] != 0 || G_chipSize[1] == 0)
        return false;
    printWindow(r, "Chip 0 did not answer; %s.", outcome);
    return true;
}

bool checkCart(Reporter& r, Link& link, uint8_t* sizeOut, uint8_t* manufOut, uint8_t* deviceOut,
                      uint8_t* factoryProtOut, bool scan, bool list)
{
    Probe p{link};
    for (auto& p : G_prot)
        p = 1;
    G_chipSize[0] = G_chipSize[1] = 0;

    bool answered = false;
    for (int chip = 0; chip < 2; chip++) {
        bool present = identify(p, chip, &G_manufID[chip], &G_deviceID[chip], &G_factoryProt[chip]);
        if (link.gone())
            return false;
        if (!present)
            continue;

        setSizeFromDevice(chip);
        if (manufOut || deviceOut || factoryProtOut)
            printWindow(r, "Chip #%d info:", chip);
        if (manufOut) {
            printWindow(r, "  ManufID  = 0x%02X", G_manufID[chip]);
            *manufOut = G_manufID[chip];
        }
        if (deviceOut) {
            printWindow(r, "  DeviceID = 0x%02X", G_deviceID[chip]);
            *deviceOut = G_deviceID[chip];
        }
        if (factoryProtOut) {
            printWindow(r, "  FactoryProt = 0x%02X", G_factoryProt[chip]);
            *factoryProtOut = G_factoryProt[chip];
        }
        if (scan)
            scanProtection(r, p, chip, list);
        backToReadingMode(p, chip);
        answered = true;
    }

    if (!answered) {
        printWindow(r, "No cart detected!");
        return p.clean;
    }
    *sizeOut = G_chipSize[0] + G_chipSize[1];
    if (scan)
        return p.clean;

    for (int i = 0; i < ROM_NAME_LEN; i++)
        G_cartRomName[i] = char(p.read(ROM_NAME_ADDR + i, 0));
    G_cartRomName[ROM_NAME_LEN] = '\0';
    if (link.gone())
        return false;
    printWindow(r, "%dmbit cart detected.", *sizeOut);
    // The name is whatever the cartridge holds: an erased one reads 0xFF.
    printWindow(r, "ROM name: '%s'", printable(G_cartRomName).c_str());
    return p.clean;
}

CartLayout CartLayout::detected()
{
    return CartLayout(G_chipSize[0], G_chipSize[1]);
}

bool chipHasProtectedBlocks(uint8_t chip)
{
    CartLayout layout = CartLayout::detected();
    for (const CartBlock& b : layout.blocksOf(chip))
        if (G_prot[b.slot()] != 0)
            return true;
    return false;
}

bool checkCartCleanly(Reporter& r, Link& link, uint8_t* sizeOut, bool scanProtection, bool listProtection,
                      const char* outcome)
{
    if (checkCart(r, link, sizeOut, nullptr, nullptr, nullptr, scanProtection, listProtection))
        return true;
    printWindow(r, "Cart check failed; %s.", outcome);
    return false;
}
