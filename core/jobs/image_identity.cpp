#include "core/jobs/image_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

#include "core/cart/detect.h"
#include "core/cart/blocks.h"
#include "core/jobs/jobs.h"
#include "core/output_file.h"

std::vector<ByteRange> saveAreaRanges(const Cart& cart)
{
    std::vector<ByteRange> ranges;
    bool anyProtected = false;
    CartLayout layout = cart.layout();
    for (uint8_t chip = 0; chip < 2; chip++) {
        for (const CartBlock& b : layout.blocksOf(chip)) {
            if (cart.isProtected(b)) {
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

// What the window keeps of an image's notes: the checksum to compare and
// the lists' verdict (the one line left when no checksum was taken), and one
// more: a word of the warning, or else the job's first note, in its place.
static std::vector<std::string> briefNotes(const ImageReport& report, const KnownDumps& known,
                                           const std::vector<std::string>& identity, const ImageNotes& notes)
{
    std::vector<std::string> brief = {identity.front()};
    if (report.digestsOk) {
        char crc[16];
        snprintf(crc, sizeof crc, "%08x", unsigned(report.digests.crc32));
        brief = {std::string("CRC32 ") + crc + " of '" + printable(report.name, true) + "'"};
        // The verdict's own line comes after the notes on lists left out.
        std::vector<std::string> verdict = verdictLines(known, report.verdict, report.area);
        if (known.notes.size() < verdict.size())
            brief.push_back(verdict[known.notes.size()]);
    }
    if (!notes.warning.empty())
        brief.push_back("No licence text: the console will refuse it.");
    else if (!notes.before.empty())
        brief.insert(brief.begin(), notes.before.front());
    return brief;
}

void logLines(Reporter& r, const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        printWindow(r, "%s", line.c_str());
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

ImageReport logImageIdentity(Reporter& r, const char* name, ImageHasher& hasher, const KnownDumps& known,
                             const SaveAreaTry& area, const ImageNotes& notes, const ReadCheck& read)
{
    hasher.finish();
    ImageReport report = describeImage(name, hasher, known, area);
    report.read = read;
    std::vector<std::string> identity = reportLines(report, known);
    std::vector<std::string> full = notes.before;
    full.insert(full.end(), identity.begin(), identity.end());
    full.insert(full.end(), notes.warning.begin(), notes.warning.end());
    logNotes(r, full, briefNotes(report, known, identity, notes));
    r.identified(report);
    return report;
}

bool logFileIdentity(Reporter& r, FILE* file, const char* name, ImageHasher& hasher, const KnownDumps& known,
                     ImageReport* report)
{
    if (!hashRestOfFile(file, hasher)) {
        printWindow(r, "Identity of '%s':", name);
        printWindow(r, "the file could not be read to its end.");
        return false;
    }
    ImageReport made = logImageIdentity(r, name, hasher, known);
    if (report)
        *report = made;
    return true;
}

bool identifyImage(const std::string& path, const KnownDumps& known, Reporter& r, ImageReport* report)
{
    // As given: two files of one name in two folders are told apart.
    std::string shown = printable(path, true);
    const char* name = shown.c_str();
    // A FIFO would wait for a writer for good, a device never end.
    bool refused = false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(openInputFile(r, path, &refused), fclose);
    struct stat st;
    if (!file || fstat(fileno(file.get()), &st) != 0) {
        if (!refused)
            printWindow(r, FAILED_TO_OPEN, name, strerror(errno));
        return false;
    }
    // With no cartridge to ask, the save area is where official cartridges
    // of this size keep it; the verdict says it was assumed.
    SaveAreaTry area;
    std::vector<ByteRange> erased =
        known.lists.empty() ? std::vector<ByteRange>() : usualSaveArea(uint64_t(st.st_size), &area.assumed);
    ImageHasher hasher(erased);
    if (!hashRestOfFile(file.get(), hasher)) {
        int why = errno;
        printWindow(r, "Identity of '%s':", name);
        printWindow(r, "not read to its end: %s.", strerror(why));
        return false;
    }
    ImageReport made = logImageIdentity(r, name, hasher, known, area);
    if (report)
        *report = made;
    return true;
}

// "Game (World) (save).ngc": the name says the file holds a save the
// entry's bytes do not.
static std::string withSave(const std::string& name)
{
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        dot = name.size();
    return name.substr(0, dot) + " (save)" + name.substr(dot);
}

std::string listFileName(const ImageReport& report, std::string* why, bool played)
{
    const DumpEntry* e = report.verdict.entry;
    VerdictKind kind = report.verdict.kind;
    *why = "";
    if (!e || (kind != VerdictKind::Known && kind != VerdictKind::KnownOnceErased))
        return "";
    std::string name = safeFileName(e->romName, why);
    if (name.empty() || kind == VerdictKind::Known)
        return name;
    if (!played) {
        *why = "it is the entry's only once its save area reads as erased; --rename-played names it '" +
               printable(withSave(name), true) + "'";
        return "";
    }
    return withSave(name);
}

bool renameInFolder(Reporter& r, const std::string& path, const std::string& name, std::string* renamedTo)
{
    std::string shown = printable(displayName(path.c_str()), true), shownName = printable(name, true);
    std::string folder = path.substr(0, path.size() - strlen(displayName(path.c_str())));
    if (renameNoReplace(path, folder + name)) {
        if (renamedTo)
            *renamedTo = folder + name;
        printWindow(r, "Renamed '%s' to '%s'.", shown.c_str(), shownName.c_str());
        return true;
    }
    int why = errno;
    printWindow(r, "Kept the name '%s':", shown.c_str());
    if (why == EEXIST) {
        printWindow(r, "'%s' is already there.", shownName.c_str());
    } else {
        printWindow(r, "can't rename it to '%s':", shownName.c_str());
        printWindow(r, "%s.", strerror(why));
    }
    return false;
}

bool renameAfterEntry(const std::string& path, const ImageReport& report, Reporter& r, std::string* renamedTo,
                      bool played)
{
    std::string why;
    std::string name = listFileName(report, &why, played);
    if (name.empty()) {
        if (!why.empty()) {
            printWindow(r, "Kept the name '%s':", printable(displayName(path.c_str()), true).c_str());
            printWindow(r, "%s.", why.c_str());
        }
        // Left as it is by choice: a played dump without `played`.
        std::string unused;
        return why.empty() || !listFileName(report, &unused, true).empty();
    }
    return name == displayName(path.c_str()) || renameInFolder(r, path, name, renamedTo);
}

void logListNotes(KnownDumps& known, Reporter& r)
{
    logLines(r, known.notes);
    known.notes.clear();
}

std::vector<std::string> distinctFiles(const std::vector<std::string>& paths, Reporter& r)
{
    std::set<std::pair<dev_t, ino_t>> files;
    std::set<std::string> missing;  // by the path made plain, for want of a file
    std::vector<std::string> distinct;
    for (const std::string& path : paths) {
        struct stat st;
        std::error_code ec;
        bool first = stat(path.c_str(), &st) == 0
                         ? files.insert({st.st_dev, st.st_ino}).second
                         : missing.insert(std::filesystem::absolute(path, ec).lexically_normal().string()).second;
        if (first)
            distinct.push_back(path);
        else
            printWindow(r, "Skipped '%s': it was given before.", printable(path, true).c_str());
    }
    return distinct;
}
