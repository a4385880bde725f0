// Loading an NGF save-game file for Write Savegame. The files come from this
// tool and from emulators, which share the file header and the console
// addresses but not the record header: after the u32 address, this tool and
// one family of emulators write a u32 length, the other family a u16 length
// and two bytes of structure padding that need not be zero.
#pragma once

class Reporter;

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/saves/ngf.h"

// The most records any emulator writes.
constexpr int SAVE_MAX_RECORDS = 256;
constexpr uint32_t CART_MAX_BYTES = 2 * CHIP_WINDOW;
// Every byte of the largest cartridge, spread over the most records: no file
// that could be programmed is longer.
constexpr uint32_t SAVE_MAX_FILE_LEN =
    NGF_HEADER_LEN + SAVE_MAX_RECORDS * NGF_BLOCK_HEADER_LEN + CART_MAX_BYTES;

enum class RecordLayout {
    LongLength,   // u32 address, u32 length: this tool's own files
    ShortLength,  // u32 address, u16 length, 2 bytes of padding
};

struct SaveRecord {
    uint32_t NGPCaddr;
    uint32_t blockLen;
    size_t dataAt;  // where its data starts in LoadedSave::body
};

struct LoadedSave {
    NgfHeader header{};
    RecordLayout layout = RecordLayout::LongLength;
    std::vector<uint8_t> body;  // the len - 8 bytes after the file header
    std::vector<SaveRecord> records;
};

// Reads the file from `f` as a stream, so a pipe loads like a regular file,
// and checks it: header, version, a len no programmable file exceeds (refused
// before anything is allocated or read), the len - 8 bytes present, the
// record count, and a record layout under which the records account exactly
// for len. Logs the refusal and returns false; path is used in the messages.
bool loadNgfFile(Reporter& r, FILE* f, const char* path, LoadedSave* out);

// The `count` records of `body` under one layout, if they account for its
// bytes exactly; never reads outside them.
bool recordsUnder(RecordLayout layout, const uint8_t* body, size_t bodyLen, int count,
                  std::vector<SaveRecord>* out);

// Whether the file at `path` reads as an NGF save: a regular file holding a
// header of this version and the len it names, whose records account for len
// under one of the layouts. Says nothing; a FIFO is not waited on.
bool readsAsNgfSave(const std::string& path);
