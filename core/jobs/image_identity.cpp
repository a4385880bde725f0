#include "core/jobs/image_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "core/cart/detect.h"
#include "core/cart/blocks.h"
#include "core/jobs/jobs.h"
#include "core/output_file.h"

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
    // A FIFO would wait for a writer for good, a device never end.
    bool refused = false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(openInputFile(path, &refused), fclose);
    struct stat st;
    if (!file || fstat(fileno(file.get()), &st) != 0) {
        if (!refused)
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

std::string listFileName(const ImageReport& report, std::string* why)
{
    const DumpEntry* e = report.verdict.entry;
    bool known = e && (report.verdict.kind == VerdictKind::Known || report.verdict.kind == VerdictKind::KnownOnceErased);
    if (!known) {
        *why = "";
        return "";
    }
    return safeFileName(e->romName, why);
}

bool renameInFolder(const std::string& path, const std::string& name, std::string* renamedTo)
{
    std::string shown = printable(displayName(path.c_str()), true), shownName = printable(name, true);
    std::string folder = path.substr(0, path.size() - strlen(displayName(path.c_str())));
    if (renameNoReplace(path, folder + name)) {
        if (renamedTo)
            *renamedTo = folder + name;
        printWindow("Renamed '%s' to '%s'.", shown.c_str(), shownName.c_str());
        return true;
    }
    if (errno == EEXIST)
        printWindow("Kept the name '%s': '%s' is already there.", shown.c_str(), shownName.c_str());
    else
        printWindow("Kept the name '%s': can't rename it to '%s': %s.", shown.c_str(), shownName.c_str(),
                    strerror(errno));
    return false;
}

bool renameAfterEntry(const std::string& path, const ImageReport& report, Reporter& r, std::string* renamedTo)
{
    ReporterScope scope(r);
    std::string why;
    std::string name = listFileName(report, &why);
    if (name.empty()) {
        if (!why.empty())
            printWindow("Kept the name '%s': %s.", printable(displayName(path.c_str()), true).c_str(), why.c_str());
        return why.empty();
    }
    return name == displayName(path.c_str()) || renameInFolder(path, name, renamedTo);
}
