#include "core/jobs/image_identity.h"

#include <memory>

#include "core/cart/detect.h"
#include "core/cart/blocks.h"
#include "core/jobs/jobs.h"

std::vector<ByteRange> saveAreaRanges()
{
    std::vector<ByteRange> ranges;
    bool anyProtected = false;
    CartLayout layout = CartLayout::detected();
    for (uint8_t chip = 0; chip < 2; chip++) {
        for (const CartBlock& b : layout.blocksOf(chip)) {
            if (G_prot[b.slot()] != 0) {
                anyProtected = true;
                continue;
            }
            ranges.push_back({b.start, uint64_t(b.size)});
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

bool logFileIdentity(FILE* file, const char* name, ImageHasher& hasher, const KnownDumps& known)
{
    if (!hashRestOfFile(file, hasher)) {
        printWindow("Identity of '%s': the file could not be read to its end.", name);
        return false;
    }
    hasher.finish();
    logLines(imageLines(name, hasher, known));
    return true;
}

bool identifyImage(const std::string& path, Reporter& r)
{
    ReporterScope scope(r);
    const char* name = displayName(path.c_str());
    // A FIFO would wait for a writer for good, a device never end.
    bool refused = false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(openInputFile(path, &refused), fclose);
    if (!file) {
        if (!refused)
            printWindow("Failed to open '%s'", name);
        return false;
    }
    ImageHasher hasher;
    return logFileIdentity(file.get(), name, hasher, loadKnownDumps(knownDumpDir()));
}
