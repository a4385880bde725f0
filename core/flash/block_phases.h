// Flash ROM(s) working block by block: the ROM's blocks erased, both chips at once,
// the blocks that already hold the file's bytes found and left alone, and
// the written bytes read back. Each phase has its own progress bar and says
// in the log why it stopped; each returns true when the job may go on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/cart/blocks.h"
#include "core/cart/detect.h"
#include "core/cart/erase.h"
#include "core/flash/progress.h"
#include "core/flash/write.h"
#include "core/report.h"

class Link;

// Reads the blocks back and keeps only those whose bytes differ from the
// file's; the file is left at its beginning.
bool keepChangedBlocks(Link& link, FILE* rom, uint32_t romSize, std::vector<CartBlock>* blocks, FlashStages& stages,
                       Reporter& r);

enum class BlocksErased { All, Cancelled, Failed };

// Erases the blocks, each chip's in order and the two chips at once: each
// chip is given its next block as soon as its last one ends, and the two
// are read in turn, so two chips' blocks take about as long as the one with
// more. A block that will not erase, and Cancel, end the job before
// anything is written: no block is started after them, and those under way
// are let end, so that each chip's state is known and said. A chip all of
// whose blocks are in the list is erased whole where that is quicker.
class BlockEraser {
public:
    BlockEraser(Link& link, const Cart& cart, const std::vector<CartBlock>& blocks, FlashStages& stages,
                Reporter& r);
    // One round: lets the face breathe (and hears Cancel), gives each idle
    // chip its next block, and reads each erasing chip once. False once no
    // block is under way or to come.
    bool pump();
    // Whether the block, an index into the list, has ended erased.
    bool erased(size_t block) const { return erased_[block]; }
    // Starts no more blocks and says nothing of the stop: the caller has
    // said why.
    void stopQuietly();
    // Pumps to the end and says in the log why the erase stopped, if it did.
    // The line that a failed flash aborted is the caller's to say.
    BlocksErased finish();

private:
    // One chip's share: its blocks in order, and the one erasing now.
    struct ChipErase {
        std::vector<size_t> blocks;  // indexes into the list
        size_t next = 0;
        size_t erased = 0;
        std::optional<EraseWatch> watch;
        bool failed = false;
        // Above zero: the chip is erased whole, in about this long.
        double wholeSeconds = 0.0;
        double started = 0.0;
        uint64_t bytes = 0;
    };
    void start(ChipErase& c, uint8_t chip);
    float fraction() const;
    Link& link_;
    const std::vector<CartBlock>& blocks_;
    Reporter& r_;
    std::vector<bool> erased_;
    uint64_t total_, done_ = 0;
    ChipErase chips_[2];
    bool stopping_ = false, cancelled_ = false, linkFailed_ = false, quiet_ = false;
    double breathed_ = -1.0;
};

// The bytes of the ROM's last block that lie past the ROM's end: erasing
// the block would take them with it, and nobody asked for that (a homebrew
// game keeps its save in the chip's top blocks).
struct BytesPastRom {
    const CartBlock* block = nullptr;  // none when the ROM ends on a block's end
    uint32_t start = 0;                // cartridge address of bytes[0], a packet's start
    std::vector<uint8_t> bytes;        // those below the ROM's end read as erased
    // The safety copy in the vault: an NGF file of the block as the flash
    // is to leave it, the ROM's bytes and these.
    std::string copy;

    // From the ROM's end on, for the file's last chunk.
    PastRom from(uint32_t romSize) const;
};

// Reads them from the cartridge and keeps the safety copy, before anything
// is erased; false when either could not be done (said in the log).
bool keepBytesPastRom(Reporter& r, Link& link, FILE* rom, uint32_t romSize, const std::vector<CartBlock>& blocks,
                      BytesPastRom* kept);

// Programs them back into their erased block, going on past a transfer that
// failed and a cell that did not take, and programs again what still reads
// erased; `meanwhile`, when given, is called between the transfers. False, after lines naming the addresses that did not take and the
// command that puts them back (`restoreCommand`, given the copy; empty: the
// window's Saves), when any did not; or when the linker went, which the
// link has said.
bool restoreBytesPastRom(Reporter& r, Link& link, const BytesPastRom& kept, bool turbo,
                         const std::string& restoreCommand, const std::function<void()>& meanwhile = nullptr);

// Compares the written ranges with the file and says in one line how that went.
bool verifyAfterWriting(Link& link, FILE* rom, uint32_t romSize, const AddressRanges& written, FlashStages& stages,
                        Reporter& r);

// The line naming the block a program failure happened in, or the address
// where no block of the layout holds it.
void reportUnprogrammedBlock(Reporter& r, const CartLayout& layout, uint32_t address);
