// The preservation groups' lists of verified dumps (Logiqx XML "DAT" files),
// read from one folder the user fills, as the groups publish them: plain,
// zipped or gzipped, in subfolders as ROM managers keep them. The program
// ships none.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/identity/digest.h"

// A list bigger than this is no cartridge list; the job goes on without it.
// A zip or gzip member is held to the same size once unpacked.
constexpr uint64_t MAX_LIST_BYTES = 32u << 20;

struct DumpEntry {
    std::string game;
    std::string romName;  // the file name the list gives the dump; untrusted
    std::string status;   // "baddump", "verified", ...; empty when the list gives none
    std::string serial;   // as the list writes it; may be empty
    size_t list = 0;      // index into KnownDumps::lists
    uint64_t size = 0;
    uint32_t crc32 = 0;
    bool hasSha1 = false;
    std::array<uint8_t, 20> sha1{};

    bool bad() const { return status == "baddump"; }
};

struct KnownDumps {
    std::string dir;
    // The lists read, each by its header's name (its file's when it has
    // none) and the version it gives: "SNK - Neo Geo Pocket Color (20240101-000000)".
    std::vector<std::string> lists;
    std::vector<DumpEntry> entries;
    std::vector<std::string> notes;  // one log line per list left out or cut short
    // Lists and folders the system would not let be read: they may know a
    // dump the rest do not, so no miss is claimed while there are any.
    size_t unread = 0;
    // Set when the folder setting itself is unusable (a file, unreadable):
    // said once, in place of the verdict.
    std::string folderProblem;

    // Equal size and CRC32 and, where the list gives one, SHA-1.
    const DumpEntry* find(const MatchKey& key) const;
    // The same CRC32 at another size.
    const DumpEntry* findCrcOtherSize(const MatchKey& key) const;
    // The same size and CRC32 where the list's SHA-1 differs.
    const DumpEntry* findOtherSha1(const MatchKey& key) const;
    // An entry whose serial is the header's (compared without case), of
    // this size when one is; of another size only when `otherSize`.
    const DumpEntry* findSerial(const std::string& serial, uint64_t size, bool otherSize) const;
};

// Whether a list's serial names the header's software ID ("0061"): the
// same, or after the maker's letters ("NEOP0061").
bool sameSerial(const std::string& listed, const std::string& header);

// $PTB_DAT_DIR, else $XDG_DATA_HOME/pockettetherbox/dat, else
// ~/.local/share/pockettetherbox/dat.
std::string knownDumpDir();

// Every list under `dir` and its subfolders (*.dat, *.xml, *.dat.gz,
// *.xml.gz, and those inside *.zip), in path order. When two files hold
// versions of one list (the same header name), only the newest is kept.
// Never fails: what cannot be read is left out with a note.
KnownDumps loadKnownDumps(const std::string& dir);

// Orders list versions as the groups write them ("20240101-000000",
// "1.10"): runs of digits by value, the rest by byte. <0, 0, >0.
int compareVersions(const std::string& a, const std::string& b);

// A file name from a list, fit to be one here: no path separator, not "..",
// no control byte (a NUL included), not empty nor only dots and blanks.
// Empty when it is not; `why` says so.
std::string safeFileName(const std::string& fromList, std::string* why);
