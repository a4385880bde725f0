#include "core/identity/identity.h"

std::vector<std::string> identityLines(const std::string& name, const ImageHasher& hasher)
{
    const std::string title = "Identity of '" + printable(name, true) + "'";
    if (!hasher.ok())
        return {title + ": checksums could not be taken."};
    const Digests& d = hasher.digests();
    char crc[16];
    snprintf(crc, sizeof crc, "%08x", unsigned(d.crc32));
    return {title + ":",
            "  Size     = " + std::to_string(d.size) + " bytes",
            std::string("  CRC32    = ") + crc,
            "  MD5      = " + toHex(d.md5),
            "  SHA-1    = " + toHex(d.sha1),
            "  SHA-256  = " + toHex(d.sha256)};
}

static std::string dumpName(const KnownDumps& known, const DumpEntry& e)
{
    return "'" + printable(e.game, true) + "' in '" + printable(known.lists[e.list], true) + "'";
}

std::vector<std::string> verdictLines(const KnownDumps& known, const MatchKey& exact,
                                      const MatchKey* erased)
{
    std::vector<std::string> lines = known.notes;
    if (known.lists.empty()) {
        lines.push_back("No known-dump lists: put Logiqx .dat files in '" +
                        printable(known.dir, true) + "'.");
    } else if (const DumpEntry* e = known.find(exact)) {
        lines.push_back("Known dump: " + dumpName(known, *e) + ".");
    } else if (const DumpEntry* s = erased ? known.find(*erased) : nullptr) {
        lines.push_back("Known dump once the save area reads as erased: " + dumpName(known, *s) +
                        ".");
    } else {
        lines.push_back("Not in the known-dump lists (" + std::to_string(known.entries.size()) +
                        " entries read).");
    }
    return lines;
}

std::vector<std::string> imageLines(const std::string& name, const ImageHasher& hasher,
                                    const KnownDumps& known)
{
    std::vector<std::string> lines = identityLines(name, hasher);
    for (std::string& l : headerLines(decodeHeader(hasher.head().data(), hasher.head().size())))
        lines.push_back(std::move(l));
    // Checksums that failed match nothing, and saying "not in the lists"
    // would pass a guess off as a finding.
    if (!hasher.ok())
        return lines;
    MatchKey exact = matchKeyOf(hasher.digests());
    const MatchKey* erased = hasher.hasErasedKey() ? &hasher.erasedKey() : nullptr;
    for (std::string& l : verdictLines(known, exact, erased))
        lines.push_back(std::move(l));
    return lines;
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
