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

static void setSizeFromDevice(int chip)
{
    switch (G_deviceID[chip]) {
    case 0xAB:
        G_chipSize[chip] = 4;
        G_bootBlockStartAddr[chip] = 0x70000;
        G_bootBlockStartNum[chip] = 7;
        break;
    case 0x2C:
        G_chipSize[chip] = 8;
        G_bootBlockStartAddr[chip] = 0xF0000;
        G_bootBlockStartNum[chip] = 15;
        break;
    default:
        G_chipSize[chip] = 16;
        G_bootBlockStartAddr[chip] = 0x1F0000;
        G_bootBlockStartNum[chip] = 31;
    }
}

static void scanBlock(Probe& p, int chip, int block, uint32_t addr, bool list)
{
    uint8_t status = p.read(addr + 2, chip);
    G_prot[chip * BLOCKS_PER_CHIP + block] = status;
    if (list)
        printWindow(" Block %02d (0x%06X) %s", block, addr, status ? "Protected" : "Unprotected");
}

static void scanProtection(Probe& p, int chip, bool list)
{
    if (list)
        printWindow("Chip #%d block protection:", chip);
    uint32_t bootAddr = G_bootBlockStartAddr[chip];
    int n = 0;
    for (; uint32_t(n) * MAIN_BLOCK_SIZE <= bootAddr; n++)
        scanBlock(p, chip, n, n * MAIN_BLOCK_SIZE, list);
    int b = G_bootBlockStartNum[chip];
    scanBlock(p, chip, b + 1, bootAddr + 0x8000, list);
    scanBlock(p, chip, b + 2, bootAddr + 0xA000, list);
    scanBlock(p, chip, b + 3, bootAddr + 0xC000, list);
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

bool checkCart(Link& link, uint8_t* sizeOut, uint8_t* manufOut, uint8_t* deviceOut,
                      uint8_t* factoryProtOut, bool scan, bool list)
{
    Probe p{link};
    for (auto& p : G_prot)
        p = 1;
    G_chipSize[0] = G_chipSize[1] = 0;

    bool answered = false;
    for (int chip = 0; chip < 2; chip++) {
        p.unlock(chip);
        p.write(FLASH_UNLOCK_ADDR1, FLASH_CMD_RESET, chip);
        p.unlock(chip);
        p.write(FLASH_UNLOCK_ADDR1, FLASH_CMD_IDENTIFY, chip);
        G_manufID[chip] = p.read(0, chip);
        G_deviceID[chip] = p.read(1, chip);
        G_factoryProt[chip] = p.read(3, chip);
        if (link.gone())
            return false;
        if (G_manufID[chip] == EMPTY_POSITION && G_deviceID[chip] == EMPTY_POSITION &&
            G_factoryProt[chip] == EMPTY_POSITION)
            continue;

        setSizeFromDevice(chip);
        if (manufOut || deviceOut || factoryProtOut)
            printWindow("Chip #%d info:", chip);
        if (manufOut) {
            printWindow("  ManufID  = 0x%02X", G_manufID[chip]);
            *manufOut = G_manufID[chip];
        }
        if (deviceOut) {
            printWindow("  DeviceID = 0x%02X", G_deviceID[chip]);
            *deviceOut = G_deviceID[chip];
        }
        if (factoryProtOut) {
            printWindow("  FactoryProt = 0x%02X", G_factoryProt[chip]);
            *factoryProtOut = G_factoryProt[chip];
        }
        if (scan)
            scanProtection(p, chip, list);
        backToReadingMode(p, chip);
        answered = true;
    }

    if (!answered) {
        printWindow("No cart detected!");
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
    printWindow("%dmbit cart detected.", *sizeOut);
    // The name is whatever the cartridge holds: an erased one reads 0xFF.
    printWindow("ROM name: '%s'", printable(G_cartRomName).c_str());
    return p.clean;
}

CartLayout CartLayout::detected()
{
    return CartLayout(G_chipSize[0], G_chipSize[1]);
}

bool chipHasProtectedBlocks(uint8_t chip)
{
    if (G_chipSize[chip] == 0)
        return false;
    // The boot region's four blocks follow its first block number.
    int blocks = G_bootBlockStartNum[chip] + 4;
    for (int b = 0; b < blocks; b++)
        if (G_prot[chip * BLOCKS_PER_CHIP + b] != 0)
            return true;
    return false;
}

bool checkCartCleanly(Link& link, uint8_t* sizeOut, bool scanProtection, bool listProtection,
                      const char* outcome)
{
    if (checkCart(link, sizeOut, nullptr, nullptr, nullptr, scanProtection, listProtection))
        return true;
    printWindow("Cart check failed; %s.", outcome);
    return false;
}
