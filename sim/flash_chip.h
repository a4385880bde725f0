// One flash chip position of a cartridge: an AMD/JEDEC-style command state
// machine over a byte array, driven by single bus cycles at chip addresses.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

// Command cycles, as the program sends them with single-byte writes.
constexpr uint32_t FLASH_UNLOCK_ADDR1 = 0x5555;
constexpr uint32_t FLASH_UNLOCK_ADDR2 = 0x2AAA;
constexpr uint8_t FLASH_UNLOCK_DATA1 = 0xAA;
constexpr uint8_t FLASH_UNLOCK_DATA2 = 0x55;
constexpr uint8_t FLASH_CMD_RESET = 0xF0;
constexpr uint8_t FLASH_CMD_IDENTIFY = 0x90;
constexpr uint8_t FLASH_CMD_PROGRAM = 0xA0;
constexpr uint8_t FLASH_CMD_ERASE_SETUP = 0x80;
constexpr uint8_t FLASH_CMD_CHIP_ERASE = 0x10;
constexpr uint8_t FLASH_CMD_BLOCK_ERASE = 0x30;
constexpr uint8_t FLASH_CMD_UNLOCK_BYPASS = 0x20;
// In unlock bypass: FLASH_CMD_IDENTIFY then this byte leaves the mode.
constexpr uint8_t FLASH_CMD_BYPASS_RESET = 0x00;

// Identify mode: what the low address byte selects (inside any block).
constexpr uint32_t FLASH_ID_MANUFACTURER = 0;
constexpr uint32_t FLASH_ID_DEVICE = 1;
constexpr uint32_t FLASH_ID_BLOCK_PROTECTION = 2;
constexpr uint32_t FLASH_ID_FACTORY = 3;

// Status bits read while an embedded program or erase runs.
constexpr uint8_t FLASH_STATUS_DATA_POLL = 0x80;  // DQ7: complement of the data, 0 while erasing
constexpr uint8_t FLASH_STATUS_TOGGLE = 0x40;     // DQ6: toggles on every read
constexpr uint8_t FLASH_STATUS_TIMEOUT = 0x20;    // DQ5: operation exceeded its time limit
constexpr uint8_t FLASH_STATUS_ERASE_TIMER = 0x08;  // DQ3: erase has begun

// Device bytes with a size of their own; every other value is 16 Mbit.
constexpr uint8_t FLASH_DEVICE_4MBIT = 0xAB;
constexpr uint8_t FLASH_DEVICE_8MBIT = 0x2C;

constexpr uint32_t MEGABIT = 0x20000;
constexpr int MAX_BLOCKS = 35;  // a 16 Mbit chip

// Top-boot layout: 64 KB main blocks, then 32, 8, 8 and 16 KB at the top.
uint32_t chipSizeForDevice(uint8_t device);
int blockCount(uint32_t chipSize);
uint32_t blockStart(uint32_t chipSize, int block);
uint32_t blockLength(uint32_t chipSize, int block);
int blockContaining(uint32_t chipSize, uint32_t address);

class FlashChip {
public:
    enum class Mode { Read, Identify, UnlockBypass };
    enum class Busy { None, Programming, ProgramFailed, Erasing };

    // An empty position.
    FlashChip() = default;
    // A chip whose size follows from its device byte; erased, unprotected.
    FlashChip(uint8_t manufacturer, uint8_t device, uint8_t factory);

    bool present() const { return present_; }
    uint8_t manufacturer() const { return manufacturer_; }
    uint8_t device() const { return device_; }
    uint8_t factory() const { return factory_; }
    uint32_t size() const { return static_cast<uint32_t>(array_.size()); }
    int blocks() const { return present_ ? blockCount(size()) : 0; }

    // Bus cycles. `now` is the modelled clock; an erase or program finishes
    // when the clock passes its end. Reads of an empty position are the
    // bus's business (see Bus), not the chip's.
    uint8_t read(uint32_t address, double now);
    void write(uint32_t address, uint8_t value, double now);

    // Direct access to the array, bypassing the command machine (tests, the
    // state file, cartridge contents). Addresses wrap at the chip's size.
    uint8_t peek(uint32_t address) const;
    void poke(uint32_t address, uint8_t value);
    void fill(uint32_t address, uint32_t length, uint8_t value);
    const std::vector<uint8_t>& contents() const { return array_; }
    std::vector<uint8_t>& contents() { return array_; }

    bool blockProtected(int block) const;
    void setBlockProtected(int block, bool on);
    void protectAll(bool on);

    Mode mode() const { return mode_; }
    // Whether an embedded operation is still running at `now` (settles it
    // first, so a finished erase is applied).
    Busy busy(double now);
    bool erasing(double now) { return busy(now) == Busy::Erasing; }

    // Faults.
    void setIgnoresErase(bool on) { ignoresErase_ = on; }
    void setEraseNeverEnds(bool on) { eraseNeverEnds_ = on; }
    void addStuckByte(uint32_t address) { stuck_.push_back(address & mask()); }
    void clearFaults();

    // Counters.
    uint64_t bytesProgrammed() const { return bytesProgrammed_; }
    uint64_t chipErases() const { return chipErases_; }
    uint64_t blockErases() const { return blockErases_; }

    // Power-on: reading mode, nothing running, no sequence half-entered.
    void powerOn();

private:
    enum class Seq { Idle, Unlock1, Unlock2, ProgramArmed, EraseSetup, EraseUnlock1, EraseUnlock2,
                     BypassProgramArmed, BypassResetArmed };

    uint32_t mask() const { return size() - 1; }
    void settle(double now);
    void runCommand(uint8_t value);
    void startProgram(uint32_t address, uint8_t value, double now);
    void startChipErase(double now);
    void startBlockErase(uint32_t address, double now);
    uint8_t identifyByte(uint32_t address) const;
    uint8_t statusByte();
    bool isStuck(uint32_t address) const;

    bool present_ = false;
    uint8_t manufacturer_ = 0, device_ = 0, factory_ = 0;
    std::vector<uint8_t> array_;
    bool protected_[MAX_BLOCKS] = {};

    Mode mode_ = Mode::Read;
    Seq seq_ = Seq::Idle;
    Busy busy_ = Busy::None;
    double busyUntil_ = 0;
    uint32_t opAddress_ = 0;
    uint8_t opValue_ = 0;
    bool eraseBlocks_[MAX_BLOCKS] = {};  // which blocks the running erase clears
    bool toggle_ = false;

    bool ignoresErase_ = false;
    bool eraseNeverEnds_ = false;
    std::vector<uint32_t> stuck_;

    uint64_t bytesProgrammed_ = 0, chipErases_ = 0, blockErases_ = 0;
};

}  // namespace sim
