// What tests of the core and of the window share: bytes and files, the
// cartridge's contents, and the commands the linker received.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/saves/ngf.h"
#include "core/link/protocol.h"
#include "sim.h"
#include "support/identity_lines.h"

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

template <class T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What the transfer layer logs when a reply never comes or the linker is gone.
inline const Lines TIMED_OUT = {"", "Error: LIBUSB_ERROR_TIMEOUT", "Operation timed out."};
inline const Lines GONE = {"", "Error: LIBUSB_ERROR_NO_DEVICE", "No such device (it may have been disconnected)."};
// What the window says once a job that met a vanished linker has ended.
inline const Lines GONE_NOTICE = {"The linker is gone. Plug it in again."};

inline Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Bytes unlike anything a cartridge or an erased chip holds at that spot.
inline Bytes pattern(size_t size, uint32_t seed = 12345)
{
    Bytes b(size);
    uint32_t s = seed * 0x9E3779B9u + 0x7F4A7C15u;
    for (auto& x : b) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        x = uint8_t(s >> 24);
    }
    return b;
}

inline Bytes slice(const Bytes& b, size_t from, size_t length)
{
    return Bytes(b.begin() + from, b.begin() + from + length);
}

inline Bytes chipBytes(int chip, uint32_t from, uint32_t length)
{
    return slice(sim::chip(chip).contents(), from, length);
}

inline bool allErased(int chip, uint32_t from, uint32_t length)
{
    return chipBytes(chip, from, length) == Bytes(length, 0xFF);
}

// An NGF file of these records: console address and data.
inline Bytes ngfFile(const std::vector<std::pair<uint32_t, Bytes>>& records)
{
    Bytes f(NGF_HEADER_LEN);
    for (const auto& [addr, data] : records) {
        uint8_t head[NGF_BLOCK_HEADER_LEN];
        putNgfBlockHeader(head, NgfBlockHeader{addr, uint32_t(data.size())});
        f.insert(f.end(), head, head + sizeof head);
        f.insert(f.end(), data.begin(), data.end());
    }
    putNgfHeader(f.data(), NgfHeader{NGF_VERSION, uint16_t(records.size()), uint32_t(f.size())});
    return f;
}

// An NGF save of exactly `size` bytes (8, or 16 and up): the vault lists a
// backup only if it is one.
inline Bytes saveOfSize(size_t size, uint32_t seed = 12345)
{
    return size > NGF_HEADER_LEN ? ngfFile({{0x200000, pattern(size - 16, seed)}}) : ngfFile({});
}

// The lines Write Savegame ends with once it has made a safety copy, naming
// the copy written last under $XDG_DATA_HOME (the fixtures point it into the
// test's scratch folder); a name no copy has when there is none.
inline Lines safetyCopyLines()
{
    namespace fs = std::filesystem;
    fs::path newest = "<no safety copy>";
    fs::file_time_type newestTime = fs::file_time_type::min();
    std::error_code ec;
    const char* data = getenv("XDG_DATA_HOME");
    for (const auto& game : fs::directory_iterator(std::string(data ? data : "") + "/pockettetherbox/saves", ec))
        for (const auto& copy : fs::directory_iterator(game.path(), ec))
            if (copy.last_write_time(ec) >= newestTime) {
                newestTime = copy.last_write_time(ec);
                newest = copy.path();
            }
    return {"Safety copy of the blocks this write erases:", "'" + newest.string() + "'"};
}

// Log lines written as one text, '|' between them.
inline Lines rows(const std::string& text)
{
    Lines out(1);
    for (char c : text)
        if (c == '|')
            out.emplace_back();
        else
            out.back() += c;
    return out;
}

// After a stop that changed blocks, the window's way back: the copy line,
// then what to do with it.
inline Lines undoLines()
{
    return safetyCopyLines() + Lines{"Writing that copy back restores those blocks."};
}

// A command as the linker received it; a flash_write64xN carries the data
// packets that followed it.
struct Command {
    uint8_t code, chip, turbo, value;
    uint32_t addr;
    int count;  // packets of a read64xN or flash_write64xN, length of a flash_write_N
    Bytes data;
};

inline std::vector<Command> only(const std::vector<Command>& cmds, uint8_t code)
{
    std::vector<Command> out;
    for (const Command& c : cmds)
        if (c.code == code)
            out.push_back(c);
    return out;
}

// The commands since `m`, or only those of `code` if given.
inline std::vector<Command> commandsSince(sim::Mark m, uint8_t code = 0)
{
    std::vector<Command> out;
    int packetsOwed = 0;
    for (const sim::Transfer& t : sim::transfersSince(m)) {
        if (t.in() || t.result != 0 || t.bytes.size() != size_t(MSG_LEN))
            continue;
        const uint8_t* b = t.bytes.data();
        if (packetsOwed > 0) {
            out.back().data.insert(out.back().data.end(), b, b + MSG_LEN);
            packetsOwed--;
            continue;
        }
        Command c{b[MSG_CODE], b[MSG_CHIP], b[MSG_TURBO], b[MSG_VALUE],
                  uint32_t(b[MSG_ADDR]) << 16 | uint32_t(b[MSG_ADDR + 1]) << 8 | b[MSG_ADDR + 2], 0, {}};
        if (c.code == CMD_FLASH_WRITE64XN)
            c.count = packetsOwed = b[MSG_COUNT];
        if (c.code == CMD_READ64XN)
            c.count = b[MSG_COUNT];
        if (c.code == CMD_FLASH_WRITE_32)
            c.data.assign(b + MSG_DATA, b + MSG_DATA + MSG_DATA_LEN);
        if (c.code == CMD_FLASH_WRITE_N) {
            c.count = b[MSG_LENGTH];
            c.data.assign(b + MSG_DATA, b + MSG_DATA + c.count);
        }
        out.push_back(c);
    }
    return code ? only(out, code) : out;
}

// A file-size limit on the whole process, as a full disk would impose one;
// the limit and the signal's disposition are put back whatever the outcome.
struct FileSizeLimit {
    rlimit saved;
    struct sigaction savedAction;
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &savedAction);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        sigaction(SIGXFSZ, &savedAction, nullptr);
    }
};

// Lines as a job logged them; "{s}" in a wanted line stands for a whole
// number of seconds.
inline ::testing::AssertionResult linesAre(const Lines& got, const Lines& want)
{
    bool same = got.size() == want.size();
    for (size_t i = 0; same && i < want.size(); i++) {
        size_t hash = want[i].find("{s}");
        if (hash == std::string::npos) {
            same = got[i] == want[i];
            continue;
        }
        std::string head = want[i].substr(0, hash), tail = want[i].substr(hash + 3);
        same = got[i].size() > head.size() + tail.size() && !got[i].compare(0, head.size(), head) &&
               !got[i].compare(got[i].size() - tail.size(), tail.size(), tail) &&
               got[i].find_first_not_of("0123456789", head.size()) == got[i].size() - tail.size();
    }
    if (same)
        return ::testing::AssertionSuccess();
    auto show = [](const Lines& lines) {
        std::string s;
        for (const auto& l : lines)
            s += "  [" + l + "]\n";
        return s;
    };
    return ::testing::AssertionFailure() << "log:\n" << show(got) << "wanted:\n" << show(want);
}

// The last lines of `got` are `want`.
inline ::testing::AssertionResult linesEndWith(const Lines& got, const Lines& want)
{
    if (got.size() < want.size())
        return linesAre(got, want);
    return linesAre(Lines(got.end() - long(want.size()), got.end()), want);
}

// A job's own lines: what it logged before the image's identity, which the
// ROM jobs append after their last line (the window shows its CRC32 first).
inline Lines beforeIdentity(const Lines& lines)
{
    Lines out;
    for (const std::string& l : lines) {
        if (l.rfind("Identity of '", 0) == 0 || l.rfind("CRC32 ", 0) == 0)
            break;
        out.push_back(l);
    }
    return out;
}

