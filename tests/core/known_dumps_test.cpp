// Known-dump lists as the groups publish them (zipped, gzipped, in folder
// trees, in several versions) and the verdicts that explain a near miss.
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <zip.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>

#include "core/link/linker.h"
#include "core/cart/detect.h"
#include "core/identity/identity.h"
#include "core/jobs/jobs.h"
#include "sim.h"
#include "support/core_job.h"
#include "support/sim_job.h"

namespace fs = std::filesystem;

namespace {

Digests digestsOf(const Bytes& b)
{
    ImageHasher h;
    h.update(b.data(), b.size());
    h.finish();
    return h.digests();
}

std::string hex32(uint32_t v)
{
    char t[9];
    snprintf(t, sizeof t, "%08x", unsigned(v));
    return t;
}

// One entry as No-Intro writes it; `d` may be bent to make a near miss.
std::string entry(const std::string& game, const Digests& d, const std::string& extra = "")
{
    return "\t<game name=\"" + game + "\">\n\t\t<description>" + game + "</description>\n\t\t<rom name=\"" + game +
           ".ngc\" size=\"" + std::to_string(d.size) + "\" crc=\"" + hex32(d.crc32) + "\" md5=\"" + toHex(d.md5) +
           "\" sha1=\"" + toHex(d.sha1) + "\"" + extra + "/>\n\t</game>\n";
}

std::string noIntroDat(const std::string& name, const std::string& version, const std::string& games)
{
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
           "\"http://www.logiqx.com/Dats/datafile.dtd\">\n<datafile>\n\t<header>\n\t\t<name>" + name +
           "</name>\n\t\t<description>" + name + "</description>\n\t\t<version>" + version +
           "</version>\n\t\t<author>tester</author>\n\t\t<homepage>No-Intro</homepage>\n\t</header>\n" + games +
           "</datafile>\n";
}

void writeText(const std::string& path, const std::string& text)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void writeZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& members)
{
    fs::create_directories(fs::path(path).parent_path());
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
    ASSERT_NE(z, nullptr);
    for (const auto& [name, text] : members) {
        zip_source_t* src = zip_source_buffer(z, text.data(), text.size(), 0);
        ASSERT_GE(zip_file_add(z, name.c_str(), src, 0), 0);
    }
    ASSERT_EQ(zip_close(z), 0);
}

void writeGzip(const std::string& path, const std::string& text, size_t cutTo = SIZE_MAX)
{
    fs::create_directories(fs::path(path).parent_path());
    gzFile gz = gzopen(path.c_str(), "wb");
    gzwrite(gz, text.data(), unsigned(text.size()));
    gzclose(gz);
    if (cutTo != SIZE_MAX)
        fs::resize_file(path, cutTo);
}

// A header whose software ID reads 0059, then pseudo-random bytes.
Bytes licensedImage(size_t size, uint32_t seed)
{
    Bytes b = pattern(size, seed);
    memcpy(b.data(), " LICENSED BY SNK CORPORATION", 28);
    b[0x20] = 0x59;
    b[0x21] = 0x00;
    return b;
}

class KnownDumpPacks : public CoreJobTest {
protected:
    std::string dir;
    void SetUp() override
    {
        CoreJobTest::SetUp();
        dir = scratch("dat");
        fs::create_directories(dir);
    }
    Lines lastLines(const Bytes& image, size_t n, const std::string& listDir)
    {
        KnownDumps known = loadKnownDumps(listDir);
        ImageHasher h;
        h.update(image.data(), image.size());
        h.finish();
        Lines all = imageLines("x.ngp", h, known);
        return Lines(all.end() - long(std::min(n, all.size())), all.end());
    }
};

// A DatRoot tree: three versions of one list in a zip, a gzip and a plain
// file, where neither the first nor the last read is the newest; another
// list in a subfolder; and what cannot be read, each said once.
TEST_F(KnownDumpPacks, ZipGzipAndFolderTreeNewestVersionWins)
{
    const Bytes a = pattern(0x4000, 1), b = pattern(0x4000, 2);
    const std::string colour = "SNK - Neo Geo Pocket Color";
    writeText(dir + "/0-old.dat", noIntroDat(colour, "20220101-000000", entry("Oldest Name", digestsOf(a))));
    writeGzip(dir + "/No-Intro/Newer/" + colour + " (20240101-000000).dat.gz",
              noIntroDat(colour, "20240101-000000", entry("New Name", digestsOf(a), " status=\"verified\"")));
    writeZip(dir + "/No-Intro/" + colour + " (20230101-000000).zip",
             {{colour + " (20230101-000000).dat", noIntroDat(colour, "20230101-000000", entry("Old Name", digestsOf(a)))}});
    writeZip(dir + "/Neo Geo Pocket.zip", {{"readme.txt", "x"}, {"NGP.xml", noIntroDat("SNK - Neo Geo Pocket", "7",
                                                                                     entry("Mono", digestsOf(b)))}});
    writeText(dir + "/clr.dat", "clrmamepro (\n\tname \"SNK - Neo Geo Pocket Color\"\n)\n");
    writeZip(dir + "/empty.zip", {{"readme.txt", "no lists here"}});
    writeGzip(dir + "/sub/cut.dat.gz", noIntroDat("Cut", "1", entry("G", digestsOf(a))), 40);
    writeText(dir + "/not-a-zip.zip", "PK but not really");

    KnownDumps k = loadKnownDumps(dir);
    EXPECT_EQ(k.lists, Lines({colour + " (20240101-000000)", "SNK - Neo Geo Pocket (7)"}));
    const std::string s = "Skipped known-dump list '";
    EXPECT_EQ(k.notes, Lines({s + "Neo Geo Pocket.zip/readme.txt': not a .dat or .xml list.",
                              s + "clr.dat': a clrmamepro text list, which is not read; get the XML (Logiqx) one.",
                              s + "empty.zip': no .dat or .xml list inside.",
                              s + "not-a-zip.zip': not a zip archive.",
                              s + "sub/cut.dat.gz': not a readable gzip file (unexpected end of file).",
                              s + "0-old.dat': an older version of '" + colour + "' than 'No-Intro/Newer/" + colour +
                                  " (20240101-000000).dat.gz'.",
                              s + "No-Intro/" + colour + " (20230101-000000).zip/" + colour +
                                  " (20230101-000000).dat': an older version of '" + colour + "' than 'No-Intro/Newer/" +
                                  colour + " (20240101-000000).dat.gz'."}));
    EXPECT_EQ(lastLines(a, 1, dir), Lines{"Known dump: 'New Name' in '" + colour + " (20240101-000000)' (status: verified)."});
    EXPECT_EQ(lastLines(b, 1, dir), Lines{"Known dump: 'Mono' in 'SNK - Neo Geo Pocket (7)'."});

    // The folder setting naming a file says so once, and nothing else.
    std::string file = dir + "/0-old.dat";
    EXPECT_EQ(lastLines(a, 2, file)[1], "No known-dump lists: '" + file + "' is not a folder; the lists go in a folder.");
    EXPECT_NE(lastLines(a, 2, file)[0].rfind("Can't", 0), 0u);
}

// Each verdict names its entry; the entry's serial stands beside the
// header's and is flagged when it differs.
TEST_F(KnownDumpPacks, BadDumpsStatusesAndNearMisses)
{
    const size_t N = 0x2000;
    Bytes bad = pattern(N, 10), sha = pattern(N, 11), crc = pattern(N, 12), serial = licensedImage(N, 13),
          differs = licensedImage(N, 14), unknown = pattern(N, 15), serialBig = licensedImage(2 * N, 13);
    Digests otherSha1 = digestsOf(sha), otherSize = digestsOf(crc);
    otherSha1.sha1[19] ^= 1;
    otherSize.size = 2 * N;
    writeText(dir + "/l.dat",
              noIntroDat("L", "", entry("Bad [b]", digestsOf(bad), " status=\"baddump\"") + entry("Sha", otherSha1) +
                                      entry("Over", otherSize) +
                                      entry("Rev 1", digestsOf(licensedImage(N, 99)), " serial=\"NEOP0059\"") +
                                      entry("Hack", digestsOf(differs), " serial=\"NEOP0060\"")));
    const struct { const char* what; const Bytes& image; std::string serialLine, verdict; } cases[] = {
        {"bad dump", bad, "", "Known bad dump: 'Bad [b]' in 'L'."},
        {"other SHA-1", sha, "", "Near a known dump: 'Sha' in 'L' has this size and CRC32 but another SHA-1."},
        {"other size", crc, "", "Near a known dump: 'Over' in 'L' has this CRC32 at 16384 bytes."},
        {"same serial", serial, "  Serial   = 0059 (list: NEOP0059)",
         "Near a known dump: 'Rev 1' in 'L' has this serial with other bytes (another revision, a hack or a changed save)."},
        {"serials differ", differs, "  Serial   = 0059 (list: NEOP0060, differs)", "Known dump: 'Hack' in 'L'."},
        {"serial at another size", serialBig, "  Serial   = 0059 (list: NEOP0059)",
         "Not in the known-dump lists (5 entries); 'Rev 1' in 'L' has this serial at 8192 bytes."},
        {"unknown", unknown, "", "Not in the known-dump lists (5 entries)."},
    };
    for (const auto& c : cases) {
        KnownDumps known = loadKnownDumps(dir);
        ImageHasher h;
        h.update(c.image.data(), c.image.size());
        h.finish();
        Lines lines = imageLines("x.ngp", h, known);
        EXPECT_EQ(lines.back(), c.verdict) << c.what;
        EXPECT_EQ(describeImage("x.ngp", h, known).verdict.trusted(), c.verdict.rfind("Known dump:", 0) == 0) << c.what;
        if (!c.serialLine.empty()) {
            EXPECT_EQ(lines[9], c.serialLine) << c.what;
        }
    }
}

// With no cartridge to ask, identify takes out the block official
// cartridges of the image's size keep their save in, and says so.
TEST_F(KnownDumpPacks, IdentifyAssumesTheSaveAreaOfEachChipSize)
{
    const struct { size_t size; std::vector<uint32_t> blocks; std::string said; } cases[] = {
        {0x80000, {0x7A000}, "8 KB at 0x7A000"},
        {0x100000, {0xFA000}, "8 KB at 0xFA000"},
        {0x200000, {0x1FA000}, "8 KB at 0x1FA000"},
        {0x400000, {0x1FA000, 0x3FA000}, "8 KB at 0x1FA000 and at 0x3FA000"},
        {0x300000, {0x1FA000, 0x2FA000}, "8 KB at 0x1FA000 and at 0x2FA000"},
        {0x180000, {0x17A000}, ""},  // no official cartridge has this size
    };
    for (const auto& c : cases) {
        Bytes played = pattern(c.size, uint32_t(c.size)), listed = played;
        for (uint32_t at : c.blocks)
            std::fill(listed.begin() + at, listed.begin() + at + 0x2000, 0xFF);
        writeText(dir + "/l.dat", noIntroDat("L", "", entry("Game", digestsOf(listed))));
        std::string path = scratch("played.ngp");
        writeFile(path, played);
        RecordingReporter job;
        ASSERT_TRUE(identifyImage(path, loadKnownDumps(dir), job));
        EXPECT_EQ(job.lines.back(), c.said.empty() ? "Not in the known-dump lists (1 entry)."
                                                   : "Known dump once the usual save area (" + c.said +
                                                         ") reads as erased: 'Game' in 'L'.")
            << c.size;
    }
}

// A Backup whose protection scan failed cannot take the save area out, and
// says the match was not tried rather than only "not in the lists".
TEST_F(KnownDumpPacks, BackupSaysTheSaveAreaMatchWasNotTriedWhenTheScanFailed)
{
    setenv("PTB_DAT_DIR", dir.c_str(), 1);
    Bytes listed = sim::cartImage();
    std::fill(listed.begin() + 0x1FA000, listed.begin() + 0x1FC000, 0xFF);
    writeText(dir + "/l.dat", noIntroDat("L", "", entry("Game", digestsOf(listed))));
    sim::cartPoke(0x1FA000, 0x12);  // a played cartridge
    Cart probed;
    sim::Mark m = sim::mark();
    checkCart(report, linker().link(), &probed, nullptr, nullptr, nullptr, true, false);
    size_t scan = sim::transfersSince(m).size();
    std::string path = scratch("cart.ngp");
    RecordingReporter job;
    ASSERT_TRUE(backupRom(
        [&](const std::string&, std::string* p) {
            // The probe is behind: the next transfers are the scan's.
            sim::timeoutOnTransfer(int(scan / 2));
            *p = path;
            return true;
        },
        simJob(job)));
    unsetenv("PTB_DAT_DIR");
    EXPECT_EQ(Lines(job.lines.end() - 2, job.lines.end()),
              (Lines{"Not in the known-dump lists (1 entry).", "Save-area match not tried: no protection map."}));
}

// Files seen as a user sees them, not as root, while it lives: a folder
// locked to its owner then cannot be read, as on the user's machine.
struct AsUser {
    bool root = geteuid() == 0;
    AsUser()
    {
        if (root)
            setfsgid(65534), setfsuid(65534);
    }
    ~AsUser()
    {
        if (root)
            setfsuid(0), setfsgid(0);
    }
};

// An untidy DatRoot: a folder the user may not read, first in path order;
// a folder reached through a link, and links looping back; a pack holding
// more than lists, and a private list sharing a published one's name. The
// walk goes on past each and says what it left out; while a list may be
// unread, nothing is called unknown.
TEST_F(KnownDumpPacks, UnreadableAndLinkedFoldersAndWhatAPackHolds)
{
    const Bytes a = pattern(0x2000, 21), b = pattern(0x2000, 22), unknown = pattern(0x2000, 23);
    const std::string away = scratch("away"), lockedOnly = scratch("locked-only");
    writeText(dir + "/a-locked/l.dat", noIntroDat("Locked", "1", entry("Hidden", digestsOf(unknown))));
    writeText(lockedOnly + "/a-locked/l.dat", noIntroDat("Locked", "1", entry("Hidden", digestsOf(unknown))));
    writeText(dir + "/b/l.dat", noIntroDat("L", "2", entry("A", digestsOf(a))));
    writeText(away + "/l.dat", noIntroDat("Away", "", entry("B", digestsOf(b))));
    fs::create_directory_symlink(away, dir + "/c-link");
    fs::create_directory_symlink(".", away + "/loop");
    fs::create_directory_symlink("..", dir + "/b/up");
    writeZip(dir + "/pack.zip", {{"mine.dat", noIntroDat("L", "1", entry("Mine", digestsOf(a)))},
                                 {"inner.zip", "PK"}, {"x.7z", "7z"}, {"__MACOSX/._mine.dat", "junk"}});
    chmod(fs::path(dir).parent_path().c_str(), 0755);
    for (const std::string& locked : {dir + "/a-locked", lockedOnly + "/a-locked"})
        chmod(locked.c_str(), 0);
    KnownDumps k, none;
    {
        AsUser user;
        k = loadKnownDumps(dir);
        none = loadKnownDumps(lockedOnly);
    }
    for (const std::string& locked : {dir + "/a-locked", lockedOnly + "/a-locked"})
        chmod(locked.c_str(), 0755);
    const std::string s = "Skipped known-dump ";
    EXPECT_EQ(k.notes, Lines({s + "folder 'a-locked': Permission denied.",
                              s + "list 'pack.zip/inner.zip': a zip inside a zip, which is not opened.",
                              s + "list 'pack.zip/x.7z': a 7z archive, which is not read.",
                              s + "list 'pack.zip/mine.dat': an older version of 'L' than 'b/l.dat'."}));
    const std::string unread = " entries); 1 more could not be read.";
    const struct { const KnownDumps& known; const Bytes& image; std::string verdict; } cases[] = {
        {k, a, "Known dump: 'A' in 'L (2)'."},
        {k, b, "Known dump: 'B' in 'Away'."},
        {k, unknown, "Not in the known-dump lists read (2" + unread},
        {none, unknown, "Not in the known-dump lists read (0" + unread},
    };
    for (const auto& c : cases) {
        ImageHasher h;
        h.update(c.image.data(), c.image.size());
        h.finish();
        EXPECT_EQ(imageLines("x.ngp", h, c.known).back(), c.verdict);
    }
}

TEST(ListNames, VersionsOrderAndUnsafeFileNames)
{
    const struct { const char* a; const char* b; int order; } versions[] = {
        {"20240101-000000", "20231231-235959", 1}, {"1.10", "1.9", 1}, {"007", "7", 0}, {"", "1", -1}, {"v2", "v2b", -1},
    };
    for (const auto& v : versions)
        EXPECT_EQ(compareVersions(v.a, v.b), v.order) << v.a << " " << v.b;
    const struct { std::string name; bool safe; } names[] = {
        {"Game (World).ngc", true}, {"", false}, {"../x.ngc", false}, {"a/b.ngc", false}, {"a\\b.ngc", false},
        {"..", false}, {"x..ngc", true}, {std::string("a\nb.ngc"), false}, {"a\x7f.ngc", false},
        {"Wait... What (Japan).ngc", true}, {".", false}, {" ", false}, {". .", false}, {std::string("a\0b.ngc", 7), false},
    };
    for (const auto& n : names) {
        std::string why;
        EXPECT_EQ(safeFileName(n.name, &why), n.safe ? n.name : "") << n.name;
        EXPECT_EQ(why.empty(), n.safe) << n.name;
    }
}

}  // namespace
