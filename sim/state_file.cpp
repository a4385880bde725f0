// The cartridge kept between runs of the simulated program: which cartridge,
// each chip's identification bytes and protection, and its contents. The
// file is written beside its final name and renamed over it, so a run that
// dies half-way leaves the previous cartridge intact.
#include "sim.h"
#include "sim_internal.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace sim {

namespace {

const char kMagic[8] = {'P', 'T', 'B', 'S', 'I', 'M', '1', '\n'};
const char kTrailer[4] = {'E', 'N', 'D', '\n'};

void putU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct Reader {
    const std::vector<uint8_t>& data;
    size_t pos = 0;
    bool ok = true;

    bool take(void* dst, size_t n)
    {
        if (!ok || data.size() - pos < n)
            return ok = false;
        memcpy(dst, data.data() + pos, n);
        pos += n;
        return true;
    }
    uint8_t u8()
    {
        uint8_t v = 0;
        take(&v, 1);
        return v;
    }
    uint32_t u32()
    {
        uint8_t b[4] = {};
        take(b, 4);
        return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
    }
};

bool readFile(const std::string& path, std::vector<uint8_t>& out)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

}  // namespace

bool saveState(const std::string& path)
{
    std::vector<uint8_t> out(kMagic, kMagic + sizeof kMagic);
    const std::string name = cartName();
    out.push_back(static_cast<uint8_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
    for (int i = 0; i < 2; ++i) {
        FlashChip& c = chip(i);
        out.push_back(c.present() ? 1 : 0);
        if (!c.present())
            continue;
        out.push_back(c.manufacturer());
        out.push_back(c.device());
        out.push_back(c.factory());
        for (int b = 0; b < MAX_BLOCKS; ++b)
            out.push_back(c.blockProtected(b) ? 1 : 0);
        putU32(out, c.size());
        out.insert(out.end(), c.contents().begin(), c.contents().end());
    }
    out.insert(out.end(), kTrailer, kTrailer + sizeof kTrailer);

    const std::string tmp = path + ".tmp";
    FILE* f = fopen(tmp.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(out.data(), 1, out.size(), f) == out.size();
    ok = (fclose(f) == 0) && ok;
    if (ok)
        ok = rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok)
        remove(tmp.c_str());
    return ok;
}

bool loadState(const std::string& path)
{
    std::vector<uint8_t> data;
    if (!readFile(path, data))
        return false;
    Reader r{data};
    char magic[sizeof kMagic];
    if (!r.take(magic, sizeof magic) || memcmp(magic, kMagic, sizeof magic) != 0)
        return false;
    std::string name(r.u8(), '\0');
    r.take(&name[0], name.size());

    FlashChip chips[2];
    for (FlashChip& c : chips) {
        uint8_t present = r.u8();
        if (!r.ok || present > 1)
            return false;
        if (!present)
            continue;
        uint8_t manuf = r.u8(), device = r.u8(), factory = r.u8();
        c = FlashChip(manuf, device, factory);
        for (int b = 0; b < MAX_BLOCKS; ++b)
            c.setBlockProtected(b, r.u8() != 0);
        // The size is implied by the device byte; a file that disagrees was
        // not written by us (or not completely).
        if (r.u32() != c.size() || !r.take(c.contents().data(), c.size()))
            return false;
    }
    char trailer[sizeof kTrailer];
    if (!r.take(trailer, sizeof trailer) || memcmp(trailer, kTrailer, sizeof trailer) != 0 ||
        r.pos != data.size())
        return false;

    detail::replaceCartridge(name, chips);
    detail::markClean();
    return true;
}

}  // namespace sim
