#include "flash_chip.h"

#include "clock.h"

#include <algorithm>
#include <limits>

namespace sim {

uint32_t chipSizeForDevice(uint8_t device)
{
    if (device == FLASH_DEVICE_4MBIT)
        return 4 * MEGABIT;
    if (device == FLASH_DEVICE_8MBIT)
        return 8 * MEGABIT;
    return 16 * MEGABIT;
}

// The boot region takes the top 64 KB: 32 KB, 8 KB, 8 KB, 16 KB.
static const uint32_t kBootOffsets[4] = {0x0000, 0x8000, 0xA000, 0xC000};
static const uint32_t kBootLengths[4] = {0x8000, 0x2000, 0x2000, 0x4000};

static int mainBlocks(uint32_t chipSize)
{
    return static_cast<int>(chipSize / 0x10000) - 1;
}

int blockCount(uint32_t chipSize)
{
    return mainBlocks(chipSize) + 4;
}

uint32_t blockStart(uint32_t chipSize, int block)
{
    int boot = mainBlocks(chipSize);
    if (block < boot)
        return static_cast<uint32_t>(block) * 0x10000;
    return static_cast<uint32_t>(boot) * 0x10000 + kBootOffsets[std::min(block - boot, 3)];
}

uint32_t blockLength(uint32_t chipSize, int block)
{
    int boot = mainBlocks(chipSize);
    if (block < boot)
        return 0x10000;
    return kBootLengths[std::min(block - boot, 3)];
}

int blockContaining(uint32_t chipSize, uint32_t address)
{
    address &= chipSize - 1;
    int boot = mainBlocks(chipSize);
    uint32_t bootStart = static_cast<uint32_t>(boot) * 0x10000;
    if (address < bootStart)
        return static_cast<int>(address / 0x10000);
    uint32_t offset = address - bootStart;
    for (int k = 3; k > 0; --k)
        if (offset >= kBootOffsets[k])
            return boot + k;
    return boot;
}

FlashChip::FlashChip(uint8_t manufacturer, uint8_t device, uint8_t factory)
    : present_(true),
      manufacturer_(manufacturer),
      device_(device),
      factory_(factory),
      array_(chipSizeForDevice(device), 0xFF)
{
}

void FlashChip::powerOn()
{
    mode_ = Mode::Read;
    seq_ = Seq::Idle;
    busy_ = Busy::None;
    toggle_ = false;
}

void FlashChip::clearFaults()
{
    ignoresErase_ = false;
    eraseNeverEnds_ = false;
    stuck_.clear();
}

bool FlashChip::isStuck(uint32_t address) const
{
    return std::find(stuck_.begin(), stuck_.end(), address & mask()) != stuck_.end();
}

uint8_t FlashChip::peek(uint32_t address) const
{
    return present_ ? array_[address & mask()] : 0xFF;
}

void FlashChip::poke(uint32_t address, uint8_t value)
{
    if (present_)
        array_[address & mask()] = value;
}

void FlashChip::fill(uint32_t address, uint32_t length, uint8_t value)
{
    for (uint32_t i = 0; i < length; ++i)
        poke(address + i, value);
}

bool FlashChip::blockProtected(int block) const
{
    return block >= 0 && block < MAX_BLOCKS && protected_[block];
}

void FlashChip::setBlockProtected(int block, bool on)
{
    if (block >= 0 && block < MAX_BLOCKS)
        protected_[block] = on;
}

void FlashChip::protectAll(bool on)
{
    for (bool& p : protected_)
        p = on;
}

FlashChip::Busy FlashChip::busy(double now)
{
    settle(now);
    return busy_;
}

// Finishes an embedded operation whose time has come.
void FlashChip::settle(double now)
{
    if (busy_ == Busy::None || busy_ == Busy::ProgramFailed || now < busyUntil_)
        return;
    if (busy_ == Busy::Programming) {
        if (isStuck(opAddress_)) {
            // The cell never reaches its value: the chip flags the time-out
            // and stays in status mode until it is reset.
            busy_ = Busy::ProgramFailed;
            return;
        }
        // Programming moves bits from 1 to 0 only; an erase is the sole way back.
        array_[opAddress_] &= opValue_;
        ++bytesProgrammed_;
    } else {
        for (int b = 0; b < blocks(); ++b)
            if (eraseBlocks_[b])
                std::fill_n(array_.begin() + blockStart(size(), b), blockLength(size(), b), 0xFF);
        // An erase always ends in reading mode, also when it started in
        // unlock bypass.
        mode_ = Mode::Read;
    }
    busy_ = Busy::None;
}

uint8_t FlashChip::statusByte()
{
    toggle_ = !toggle_;
    uint8_t status = toggle_ ? FLASH_STATUS_TOGGLE : 0;
    if (busy_ == Busy::Erasing)
        return status | FLASH_STATUS_ERASE_TIMER;
    status |= ~opValue_ & FLASH_STATUS_DATA_POLL;
    if (busy_ == Busy::ProgramFailed)
        status |= FLASH_STATUS_TIMEOUT;
    return status;
}

uint8_t FlashChip::identifyByte(uint32_t address) const
{
    switch (address & 0xFF) {
    case FLASH_ID_MANUFACTURER:
        return manufacturer_;
    case FLASH_ID_DEVICE:
        return device_;
    case FLASH_ID_BLOCK_PROTECTION:
        return blockProtected(blockContaining(size(), address)) ? 1 : 0;
    case FLASH_ID_FACTORY:
        return factory_;
    default:
        return 0x00;
    }
}

uint8_t FlashChip::read(uint32_t address, double now)
{
    if (!present_)
        return 0xFF;
    settle(now);
    address &= mask();
    if (busy_ != Busy::None)
        return statusByte();
    if (mode_ == Mode::Identify)
        return identifyByte(address);
    return array_[address];
}

void FlashChip::startProgram(uint32_t address, uint8_t value, double now)
{
    if (blockProtected(blockContaining(size(), address)))
        return;  // the chip declines at once; the cell keeps its value
    busy_ = Busy::Programming;
    busyUntil_ = now + costs().byteProgram;
    opAddress_ = address;
    opValue_ = value;
}

void FlashChip::startChipErase(double now)
{
    ++chipErases_;
    if (ignoresErase_)
        return;
    uint32_t bytes = 0;
    for (int b = 0; b < blocks(); ++b) {
        eraseBlocks_[b] = !protected_[b];
        if (eraseBlocks_[b])
            bytes += blockLength(size(), b);
    }
    double full = costs().chipErase16 * size() / (16.0 * MEGABIT);
    busy_ = Busy::Erasing;
    busyUntil_ = now + std::max(costs().protectedErase, full * bytes / size());
    if (eraseNeverEnds_)
        busyUntil_ = std::numeric_limits<double>::infinity();
}

void FlashChip::startBlockErase(uint32_t address, double now)
{
    ++blockErases_;
    if (ignoresErase_)
        return;
    int block = blockContaining(size(), address);
    std::fill(std::begin(eraseBlocks_), std::end(eraseBlocks_), false);
    eraseBlocks_[block] = !protected_[block];
    busy_ = Busy::Erasing;
    busyUntil_ = now + (eraseBlocks_[block] ? costs().blockErase : costs().protectedErase);
    if (eraseNeverEnds_)
        busyUntil_ = std::numeric_limits<double>::infinity();
}

void FlashChip::write(uint32_t address, uint8_t value, double now)
{
    if (!present_)
        return;
    settle(now);
    address &= mask();

    if (busy_ == Busy::ProgramFailed) {
        if (value == FLASH_CMD_RESET) {
            busy_ = Busy::None;
            mode_ = Mode::Read;
            seq_ = Seq::Idle;
        }
        return;
    }
    // A running program or erase ignores the bus.
    if (busy_ != Busy::None)
        return;

    const bool atUnlock1 = address == FLASH_UNLOCK_ADDR1;
    const bool atUnlock2 = address == FLASH_UNLOCK_ADDR2;
    const Seq seq = seq_;
    seq_ = Seq::Idle;  // any cycle that does not continue a sequence abandons it

    switch (seq) {
    case Seq::ProgramArmed:
        // The data cycle: every value is data here, 0xF0 included.
        mode_ = Mode::Read;
        startProgram(address, value, now);
        return;
    case Seq::BypassProgramArmed:
        startProgram(address, value, now);
        return;
    case Seq::BypassResetArmed:
        if (value == FLASH_CMD_BYPASS_RESET)
            mode_ = Mode::Read;
        return;
    case Seq::Unlock1:
        if (atUnlock2 && value == FLASH_UNLOCK_DATA2) {
            seq_ = Seq::Unlock2;
            return;
        }
        break;
    case Seq::Unlock2:
        if (atUnlock1 && value != FLASH_UNLOCK_DATA1) {
            runCommand(value);
            return;
        }
        break;
    case Seq::EraseSetup:
        if (atUnlock1 && value == FLASH_UNLOCK_DATA1) {
            seq_ = Seq::EraseUnlock1;
            return;
        }
        break;
    case Seq::EraseUnlock1:
        if (atUnlock2 && value == FLASH_UNLOCK_DATA2) {
            seq_ = Seq::EraseUnlock2;
            return;
        }
        break;
    case Seq::EraseUnlock2:
        if (atUnlock1 && value == FLASH_CMD_CHIP_ERASE) {
            mode_ = Mode::Read;
            startChipErase(now);
            return;
        }
        if (value == FLASH_CMD_BLOCK_ERASE) {
            mode_ = Mode::Read;
            startBlockErase(address, now);
            return;
        }
        break;
    case Seq::Idle:
        break;
    }

    if (mode_ == Mode::UnlockBypass) {
        // Only program and the two-cycle reset are accepted in bypass.
        if (value == FLASH_CMD_PROGRAM)
            seq_ = Seq::BypassProgramArmed;
        else if (value == FLASH_CMD_IDENTIFY)
            seq_ = Seq::BypassResetArmed;
        return;
    }
    // A lone 0xF0 resets from anywhere outside bypass; 0xAA at the first
    // unlock address (re)starts a sequence, also one that was just abandoned.
    if (value == FLASH_CMD_RESET)
        mode_ = Mode::Read;
    else if (atUnlock1 && value == FLASH_UNLOCK_DATA1)
        seq_ = Seq::Unlock1;
}

// The third cycle of an unlocked command, written to the first unlock address.
void FlashChip::runCommand(uint8_t value)
{
    switch (value) {
    case FLASH_CMD_RESET:
        mode_ = Mode::Read;
        break;
    case FLASH_CMD_IDENTIFY:
        mode_ = Mode::Identify;
        break;
    case FLASH_CMD_PROGRAM:
        seq_ = Seq::ProgramArmed;
        break;
    case FLASH_CMD_ERASE_SETUP:
        seq_ = Seq::EraseSetup;
        break;
    case FLASH_CMD_UNLOCK_BYPASS:
        mode_ = Mode::UnlockBypass;
        break;
    default:
        break;  // not a command these chips know: the sequence is dropped
    }
}

}  // namespace sim
