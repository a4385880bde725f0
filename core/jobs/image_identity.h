// What the ROM jobs say about the image they streamed, after their last line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/identity/identity.h"

// The save area of the cartridge as last scanned (G_prot): its unprotected
// blocks, by cartridge address. None when no block is protected (a flash
// cartridge, which would read as wholly erased) or none is unprotected.
std::vector<ByteRange> saveAreaRanges();

void logLines(const std::vector<std::string>& lines);

// A finished image's identity, header and verdict, then any warning, as the
// job's notes: whole in the log file and on the command line, while the
// window shows the CRC32, the verdict and a word of the warning.
void logImageNotes(const std::string& name, const ImageHasher& hasher, const KnownDumps& known,
                   const std::vector<std::string>& warning = {});

// The header at the start of a ROM file; false when the file cannot be read
// (a file shorter than a header reads as one without licence text).
bool readFileHeader(const std::string& path, CartHeader* header);

// Hashes the rest of the file from where the job's reading stopped, then
// logs its identity, header and verdict (logImageNotes). False when the file
// could not be read to its end (said in a line).
bool logFileIdentity(FILE* file, const char* name, ImageHasher& hasher, const KnownDumps& known,
                     const std::vector<std::string>& warning = {});
