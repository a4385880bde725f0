// What both faces say about an image: its checksums, its header and whether
// a known-dump list knows it. Lines are returned, not printed, so the window
// and the command line print the same text.
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

// The notes on lists left out, then one verdict: a known dump, a known dump
// once the save area reads as erased, not in the lists, or where to put them.
// `erased` is null when there is no save area to take out.
std::vector<std::string> verdictLines(const KnownDumps& known, const MatchKey& exact,
                                      const MatchKey* erased);

// Identity, header and verdict of a finished stream.
std::vector<std::string> imageLines(const std::string& name, const ImageHasher& hasher,
                                    const KnownDumps& known);

// Framed warning lines when the header has no licence text; none otherwise.
std::vector<std::string> licenceWarningLines(const std::string& name, const CartHeader& header);

// Hashes what is left of an open file from where its reader stopped, so the
// file is still read once in all. False on a read error.
bool hashRestOfFile(FILE* file, ImageHasher& hasher);
