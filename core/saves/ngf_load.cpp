#include "core/saves/ngf_load.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <new>

#include "core/report.h"

static const size_t READ_CHUNK = 0x10000;

bool recordsUnder(RecordLayout layout, const uint8_t* body, size_t bodyLen, int count,
                  std::vector<SaveRecord>* out)
{
    out->clear();
    size_t at = 0;
    for (int i = 0; i < count; i++) {
        if (bodyLen - at < NGF_BLOCK_HEADER_LEN)
            return false;
        NgfBlockHeader head = getNgfBlockHeader(body + at);
        // Little-endian: the u16 length is the low half of where the u32 one
        // would be, and the padding its high half.
        if (layout == RecordLayout::ShortLength)
            head.blockLen &= 0xFFFF;
        at += NGF_BLOCK_HEADER_LEN;
        if (bodyLen - at < head.blockLen)
            return false;
        out->push_back(SaveRecord{head.NGPCaddr, head.blockLen, at});
        at += head.blockLen;
    }
    return at == bodyLen;
}

static bool sameRecords(const std::vector<SaveRecord>& a, const std::vector<SaveRecord>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (a[i].NGPCaddr != b[i].NGPCaddr || a[i].blockLen != b[i].blockLen)
            return false;
    return true;
}

// The layout under which the records account for len. Both do when every
// padding is zero, and then they read alike; should both fit yet read
// differently, guessing could program the wrong bytes, so neither is taken.
static bool pickLayout(Reporter& r, const char* path, LoadedSave* save)
{
    std::vector<SaveRecord> longRecs, shortRecs;
    const uint8_t* body = save->body.data();
    size_t bodyLen = save->body.size();
    int count = save->header.numBlocks;
    bool longFits = recordsUnder(RecordLayout::LongLength, body, bodyLen, count, &longRecs);
    bool shortFits = recordsUnder(RecordLayout::ShortLength, body, bodyLen, count, &shortRecs);
    if (longFits && shortFits && !sameRecords(longRecs, shortRecs)) {
        printWindow(r, "Bad NGF file '%s':", path);
        printWindow(r, "its %d records add up to len=0x%X", count, save->header.len);
        printWindow(r, "under both record header layouts,");
        printWindow(r, "and read differently under each.");
        return false;
    }
    if (!longFits && !shortFits) {
        printWindow(r, "Bad NGF file '%s':", path);
        printWindow(r, "its %d records do not add up to len=0x%X", count, save->header.len);
        printWindow(r, "under either record header layout.");
        return false;
    }
    save->layout = longFits ? RecordLayout::LongLength : RecordLayout::ShortLength;
    save->records = longFits ? std::move(longRecs) : std::move(shortRecs);
    return true;
}

bool loadNgfFile(Reporter& r, FILE* f, const char* path, LoadedSave* out)
{
    uint8_t head[NGF_HEADER_LEN];
    size_t got = fread(head, 1, sizeof head, f);
    if (!ngfCheckHeader(r, head, got, path, &out->header))
        return false;
    const NgfHeader& h = out->header;
    if (h.len > SAVE_MAX_FILE_LEN) {
        printWindow(r, "Bad NGF file '%s':", path);
        printWindow(r, "len=0x%X is more than a save can hold", h.len);
        printWindow(r, "(at most 0x%X).", SAVE_MAX_FILE_LEN);
        return false;
    }

    // Read a chunk at a time, so that a file cut short costs only the bytes
    // it holds; whatever follows len is not part of the file and stays unread.
    size_t wanted = h.len - NGF_HEADER_LEN;
    got = 0;
    try {
        while (got < wanted) {
            size_t ask = std::min<size_t>(wanted - got, READ_CHUNK);
            out->body.resize(got + ask);
            size_t n = fread(out->body.data() + got, 1, ask, f);
            got += n;
            if (n < ask)
                break;
        }
    } catch (const std::bad_alloc&) {
        printWindow(r, "restoreSaveGameToCart: can't malloc %d bytes", int(wanted));
        return false;
    }
    return ngfCheckBody(r, h, got, SAVE_MAX_RECORDS) && pickLayout(r, path, out);
}

bool readsAsNgfSave(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st;
    uint8_t head[NGF_HEADER_LEN];
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              pread(fd, head, sizeof head, 0) == ssize_t(sizeof head);
    NgfHeader h = getNgfHeader(head);
    ok = ok && h.version == NGF_VERSION && h.len >= NGF_HEADER_LEN && h.len <= SAVE_MAX_FILE_LEN &&
         uint64_t(st.st_size) >= h.len && h.numBlocks <= SAVE_MAX_RECORDS;
    std::vector<uint8_t> body(ok ? h.len - NGF_HEADER_LEN : 0);
    ok = ok && pread(fd, body.data(), body.size(), NGF_HEADER_LEN) == ssize_t(body.size());
    close(fd);
    std::vector<SaveRecord> records;
    return ok && (recordsUnder(RecordLayout::LongLength, body.data(), body.size(), h.numBlocks, &records) ||
                  recordsUnder(RecordLayout::ShortLength, body.data(), body.size(), h.numBlocks, &records));
}
