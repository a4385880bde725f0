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
// With `brief`, what the window shows of them: the CRC32, the verdict, and
// a word of the warning.
inline std::vector<std::string> identityOf(const std::string& path, bool flashed = false, bool brief = false)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ImageHasher hasher;
    hasher.update(image.data(), image.size());
    hasher.finish();
    std::string name = path.substr(path.find_last_of('/') + 1);
    std::vector<std::string> lines = imageLines(name, hasher, loadKnownDumps(knownDumpDir()));
    std::vector<std::string> warning;
    if (flashed)
        warning = licenceWarningLines(name, decodeHeader(image.data(), image.size()));
    if (brief) {
        char crc[16];
        snprintf(crc, sizeof crc, "%08x", unsigned(hasher.digests().crc32));
        lines = {"CRC32 " + std::string(crc) + " of '" + name + "'", lines.back()};
        if (!warning.empty())
            lines.push_back("No licence text: the console will refuse it.");
        return lines;
    }
    lines.insert(lines.end(), warning.begin(), warning.end());
    return lines;
}

// What the window's log shows of an image after a job's last line.
inline std::vector<std::string> windowIdentityOf(const std::string& path, bool flashed = false)
{
    return identityOf(path, flashed, true);
}
