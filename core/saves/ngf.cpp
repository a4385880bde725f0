#include "core/saves/ngf.h"
#include "core/report.h"


static void putLE16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

static void putLE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = uint8_t(v >> (8 * i));
}

static uint16_t getLE16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

static uint32_t getLE32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void putNgfHeader(uint8_t out[NGF_HEADER_LEN], const NgfHeader& h)
{
    putLE16(out, h.version);
    putLE16(out + 2, h.numBlocks);
    putLE32(out + 4, h.len);
}

NgfHeader getNgfHeader(const uint8_t in[NGF_HEADER_LEN])
{
    return NgfHeader{getLE16(in), getLE16(in + 2), getLE32(in + 4)};
}

void putNgfBlockHeader(uint8_t out[NGF_BLOCK_HEADER_LEN], const NgfBlockHeader& b)
{
    putLE32(out, b.NGPCaddr);
    putLE32(out + 4, b.blockLen);
}

NgfBlockHeader getNgfBlockHeader(const uint8_t in[NGF_BLOCK_HEADER_LEN])
{
    return NgfBlockHeader{getLE32(in), getLE32(in + 4)};
}

uint32_t consoleAddrFromCart(uint32_t cartAddr)
{
    uint32_t base = chipOf(cartAddr) ? CONSOLE_CHIP1_BASE : CONSOLE_CHIP0_BASE;
    return base + (cartAddr & CHIP_ADDR_MASK);
}

static bool inWindow(uint32_t addr, uint32_t base)
{
    return addr >= base && addr - base < CONSOLE_CHIP_SPAN;
}

bool cartAddrFromConsole(uint32_t NGPCaddr, uint32_t* cartAddr)
{
    if (inWindow(NGPCaddr, CONSOLE_CHIP0_BASE)) {
        *cartAddr = NGPCaddr - CONSOLE_CHIP0_BASE;
        return true;
    }
    if (inWindow(NGPCaddr, CONSOLE_CHIP1_BASE)) {
        *cartAddr = NGPCaddr - CONSOLE_CHIP1_BASE + CHIP_WINDOW;
        return true;
    }
    return false;
}

bool recordFitsItsChip(const NgfBlockHeader& b)
{
    uint32_t base = inWindow(b.NGPCaddr, CONSOLE_CHIP0_BASE) ? CONSOLE_CHIP0_BASE
                                                              : CONSOLE_CHIP1_BASE;
    if (!inWindow(b.NGPCaddr, base))
        return false;
    return uint64_t(b.NGPCaddr - base) + b.blockLen <= CONSOLE_CHIP_SPAN;
}

uint32_t ngfFileLen(const NgfBlockHeader* records, int count)
{
    uint32_t len = NGF_HEADER_LEN;
    for (int i = 0; i < count; i++)
        len += NGF_BLOCK_HEADER_LEN + records[i].blockLen;
    return len;
}

std::vector<uint8_t> ngfOfBlocks(const std::vector<CartBlock>& blocks, const std::vector<std::vector<uint8_t>>& bytes)
{
    std::vector<NgfBlockHeader> records;
    for (const CartBlock& b : blocks)
        records.push_back({consoleAddrFromCart(b.start), b.size});
    std::vector<uint8_t> ngf(NGF_HEADER_LEN);
    putNgfHeader(ngf.data(), NgfHeader{NGF_VERSION, uint16_t(records.size()),
                                       ngfFileLen(records.data(), int(records.size()))});
    for (size_t i = 0; i < records.size(); i++) {
        size_t at = ngf.size();
        ngf.resize(at + NGF_BLOCK_HEADER_LEN);
        putNgfBlockHeader(ngf.data() + at, records[i]);
        ngf.insert(ngf.end(), bytes[i].begin(), bytes[i].end());
    }
    return ngf;
}

bool ngfCheckHeader(Reporter& r, const uint8_t* bytes, size_t got, const char* path, NgfHeader* h)
{
    if (got < NGF_HEADER_LEN) {
        printWindow(r, "restoreSaveGameToCart: Bad NGF file '%s'", path);
        return false;
    }
    *h = getNgfHeader(bytes);
    if (h->version != NGF_VERSION) {
        printWindow(r, "restoreSaveGameToCart: Bad NGF file version '%s' 0x%X\n", path, h->version);
        return false;
    }
    if (h->len < NGF_HEADER_LEN) {
        printWindow(r, "Bad NGF file '%s':", path);
        printWindow(r, "len=0x%X is shorter than its header.", h->len);
        return false;
    }
    return true;
}

bool ngfCheckBody(Reporter& r, const NgfHeader& h, size_t got, int maxRecords)
{
    size_t wanted = h.len - NGF_HEADER_LEN;
    if (got < wanted) {
        printWindow(r, "restoreSaveGameToCart: read 0x%X, but exptected 0x%X bytes", unsigned(got),
                    unsigned(wanted));
        return false;
    }
    if (h.numBlocks > maxRecords) {
        printWindow(r, "restoreSaveGameToCart: numBlocks=%d overflow", h.numBlocks);
        return false;
    }
    return true;
}
