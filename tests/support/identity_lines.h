// What a job that ended done logs after its last line about an image, as
// tests of every face expect it.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/identity/identity.h"

// The image at `path` taken from the whole file at once: its identity and
// header, then the verdict of the lists where the test's home keeps them. A
// flash adds the warning a file without licence text brings.
inline std::vector<std::string> identityOf(const std::string& path, bool flashed = false)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ImageHasher hasher;
    hasher.update(image.data(), image.size());
    hasher.finish();
    std::string name = path.substr(path.find_last_of('/') + 1);
    std::vector<std::string> lines = imageLines(name, hasher, loadKnownDumps(knownDumpDir()));
    if (flashed)
        for (std::string& line : licenceWarningLines(name, decodeHeader(image.data(), image.size())))
            lines.push_back(line);
    return lines;
}
