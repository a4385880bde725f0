// Helpers shared by the save-game job tests: NGF files built byte by byte,
// files on disk, and the linker commands the job sent, decoded.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "link/protocol.h"
#include "ops/ngf.h"
#include "sim.h"

namespace ngftest {

using Record = std::pair<uint32_t, std::vector<uint8_t>>;  // NGPCaddr, data

inline std::vector<uint8_t> ngfFile(const std::vector<Record>& records)
{
    std::vector<uint8_t> f(NGF_HEADER_LEN);
    for (const auto& r : records) {
        uint8_t head[NGF_BLOCK_HEADER_LEN];
        putNgfBlockHeader(head, NgfBlockHeader{r.first, uint32_t(r.second.size())});
        f.insert(f.end(), head, head + sizeof head);
        f.insert(f.end(), r.second.begin(), r.second.end());
    }
    putNgfHeader(f.data(), NgfHeader{NGF_VERSION, uint16_t(records.size()), uint32_t(f.size())});
    return f;
}

// Bytes unlike anything a cartridge or an erased chip holds at that spot.
inline std::vector<uint8_t> pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = uint8_t(seed + i * 7 + (i >> 8));
    return v;
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline bool fileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

inline std::vector<uint8_t> chipBytes(int chip, uint32_t addr, uint32_t len)
{
    const auto& c = sim::chip(chip).contents();
    return std::vector<uint8_t>(c.begin() + addr, c.begin() + addr + len);
}

// One command message the program sent to the linker.
struct Command {
    uint8_t code;
    uint32_t addr;
    uint8_t value, chip, count, turbo;
    std::vector<uint8_t> data;  // the 32 data bytes of a flash write
};

inline std::vector<Command> commandsSince(sim::Mark m, uint8_t code)
{
    std::vector<Command> out;
    for (const auto& t : sim::transfersSince(m)) {
        if (t.endpoint != 0x02 || t.bytes.size() != size_t(MSG_LEN) || t.bytes[MSG_CODE] != code)
            continue;
        const auto& b = t.bytes;
        Command c;
        c.code = b[MSG_CODE];
        c.addr = uint32_t(b[MSG_ADDR]) << 16 | uint32_t(b[MSG_ADDR + 1]) << 8 | b[MSG_ADDR + 2];
        c.value = b[MSG_VALUE];
        c.chip = b[MSG_CHIP];
        c.count = b[MSG_COUNT];
        c.turbo = b[MSG_TURBO];
        c.data.assign(b.begin() + MSG_DATA, b.begin() + MSG_DATA + MSG_DATA_LEN);
        out.push_back(c);
    }
    return out;
}

}  // namespace ngftest
