#include "core/identity/identity.h"

static std::vector<std::string> checksumLines(const std::string& name, bool ok, const Digests& d)
{
    const std::string title = "Identity of '" + printable(name, true) + "'";
    if (!ok)
        return {title + ": checksums could not be taken."};
    char crc[16];
    snprintf(crc, sizeof crc, "%08x", unsigned(d.crc32));
    return {title + ":",
            "  Size     = " + std::to_string(d.size) + " bytes",
            std::string("  CRC32    = ") + crc,
            "  MD5      = " + toHex(d.md5),
            "  SHA-1    = " + toHex(d.sha1),
            "  SHA-256  = " + toHex(d.sha256)};
}

std::vector<std::string> identityLines(const std::string& name, const ImageHasher& hasher)
{
    return checksumLines(name, hasher.ok(), hasher.digests());
}

std::vector<ByteRange> usualSaveArea(uint64_t imageSize, std::string* said)
{
    const uint64_t CHIP_16MBIT = 0x200000, BLOCK = 0x2000, FROM_TOP = 0x6000;
    auto hex = [](uint64_t at) {
        char text[16];
        snprintf(text, sizeof text, "0x%llX", (unsigned long long)at);
        return std::string(text);
    };
    std::vector<ByteRange> area;
    if (imageSize == 0x80000 || imageSize == 0x100000 || imageSize == CHIP_16MBIT)
        area = {{imageSize - FROM_TOP, BLOCK}};
    else if (imageSize == 2 * CHIP_16MBIT || imageSize == CHIP_16MBIT + CHIP_16MBIT / 2)
        area = {{CHIP_16MBIT - FROM_TOP, BLOCK}, {imageSize - FROM_TOP, BLOCK}};
    if (area.empty())
        said->clear();
    else if (area.size() == 1)
        *said = "8 KB at " + hex(area[0].start);
    else
        *said = "8 KB at " + hex(area[0].start) + " and at " + hex(area[1].start);
    return area;
}

Verdict judge(const KnownDumps& known, const MatchKey& exact, const MatchKey* erased,
              const std::string& serial)
{
    if (known.lists.empty() && !known.unread)
        return {VerdictKind::NoLists, nullptr};
    if (const DumpEntry* e = known.find(exact))
        return {VerdictKind::Known, e};
    if (const DumpEntry* e = erased ? known.find(*erased) : nullptr)
        return {VerdictKind::KnownOnceErased, e};
    if (const DumpEntry* e = known.findOtherSha1(exact))
        return {VerdictKind::OtherSha1, e};
    if (const DumpEntry* e = known.findCrcOtherSize(exact))
        return {VerdictKind::CrcOtherSize, e};
    if (const DumpEntry* e = known.findSerial(serial, exact.size, false))
        return {VerdictKind::SameSerial, e};
    // A list that was not read may know it: that is no miss.
    if (known.unread)
        return {VerdictKind::NotInListsRead, nullptr};
    // A serial alone is no kinship: homebrew reuses them, and a game of
    // another size is another game or a cut file.
    if (const DumpEntry* e = known.findSerial(serial, exact.size, true))
        return {VerdictKind::SerialOtherSize, e};
    return {VerdictKind::NotInLists, nullptr};
}

static std::string dumpName(const KnownDumps& known, const DumpEntry& e)
{
    return "'" + printable(e.game, true) + "' in '" + printable(known.lists[e.list], true) + "'";
}

static std::string entries(const KnownDumps& known)
{
    return std::to_string(known.entries.size()) + (known.entries.size() == 1 ? " entry" : " entries");
}

static std::string notInLists(const KnownDumps& known)
{
    return "Not in the known-dump lists (" + entries(known) + ")";
}

// "Known dump" or "Known bad dump", and the entry with any other status.
static std::string knownLine(const KnownDumps& known, const DumpEntry& e, const std::string& how)
{
    std::string status = e.status.empty() || e.bad() ? "" : " (status: " + printable(e.status) + ")";
    return std::string(e.bad() ? "Known bad dump" : "Known dump") + how + ": " + dumpName(known, e) +
           status + ".";
}

static const std::string LISTS_HINT = "No known-dump lists: put Logiqx .dat files in '";

bool isListsHint(const std::string& line)
{
    return line.compare(0, LISTS_HINT.size(), LISTS_HINT) == 0;
}

std::vector<std::string> verdictLines(const KnownDumps& known, const Verdict& v, const SaveAreaTry& area)
{
    std::vector<std::string> lines = known.notes;
    const DumpEntry* e = v.entry;
    switch (v.kind) {
    case VerdictKind::NoLists:
        lines.push_back(known.folderProblem.empty()
                            ? LISTS_HINT + printable(known.dir, true) + "'."
                            : "No known-dump lists: " + known.folderProblem + ".");
        break;
    case VerdictKind::Known:
        lines.push_back(knownLine(known, *e, ""));
        break;
    case VerdictKind::KnownOnceErased:
        lines.push_back(knownLine(known, *e,
                                  area.assumed.empty()
                                      ? " once the save area reads as erased"
                                      : " once the usual save area (" + area.assumed + ") reads as erased"));
        break;
    case VerdictKind::OtherSha1:
        lines.push_back("Near a known dump: " + dumpName(known, *e) +
                        " has this size and CRC32 but another SHA-1.");
        break;
    case VerdictKind::CrcOtherSize:
        lines.push_back("Near a known dump: " + dumpName(known, *e) + " has this CRC32 at " +
                        std::to_string(e->size) + " bytes.");
        break;
    case VerdictKind::SameSerial:
        lines.push_back("Near a known dump: " + dumpName(known, *e) +
                        " has this serial with other bytes (another revision, a hack or a changed save).");
        break;
    case VerdictKind::NotInLists:
        lines.push_back(notInLists(known) + ".");
        break;
    case VerdictKind::SerialOtherSize:
        lines.push_back(notInLists(known) + "; " + dumpName(known, *e) + " has this serial at " +
                        std::to_string(e->size) + " bytes.");
        break;
    case VerdictKind::NotInListsRead:
        lines.push_back("Not in the known-dump lists read (" + entries(known) + "); " +
                        std::to_string(known.unread) + " more could not be read.");
        break;
    }
    if (area.scanFailed && v.kind != VerdictKind::Known && v.kind != VerdictKind::NoLists)
        lines.push_back("Save-area match not tried: no protection map.");
    return lines;
}

std::vector<std::string> verdictLines(const KnownDumps& known, const MatchKey& exact,
                                      const MatchKey* erased)
{
    return verdictLines(known, judge(known, exact, erased, ""));
}

ImageReport describeImage(const std::string& name, const ImageHasher& hasher, const KnownDumps& known,
                        const SaveAreaTry& area)
{
    ImageReport r;
    r.name = name;
    r.digestsOk = hasher.ok();
    r.digests = hasher.digests();
    r.header = decodeHeader(hasher.head().data(), hasher.head().size());
    r.area = area;
    if (r.digestsOk)
        r.verdict = judge(known, matchKeyOf(r.digests), hasher.hasErasedKey() ? &hasher.erasedKey() : nullptr,
                          r.header.serial);
    if (r.verdict.entry)
        r.list = known.lists[r.verdict.entry->list];
    return r;
}

std::vector<std::string> reportLines(const ImageReport& r, const KnownDumps& known)
{
    std::vector<std::string> lines = checksumLines(r.name, r.digestsOk, r.digests);
    const DumpEntry* e = r.verdict.entry;
    for (std::string& l : headerLines(r.header)) {
        // The entry's serial beside the header's, so a mismatch shows.
        if (e && !e->serial.empty() && l.rfind("  Serial   = ", 0) == 0)
            l += " (list: " + printable(e->serial, true) +
                 (sameSerial(e->serial, r.header.serial) ? ")" : ", differs)");
        lines.push_back(std::move(l));
    }
    // Checksums that failed match nothing, and saying "not in the lists"
    // would pass a guess off as a finding.
    if (!r.digestsOk)
        return lines;
    for (std::string& l : verdictLines(known, r.verdict, r.area))
        lines.push_back(std::move(l));
    return lines;
}

std::vector<std::string> imageLines(const std::string& name, const ImageHasher& hasher,
                                    const KnownDumps& known, const SaveAreaTry& area)
{
    return reportLines(describeImage(name, hasher, known, area), known);
}

std::vector<std::string> licenceWarningLines(const std::string& name, const CartHeader& header)
{
    if (header.licensed)
        return {};
    return {"", "Warning! '" + printable(name, true) + "' has no valid licence text:",
            "the console will refuse to start it.", ""};
}

bool hashRestOfFile(FILE* file, ImageHasher& hasher)
{
    uint8_t buf[8192];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, file)) > 0)
        hasher.update(buf, n);
    return !ferror(file);
}
