// What the ROM jobs say about the image they streamed, after their last line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/identity/identity.h"
#include "core/report.h"

// The save area of a scanned cartridge: its unprotected blocks, by
// cartridge address. None when no block is protected (a flash cartridge,
// which would read as wholly erased) or none is unprotected.
struct Cart;
std::vector<ByteRange> saveAreaRanges(const Cart& cart);

void logLines(Reporter& r, const std::vector<std::string>& lines);

// The header at the start of a ROM file; false when the file cannot be read
// (a file shorter than a header reads as one without licence text).
bool readFileHeader(const std::string& path, CartHeader* header);

// What a job says beside an image's identity: its own notes before it
// (what did not fit) and a warning after it.
struct ImageNotes {
    std::vector<std::string> before;
    std::vector<std::string> warning;
};

// Ends the stream and logs its identity, header and verdict, with the job's
// other notes, as the job's notes: whole in the log file and on the command
// line, while the window keeps the CRC32, the verdict, and a word of the
// warning or else the first note before. The reporter is handed the same as
// a report.
ImageReport logImageIdentity(Reporter& r, const char* name, ImageHasher& hasher, const KnownDumps& known,
                             const SaveAreaTry& area = {}, const ImageNotes& notes = {},
                             const ReadCheck& read = {});

// Hashes the rest of the file from where the job's reading stopped, then
// logs as above. False when the file could not be read to its end (said in
// a line).
bool logFileIdentity(Reporter& r, FILE* file, const char* name, ImageHasher& hasher, const KnownDumps& known,
                     ImageReport* report = nullptr);

// The file name a known dump's list entry gives it, when it is fit to be
// one here; empty otherwise, with `why` set when the list's name was unfit.
// A dump known only once its save area reads as erased is not the entry's
// file: with `played` it gets the name with " (save)" before the extension,
// else none, and `why` says so.
std::string listFileName(const ImageReport& report, std::string* why, bool played = true);

// Renames the file at `path` to `name` in its folder, never over a file
// already there; a line says which, and `renamedTo` gets the new path.
bool renameInFolder(Reporter& r, const std::string& path, const std::string& name, std::string* renamedTo = nullptr);

// Renames a known dump in its folder to its list entry's file name, never
// over an existing file; a line says what was done or why not, and
// `renamedTo` gets the new path. A played dump is renamed only when
// `played`. False when a known dump kept its name for a fault: the name
// refused, taken, or the rename failed.
bool renameAfterEntry(const std::string& path, const ImageReport& report, Reporter& r, std::string* renamedTo,
                      bool played = false);

// The notes on lists left out, said once for a run of many images, before
// the first; the verdicts then leave them out.
void logListNotes(KnownDumps& known, Reporter& r);

// The files given, each once: a path naming a file given before (the same
// path, or another way to it) is left out with a line.
std::vector<std::string> distinctFiles(const std::vector<std::string>& paths, Reporter& r);
