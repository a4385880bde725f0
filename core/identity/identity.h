// What both faces say about an image: its checksums, its header and whether
// a known-dump list knows it. Lines are returned, not printed, so the window
// and the command line print the same text; scripts get the same as JSON.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/identity/digest.h"
#include "core/identity/header.h"
#include "core/identity/known_dumps.h"

// "Identity of 'name':" and the size and checksum lines; one line instead
// when the checksums could not be taken.
std::vector<std::string> identityLines(const std::string& name, const ImageHasher& hasher);

// How the save area was taken out for the second match.
struct SaveAreaTry {
    // Not empty: no cartridge told where it is, so the block official
    // cartridges leave unprotected was assumed ("8 KB at 0x1FA000").
    std::string assumed;
    // The cartridge's protection scan failed: the match was not tried.
    bool scanFailed = false;
};

// The block an official cartridge of this image's size keeps its save in:
// the second 8 KB parameter block at the top of each chip. None for a size
// no official cartridge has. `said` describes it for the verdict.
std::vector<ByteRange> usualSaveArea(uint64_t imageSize, std::string* said);

enum class VerdictKind {
    NoLists,           // nothing to match against
    Known,             // exact match
    KnownOnceErased,   // matches with the save area taken as erased
    OtherSha1,         // same size and CRC32, another SHA-1
    CrcOtherSize,      // same CRC32 at another size: a bad or overdumped file
    SameSerial,        // the header's serial and size, other bytes
    SerialOtherSize,   // not in the lists; an entry has the serial at another size
    NotInLists,
    NotInListsRead,    // not in the lists read, but some could not be read
};

struct Verdict {
    VerdictKind kind = VerdictKind::NoLists;
    const DumpEntry* entry = nullptr;  // into the KnownDumps judged against

    // A verified dump as it is (or once its save area is erased); the rest
    // is unknown, bad or near, which a script is told apart by exit status.
    bool trusted() const
    {
        return (kind == VerdictKind::Known || kind == VerdictKind::KnownOnceErased) && !entry->bad();
    }
};

// `erased` is null when no save area was taken out; `serial` is the
// header's, empty without one.
Verdict judge(const KnownDumps& known, const MatchKey& exact, const MatchKey* erased,
              const std::string& serial);

// The notes on lists left out, then the verdict's one line, and a line when
// the save-area match was not tried and would have mattered.
std::vector<std::string> verdictLines(const KnownDumps& known, const Verdict& verdict,
                                      const SaveAreaTry& area = {});
// Whether `line` is the verdict that says where known-dump lists go.
bool isListsHint(const std::string& line);
// The same for the keys alone, with no header.
std::vector<std::string> verdictLines(const KnownDumps& known, const MatchKey& exact,
                                      const MatchKey* erased);

// Everything said about one finished stream, for lines or for JSON.
// How an image was read from a cartridge: the passes, and each range the
// passes read differently, with the reads it took to agree
// ("0x012345-0x012345 (3 reads)"). No passes: not read from a cartridge.
struct ReadCheck {
    int passes = 0;
    std::vector<std::string> unstable;
};

struct ImageReport {
    std::string name;
    std::string list;  // the verdict's entry's list, by name and version
    bool digestsOk = false;
    Digests digests;
    CartHeader header;
    Verdict verdict;
    SaveAreaTry area;
    ReadCheck read;
};

ImageReport describeImage(const std::string& name, const ImageHasher& hasher, const KnownDumps& known,
                        const SaveAreaTry& area = {});
std::vector<std::string> reportLines(const ImageReport& report, const KnownDumps& known);

// Identity, header and verdict of a finished stream.
std::vector<std::string> imageLines(const std::string& name, const ImageHasher& hasher,
                                    const KnownDumps& known, const SaveAreaTry& area = {});

// Framed warning lines when the header has no licence text; none otherwise.
std::vector<std::string> licenceWarningLines(const std::string& name, const CartHeader& header);

// Hashes what is left of an open file from where its reader stopped, so the
// file is still read once in all. False on a read error.
bool hashRestOfFile(FILE* file, ImageHasher& hasher);
