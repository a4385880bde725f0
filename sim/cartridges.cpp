#include "cartridges.h"

#include <cstring>

namespace sim {

namespace {

// Identification bytes met on real cartridges.
constexpr uint8_t MANUF_TOSHIBA = 0x98;
constexpr uint8_t MANUF_SAMSUNG = 0xEC;
constexpr uint8_t MANUF_BUNG_CHIP1 = 0x92;
constexpr uint8_t MANUF_AMD = 0x01;
constexpr uint8_t DEVICE_16MBIT = 0x2F;
constexpr uint8_t DEVICE_AM29LV160_TOP = 0xC4;
constexpr uint8_t FACTORY_OFFICIAL = 0x81;
constexpr uint8_t FACTORY_CINDERCART = 0x85;
constexpr uint8_t FACTORY_FLASH = 0x80;

// How much of a chip holds the synthetic game; the rest stays erased.
enum class Fill { Empty, Game, Erased };

struct ChipEntry {
    bool present;
    uint8_t manufacturer, device, factory;
    Fill fill;
    // Protection: every block, or none, with the listed exceptions.
    bool protectAll;
    int exceptions[4];  // block numbers, -1 ends the list
};

struct CartEntry {
    const char* name;
    const char* description;
    const char* romName;  // up to 12 bytes; shorter names are NUL-padded
    ChipEntry chips[2];
};

constexpr ChipEntry NO_CHIP = {false, 0, 0, 0, Fill::Empty, false, {-1}};

// Official cartridges keep their save area unprotected in block 33, the
// second 8 KB block of the boot region.
const CartEntry kCarts[] = {
    {"official16", "official 16 Mbit cartridge, save area in block 33", "SIM OFFICIAL",
     {{true, MANUF_TOSHIBA, DEVICE_16MBIT, FACTORY_OFFICIAL, Fill::Game, true, {33, -1}}, NO_CHIP}},
    {"official32", "official 32 Mbit cartridge of two chips, save area in block 33 of each",
     "SIM BIG GAME",
     {{true, MANUF_TOSHIBA, DEVICE_16MBIT, FACTORY_OFFICIAL, Fill::Game, true, {33, -1}},
      {true, MANUF_TOSHIBA, DEVICE_16MBIT, FACTORY_OFFICIAL, Fill::Game, true, {33, -1}}}},
    {"official8", "official 8 Mbit cartridge, save area in block 17", "SIM OFFICL 8",
     {{true, MANUF_TOSHIBA, FLASH_DEVICE_8MBIT, FACTORY_OFFICIAL, Fill::Game, true, {17, -1}},
      NO_CHIP}},
    {"official24", "official 24 Mbit cartridge: a 16 Mbit chip 0 and an 8 Mbit chip 1, save area in "
     "block 33 of chip 0 and block 17 of chip 1", "SIM MIXED 24",
     {{true, MANUF_TOSHIBA, DEVICE_16MBIT, FACTORY_OFFICIAL, Fill::Game, true, {33, -1}},
      {true, MANUF_TOSHIBA, FLASH_DEVICE_8MBIT, FACTORY_OFFICIAL, Fill::Game, true, {17, -1}}}},
    {"silent0", "official cartridge whose chip 0 does not answer: an 8 Mbit chip 1 alone, save "
     "area in its block 17", "",
     {NO_CHIP, {true, MANUF_TOSHIBA, FLASH_DEVICE_8MBIT, FACTORY_OFFICIAL, Fill::Game, true, {17, -1}}}},
    {"cindercart", "Cindercart flash cartridge, two 16 Mbit chips, nothing protected",
     "CINDER DEMO ",
     {{true, MANUF_AMD, DEVICE_AM29LV160_TOP, FACTORY_CINDERCART, Fill::Game, false, {-1}},
      {true, MANUF_AMD, DEVICE_AM29LV160_TOP, FACTORY_CINDERCART, Fill::Erased, false, {-1}}}},
    {"flash4", "4 Mbit flash cartridge, nothing protected, short ROM name", "SMALL4",
     {{true, MANUF_SAMSUNG, FLASH_DEVICE_4MBIT, FACTORY_FLASH, Fill::Game, false, {-1}}, NO_CHIP}},
    {"flash8", "8 Mbit flash cartridge, nothing protected", "SIM FLASH 8 ",
     {{true, MANUF_SAMSUNG, FLASH_DEVICE_8MBIT, FACTORY_FLASH, Fill::Game, false, {-1}}, NO_CHIP}},
    {"bung", "Bung flash cartridge, two 16 Mbit chips, nothing protected", "BUNG TEST   ",
     {{true, MANUF_TOSHIBA, DEVICE_16MBIT, FACTORY_OFFICIAL, Fill::Game, false, {-1}},
      {true, MANUF_BUNG_CHIP1, DEVICE_16MBIT, FACTORY_FLASH, Fill::Game, false, {-1}}}},
    {"none", "no cartridge in the linker", "", {NO_CHIP, NO_CHIP}},
};

// xorshift32: the same bytes for the same cartridge on every run.
uint32_t nextRandom(uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

uint32_t seedFor(const char* name, int chip)
{
    uint32_t h = 2166136261u;  // FNV-1a
    for (const char* p = name; *p; ++p)
        h = (h ^ static_cast<uint8_t>(*p)) * 16777619u;
    h ^= static_cast<uint32_t>(chip + 1) * 0x9E3779B9u;
    return h ? h : 1;
}

// The cartridge header: licence text, entry point, then the ROM name.
void writeHeader(FlashChip& chip, const char* romName)
{
    static const char kLicence[] = " LICENSED BY SNK CORPORATION";  // 28 bytes, 0x00..0x1B
    for (uint32_t i = 0; i < 28; ++i)
        chip.poke(i, static_cast<uint8_t>(kLicence[i]));
    const uint8_t entry[4] = {0x40, 0x00, 0x20, 0x00};  // 0x200040, little-endian
    for (uint32_t i = 0; i < 4; ++i)
        chip.poke(0x1C + i, entry[i]);
    chip.poke(0x20, 0x34);  // game number
    chip.poke(0x21, 0x12);
    chip.poke(0x22, 0x00);  // version
    chip.poke(0x23, 0x10);  // colour system
    size_t len = strlen(romName);
    for (int i = 0; i < ROM_NAME_LENGTH; ++i)
        chip.poke(ROM_NAME_OFFSET + i, i < static_cast<int>(len) ? static_cast<uint8_t>(romName[i]) : 0);
    chip.fill(0x30, 0x10, 0x00);
}

void buildChip(const CartEntry& cart, int index, FlashChip& out)
{
    const ChipEntry& entry = cart.chips[index];
    if (!entry.present) {
        out = FlashChip();
        return;
    }
    out = FlashChip(entry.manufacturer, entry.device, entry.factory);
    if (entry.fill == Fill::Game) {
        uint32_t state = seedFor(cart.name, index);
        for (uint8_t& b : out.contents())
            b = static_cast<uint8_t>(nextRandom(state) >> 24);
    }
    if (entry.fill == Fill::Game && index == 0)
        writeHeader(out, cart.romName);
    out.protectAll(entry.protectAll);
    for (int e : entry.exceptions) {
        if (e < 0)
            break;
        out.setBlockProtected(e, !entry.protectAll);
    }
}

}  // namespace

const std::vector<CartridgeInfo>& cartridgeCatalogue()
{
    static const std::vector<CartridgeInfo> list = [] {
        std::vector<CartridgeInfo> v;
        for (const CartEntry& c : kCarts)
            v.push_back({c.name, c.description});
        return v;
    }();
    return list;
}

bool buildCartridge(const std::string& name, FlashChip chips[2])
{
    for (const CartEntry& c : kCarts) {
        if (name == c.name) {
            buildChip(c, 0, chips[0]);
            buildChip(c, 1, chips[1]);
            return true;
        }
    }
    chips[0] = FlashChip();
    chips[1] = FlashChip();
    return false;
}

}  // namespace sim
