#include "core/jobs/image_identity.h"

#include <sys/stat.h>

#include <memory>

#include "core/cart/detect.h"
#include "core/cart/geometry.h"
#include "core/jobs/jobs.h"

std::vector<ByteRange> saveAreaRanges()
{
    std::vector<ByteRange> ranges;
    bool anyProtected = false;
    int blocks = getBootBlockStart() + 4;
    for (uint8_t chip = 0; chip < 2; chip++) {
        if (G_chipSize[chip] == 0)
            continue;
        for (int block = 0; block < blocks; block++) {
            if (G_prot[chip * BLOCKS_PER_CHIP + block] != 0) {
                anyProtected = true;
                continue;
            }
            ranges.push_back({blockNumToAddr(chip, uint8_t(block)), uint64_t(blockSize(uint8_t(block)))});
        }
    }
    if (!anyProtected)
        ranges.clear();
    return ranges;
}

void logLines(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        printWindow("%s", line.c_str());
}

bool readFileHeader(const std::string& path, CartHeader* header)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "rb"), fclose);
    uint8_t bytes[CART_HEADER_SIZE];
    size_t got = file ? fread(bytes, 1, sizeof bytes, file.get()) : 0;
    if (!file || ferror(file.get()))
        return false;
    *header = decodeHeader(bytes, got);
    return true;
}

ImageReport logImageIdentity(const char* name, ImageHasher& hasher, const KnownDumps& known,
                             const SaveAreaTry& area)
{
    hasher.finish();
    ImageReport report = describeImage(name, hasher, known, area);
    logLines(reportLines(report, known));
    reporter().identified(report);
    return report;
}

bool logFileIdentity(FILE* file, const char* name, ImageHasher& hasher, const KnownDumps& known,
                     ImageReport* report)
{
    if (!hashRestOfFile(file, hasher)) {
        printWindow("Identity of '%s': the file could not be read to its end.", name);
        return false;
    }
    ImageReport made = logImageIdentity(name, hasher, known);
    if (report)
        *report = made;
    return true;
}

bool identifyImage(const std::string& path, const KnownDumps& known, Reporter& r, ImageReport* report)
{
    ReporterScope scope(r);
    const char* name = displayName(path.c_str());
    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "rb"), fclose);
    struct stat st;
    if (!file || fstat(fileno(file.get()), &st) != 0) {
        printWindow("Failed to open '%s'", name);
        return false;
    }
    // With no cartridge to ask, the save area is where official cartridges
    // of this size keep it; the verdict says it was assumed.
    SaveAreaTry area;
    std::vector<ByteRange> erased =
        known.lists.empty() ? std::vector<ByteRange>() : usualSaveArea(uint64_t(st.st_size), &area.assumed);
    ImageHasher hasher(erased);
    if (!hashRestOfFile(file.get(), hasher)) {
        printWindow("Identity of '%s': the file could not be read to its end.", name);
        return false;
    }
    ImageReport made = logImageIdentity(name, hasher, known, area);
    if (report)
        *report = made;
    return true;
}
