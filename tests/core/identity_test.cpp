// An image's identity on its own, without a linker or a window: checksums
// taken in a stream, the cartridge header, and the known-dump lists, which
// the tests write themselves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/identity/identity.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A fresh folder per test, gone afterwards.
class TempDir {
public:
    TempDir()
    {
        std::string templ = (fs::temp_directory_path() / "ptb-identity-XXXXXX").string();
        path = mkdtemp(templ.data()) ? templ : "";
    }
    ~TempDir() { fs::remove_all(path); }
    std::string write(const std::string& name, const std::string& text) const
    {
        std::string p = path + "/" + name;
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }
    std::string path;
};

// Hashes `data` in the given chunk sizes, cycling through them.
void feed(ImageHasher& h, const Bytes& data, const std::vector<size_t>& chunks)
{
    size_t at = 0;
    for (size_t i = 0; at < data.size(); i++) {
        size_t n = std::min(chunks[i % chunks.size()], data.size() - at);
        h.update(data.data() + at, n);
        at += n;
    }
    h.finish();
}

Digests digestsOf(const Bytes& data)
{
    ImageHasher h;
    feed(h, data, {data.size() + 1});
    return h.digests();
}

Bytes pseudoRandom(size_t n, uint32_t seed)
{
    Bytes b(n);
    for (uint8_t& x : b) {
        seed = seed * 1103515245u + 12345u;
        x = uint8_t(seed >> 16);
    }
    return b;
}

// A header as a cartridge carries it: licence, entry point, software ID,
// version, system, title.
Bytes header(const char* licence, uint8_t system, const std::string& title)
{
    Bytes h(CART_HEADER_BYTES, 0);
    memcpy(h.data(), licence, 28);
    const uint8_t rest[] = {0x40, 0x00, 0x20, 0x00, 0x59, 0x00, 0x02, system};
    memcpy(h.data() + 0x1C, rest, sizeof rest);
    memcpy(h.data() + 0x24, title.data(), std::min<size_t>(title.size(), 12));
    return h;
}

const char* const COPYRIGHT = "COPYRIGHT BY SNK CORPORATION";
const char* const LICENSED = " LICENSED BY SNK CORPORATION";

std::string romLine(const Digests& d, bool withSha1 = true, const std::string& extra = "")
{
    char crc[9];
    snprintf(crc, sizeof crc, "%08x", unsigned(d.crc32));
    return "<rom name=\"g.ngc\" size=\"" + std::to_string(d.size) + "\" crc=\"" + crc + "\"" +
           (withSha1 ? " sha1=\"" + toHex(d.sha1) + "\"" : "") + extra + "/>";
}

std::string datFile(const std::string& listName, const std::string& games)
{
    return "<?xml version=\"1.0\"?>\n"
           "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
           "\"http://www.logiqx.com/Dats/datafile.dtd\">\n<datafile>" +
           (listName.empty() ? "" : "<header><name>" + listName + "</name></header>") + games +
           "</datafile>\n";
}

std::string game(const std::string& name, const std::string& roms)
{
    return "<game name=\"" + name + "\"><description>" + name + "</description>" + roms +
           "</game>";
}

std::string verdict(const KnownDumps& k, const Bytes& image)
{
    Lines lines = verdictLines(k, matchKeyOf(digestsOf(image)), nullptr);
    return lines.empty() ? "" : lines.back();
}

// ---- Checksums -------------------------------------------------------------

TEST(IdentityDigest, KnownVectorsWholeAndInAnyChunking)
{
    struct Vector {
        std::string input, crc, md5, sha1, sha256;
    };
    const Vector vectors[] = {
        {"", "00000000", "d41d8cd98f00b204e9800998ecf8427e",
         "da39a3ee5e6b4b0d3255bfef95601890afd80709",
         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "352441c2", "900150983cd24fb0d6963f7d28e17f72",
         "a9993e364706816aba3e25717850c26c9cd0d89d",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"123456789", "cbf43926", "25f9e794323b453885f5181f1b624d0b",
         "f7c3bc1d808e04732adf679965ccc34ca7ae3441",
         "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225"},
    };
    for (const Vector& v : vectors)
        for (std::vector<size_t> chunks : {std::vector<size_t>{100}, {1}, {2, 0, 5}}) {
            ImageHasher h;
            feed(h, bytesOf(v.input), chunks);
            char crc[9];
            snprintf(crc, sizeof crc, "%08x", unsigned(h.digests().crc32));
            EXPECT_TRUE(h.ok());
            EXPECT_EQ(h.digests().size, v.input.size());
            EXPECT_EQ(Lines({crc, toHex(h.digests().md5), toHex(h.digests().sha1),
                             toHex(h.digests().sha256)}),
                      Lines({v.crc, v.md5, v.sha1, v.sha256}))
                << "'" << v.input << "' in chunks of " << chunks[0];
        }
}

TEST(IdentityDigest, HeadKeepsTheFirstBytesOnly)
{
    Bytes image = pseudoRandom(1000, 3);
    ImageHasher h;
    feed(h, image, {5, 17});
    EXPECT_EQ(h.head(), Bytes(image.begin(), image.begin() + CART_HEADER_BYTES));

    ImageHasher tiny;
    feed(tiny, Bytes(10, 0x41), {3});
    EXPECT_EQ(tiny.head(), Bytes(10, 0x41));
}

// The save-area key must equal the key of the same image with those bytes
// really erased, wherever the chunks and ranges fall.
TEST(IdentityDigest, ErasedRangesKeyTheImageAsIfErased)
{
    Bytes image = pseudoRandom(0x40000, 11);
    struct Case {
        const char* what;
        std::vector<ByteRange> ranges;
        std::vector<size_t> chunks;
    };
    const Case cases[] = {
        {"one range inside a chunk", {{0x3A000, 0x2000}}, {8192}},
        {"ranges across chunk edges", {{100, 9000}, {0x20000, 0x10001}}, {8192}},
        {"unsorted and overlapping", {{0x3000, 0x1000}, {0x1000, 0x2800}, {0x3800, 0x10}}, {4096, 1}},
        {"from the first byte", {{0, 1}}, {7}},
        {"touching ranges", {{0x100, 0x100}, {0x200, 0x100}}, {0x180}},
        {"running past the end", {{0x3F000, 0x100000}}, {60000}},
        {"an empty one among them", {{0x500, 0}, {0x600, 3}}, {8192}},
    };
    for (const Case& c : cases) {
        Bytes erased = image;
        for (const ByteRange& r : c.ranges)
            for (uint64_t i = r.start; i < r.start + r.length && i < erased.size(); i++)
                erased[i] = 0xFF;
        ImageHasher h(c.ranges);
        feed(h, image, c.chunks);
        Digests real = digestsOf(image), blank = digestsOf(erased);
        ASSERT_TRUE(h.hasErasedKey()) << c.what;
        EXPECT_EQ(h.erasedKey().size, image.size()) << c.what;
        EXPECT_EQ(h.erasedKey().crc32, blank.crc32) << c.what;
        EXPECT_EQ(h.erasedKey().sha1, blank.sha1) << c.what;
        // The image's own checksums stay those of the bytes as read.
        EXPECT_EQ(h.digests().sha1, real.sha1) << c.what;
        EXPECT_EQ(h.digests().crc32, real.crc32) << c.what;
    }
}

TEST(IdentityDigest, ErasedKeyOnlyWhenARangeReachesTheImage)
{
    ImageHasher none, beyond({{200, 10}, {100, 0}}), top({{UINT64_MAX - 4, 100}, {0, 2}});
    for (ImageHasher* h : {&none, &beyond, &top})
        feed(*h, Bytes(100, 0), {10});
    EXPECT_FALSE(none.hasErasedKey());
    EXPECT_FALSE(beyond.hasErasedKey());
    // A range at the top of the address space must not wrap onto the image.
    ASSERT_TRUE(top.hasErasedKey());
    Bytes expected(100, 0);
    expected[0] = expected[1] = 0xFF;
    EXPECT_EQ(top.erasedKey().crc32, digestsOf(expected).crc32);
}

// ---- The cartridge header ----------------------------------------------------

TEST(IdentityHeader, ColourMonochromeAndOddSystemHeadersDecoded)
{
    EXPECT_EQ(headerLines(decodeHeader(header(LICENSED, 0x10, "SIM OFFICIAL").data(), 0x40)),
              Lines({"Cart header:", "  Licence  = ' LICENSED BY SNK CORPORATION'",
                     "  Entry    = 0x00200040", "  Serial   = 0059", "  Version  = 0x02",
                     "  System   = colour (0x10)", "  Title    = 'SIM OFFICIAL'"}));
    // The software ID reads high byte (0x21) first, as the lists write it.
    Bytes mono = header(COPYRIGHT, 0x00, "MONO");
    mono[0x20] = 0x21;
    mono[0x21] = 0x10;
    CartHeader m = decodeHeader(mono.data(), mono.size());
    EXPECT_EQ(headerLines(m),
              Lines({"Cart header:", "  Licence  = 'COPYRIGHT BY SNK CORPORATION'",
                     "  Entry    = 0x00200040", "  Serial   = 1021", "  Version  = 0x02",
                     "  System   = monochrome (0x00)", "  Title    = 'MONO'"}));
    EXPECT_EQ(m.title, std::string("MONO\0\0\0\0\0\0\0\0", 12));
    EXPECT_EQ(headerLines(decodeHeader(header(LICENSED, 0x01, "X").data(), 0x40))[5],
              "  System   = unknown (0x01)");
}

TEST(IdentityHeader, TitleBytesThatCouldMangleALineAreEscaped)
{
    Bytes h = header(LICENSED, 0x10, std::string("A\tB\\C\nD\x80\0E", 10));
    EXPECT_EQ(headerLines(decodeHeader(h.data(), h.size())).back(),
              "  Title    = 'A\\x09B\\x5CC\\x0AD\\x80\\x00E'");
    EXPECT_EQ(printable("caf\xC3\xA9\x01", true), "caf\xC3\xA9\\x01");
}

TEST(IdentityHeader, NoValidLicenceTextIsSaidPlainly)
{
    Bytes random = pseudoRandom(0x40, 5);
    Bytes offByOne = header(LICENSED, 0x10, "GAME");
    offByOne[27] = 'Y';
    Bytes lowerCase = header("copyright by snk corporation", 0x10, "GAME");
    Bytes whole = header(COPYRIGHT, 0x10, "GAME");
    for (const Bytes& b : {random, offByOne, lowerCase}) {
        CartHeader d = decodeHeader(b.data(), b.size());
        EXPECT_FALSE(d.licensed);
        EXPECT_EQ(headerLines(d), Lines{"Cart header: no valid licence text."});
        EXPECT_EQ(licenceWarningLines("x.ngp", d),
                  Lines({"", "Warning! 'x.ngp' has no valid licence text:",
                         "the console will refuse to start it.", ""}));
    }
    // A file shorter than the header has none, even with the licence text.
    EXPECT_FALSE(decodeHeader(whole.data(), CART_HEADER_BYTES - 1).licensed);
    EXPECT_FALSE(decodeHeader(nullptr, 0).licensed);
    EXPECT_TRUE(licenceWarningLines("x.ngp", decodeHeader(whole.data(), whole.size())).empty());
}

// ---- The known-dump lists ----------------------------------------------------

class KnownDumpsTest : public ::testing::Test {
protected:
    TempDir dir;
    Bytes image = pseudoRandom(0x8000, 21);
    Digests d = digestsOf(image);
};

TEST_F(KnownDumpsTest, ExactMatchNeedsSizeCrcAndSha1WhereGiven)
{
    Digests other = digestsOf(pseudoRandom(0x8000, 22));
    Digests wrongSha1 = d;
    wrongSha1.sha1[0] ^= 1;
    dir.write("ngpc.dat", datFile("SNK - Neo Geo Pocket Color",
                                  game("Other Game", romLine(other)) +
                                      game("Twin With Other SHA-1", romLine(wrongSha1)) +
                                      game("The Game (World)", romLine(d))));
    KnownDumps k = loadKnownDumps(dir.path);
    EXPECT_EQ(k.entries.size(), 3u);
    EXPECT_TRUE(k.notes.empty());
    EXPECT_EQ(verdict(k, image), "Known dump: 'The Game (World)' in 'SNK - Neo Geo Pocket Color'.");

    // Without a SHA-1 the list is matched on size and CRC32 alone.
    dir.write("ngpc.dat", datFile("L", game("No SHA-1", romLine(d, false))));
    EXPECT_EQ(verdict(loadKnownDumps(dir.path), image), "Known dump: 'No SHA-1' in 'L'.");

    // Same CRC32, other size: not the same dump.
    Digests longer = d;
    longer.size++;
    dir.write("ngpc.dat", datFile("L", game("Longer", romLine(longer, false))));
    EXPECT_EQ(verdict(loadKnownDumps(dir.path), image),
              "Not in the known-dump lists (1 entries read).");
}

TEST_F(KnownDumpsTest, SaveAreaMatchOnlyWhenTheExactOneMisses)
{
    Bytes played = image;
    for (size_t i = 0x6000; i < 0x8000; i++)
        played[i] = uint8_t(i);
    Bytes clean = image;
    std::fill(clean.begin() + 0x6000, clean.end(), 0xFF);
    dir.write("a.dat", datFile("Pocket", game("Clean Game", romLine(digestsOf(clean)))));
    KnownDumps k = loadKnownDumps(dir.path);

    ImageHasher h({{0x6000, 0x2000}});
    feed(h, played, {8192});
    EXPECT_EQ(imageLines("game.ngp", h, k).back(),
              "Known dump once the save area reads as erased: 'Clean Game' in 'Pocket'.");

    // An unplayed cartridge matches as it is.
    ImageHasher fresh({{0x6000, 0x2000}});
    feed(fresh, clean, {8192});
    EXPECT_EQ(imageLines("game.ngp", fresh, k).back(), "Known dump: 'Clean Game' in 'Pocket'.");

    // Without the save area taken out the played one is unknown.
    ImageHasher plain;
    feed(plain, played, {8192});
    EXPECT_EQ(imageLines("game.ngp", plain, k).back(),
              "Not in the known-dump lists (1 entries read).");
}

TEST_F(KnownDumpsTest, WholeReportOfAnImage)
{
    Bytes cart = header(LICENSED, 0x10, "SIM OFFICIAL");
    cart.resize(0x1000, 0xAB);
    Digests c = digestsOf(cart);
    dir.write("list.dat", datFile("", game("Sim", romLine(c))));
    ImageHasher h;
    feed(h, cart, {512});
    char crc[9];
    snprintf(crc, sizeof crc, "%08x", unsigned(c.crc32));
    EXPECT_EQ(imageLines("sim.ngp", h, loadKnownDumps(dir.path)),
              Lines({"Identity of 'sim.ngp':", "  Size     = 4096 bytes",
                     std::string("  CRC32    = ") + crc, "  MD5      = " + toHex(c.md5),
                     "  SHA-1    = " + toHex(c.sha1), "  SHA-256  = " + toHex(c.sha256),
                     "Cart header:", "  Licence  = ' LICENSED BY SNK CORPORATION'",
                     "  Entry    = 0x00200040", "  Serial   = 0059", "  Version  = 0x02",
                     "  System   = colour (0x10)", "  Title    = 'SIM OFFICIAL'",
                     // A list without a name in its header goes by its file's.
                     "Known dump: 'Sim' in 'list.dat'."}));
}

TEST_F(KnownDumpsTest, NoListsSaysWhereTheyGo)
{
    std::string missing = dir.path + "/not-there";
    EXPECT_EQ(verdictLines(loadKnownDumps(missing), matchKeyOf(d), nullptr),
              Lines{"No known-dump lists: put Logiqx .dat files in '" + missing + "'."});
    dir.write("readme.txt", datFile("Not a .dat", game("G", romLine(d))));
    EXPECT_EQ(verdictLines(loadKnownDumps(dir.path), matchKeyOf(d), nullptr),
              Lines{"No known-dump lists: put Logiqx .dat files in '" + dir.path + "'."});
}

TEST_F(KnownDumpsTest, BadListsAreSkippedWithOneLineEachAndTheRestStillMatch)
{
    dir.write("a-text.dat", "this is not XML at all");
    dir.write("b-empty.dat", "");
    dir.write("c-other.dat", "<?xml version=\"1.0\"?><softwarelist/>");
    dir.write("d-no-attrs.dat", datFile("X", game("G", "<rom name=\"a\"/><rom size=\"12\"/>")));
    dir.write("e-bad-values.dat",
              datFile("X", game("G", "<rom size=\"-1\" crc=\"12345678\"/>"
                                     "<rom size=\"99999999999999999999\" crc=\"12345678\"/>"
                                     "<rom size=\"1\" crc=\"1234567\"/>"
                                     "<rom size=\"1\" crc=\"1234567g\"/>")));
    dir.write("f-nothing.dat", datFile("X", ""));
    dir.write("g-cut.dat", datFile("X", game("G", romLine(d))).substr(0, 150));
    dir.write("h-good.DAT", datFile("Good\x01" "List", "<machine name=\"&lt;&amp;&gt;&#9;Found\">" +
                                                          romLine(d) + "</machine>"));
    dir.write("i-partly.dat",
              datFile("Partly", game("A", "<rom size=\"1\" crc=\"00000000\" sha1=\"abc\"/>") +
                                    game("B", romLine(digestsOf(Bytes(1, 0)))) +
                                    game("C", "<rom name=\"never dumped\" status=\"nodump\"/>")));
    mkdir((dir.path + "/j-folder.dat").c_str(), 0755);
    ASSERT_EQ(mkfifo((dir.path + "/k-fifo.dat").c_str(), 0644), 0);  // opening it must not block

    KnownDumps k = loadKnownDumps(dir.path);
    const std::string s = "Skipped known-dump list '";
    EXPECT_EQ(k.notes,
              Lines({s + "a-text.dat': not XML (No document element found at byte 21).",
                     s + "b-empty.dat': not XML (No document element found at byte 0).",
                     s + "c-other.dat': not a Logiqx list (no datafile element).",
                     s + "d-no-attrs.dat': no entry with a valid size and CRC32.",
                     s + "e-bad-values.dat': no entry with a valid size and CRC32.",
                     s + "f-nothing.dat': no dump entries in it.",
                     s + "g-cut.dat': not XML (Error parsing start element tag at byte 149).",
                     "Known-dump list 'i-partly.dat': 1 malformed entries left out.",
                     s + "j-folder.dat': not a regular file.",
                     s + "k-fifo.dat': not a regular file."}));
    EXPECT_EQ(k.lists, Lines({"Good\x01List", "Partly"}));
    EXPECT_EQ(k.entries.size(), 2u);
    Lines v = verdictLines(k, matchKeyOf(d), nullptr);
    EXPECT_EQ(v.size(), k.notes.size() + 1);
    // Names from a list are shown with their control characters escaped.
    EXPECT_EQ(v.back(), "Known dump: '<&>\\x09Found' in 'Good\\x01List'.");
}

TEST_F(KnownDumpsTest, HugeListIsRefusedUnread)
{
    std::string huge = dir.write("huge.dat", "");
    ASSERT_EQ(truncate(huge.c_str(), off_t(2) << 30), 0);  // sparse: no disk used
    dir.write("ok.dat", datFile("Ok", game("G", romLine(d))));
    KnownDumps k = loadKnownDumps(dir.path);
    EXPECT_EQ(k.notes, Lines{"Skipped known-dump list 'huge.dat': larger than 32 MiB."});
    EXPECT_EQ(k.lists, Lines{"Ok"});

    // The limit itself is still a list.
    std::string text = datFile("At limit", game("G", romLine(d)));
    text += std::string(MAX_LIST_BYTES - text.size(), ' ');
    dir.write("huge.dat", text);
    EXPECT_EQ(loadKnownDumps(dir.path).lists, Lines({"At limit", "Ok"}));
}

TEST_F(KnownDumpsTest, AThousandListsAreCutAtTheLimitWithOneLine)
{
    for (int i = 0; i < 1000; i++) {
        char name[32];
        snprintf(name, sizeof name, "list%04d.dat", i);
        dir.write(name, datFile(name, game(name, romLine(d))));
    }
    KnownDumps k = loadKnownDumps(dir.path);
    EXPECT_EQ(k.notes, Lines{"Only the first 64 known-dump lists are read; 936 more left out."});
    ASSERT_EQ(k.lists.size(), MAX_LISTS);
    EXPECT_EQ(k.lists.front(), "list0000.dat");
    EXPECT_EQ(k.lists.back(), "list0063.dat");
}

// ---- Where the lists live, and whole files -----------------------------------

// Sets variables (null: unset) for one scope.
class Environment {
public:
    Environment(std::vector<std::pair<const char*, const char*>> set)
    {
        for (auto& [name, value] : set) {
            const char* old = getenv(name);
            saved.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
            value ? setenv(name, value, 1) : unsetenv(name);
        }
    }
    ~Environment()
    {
        for (auto& [name, old] : saved)
            old ? setenv(name, old->c_str(), 1) : unsetenv(name);
    }
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
};

TEST(IdentityListFolder, ChosenFromTheEnvironment)
{
    {
        Environment e({{"PTB_DAT_DIR", "/lists"}, {"XDG_DATA_HOME", "/xdg"}, {"HOME", "/home/u"}});
        EXPECT_EQ(knownDumpDir(), "/lists");
    }
    {
        Environment e({{"PTB_DAT_DIR", ""}, {"XDG_DATA_HOME", "/xdg"}, {"HOME", "/home/u"}});
        EXPECT_EQ(knownDumpDir(), "/xdg/pockettetherbox/dat");
    }
    for (const char* xdg : {(const char*)nullptr, "", "relative/data"}) {
        Environment e({{"PTB_DAT_DIR", nullptr}, {"XDG_DATA_HOME", xdg}, {"HOME", "/home/u"}});
        EXPECT_EQ(knownDumpDir(), "/home/u/.local/share/pockettetherbox/dat");
    }
}

// A job that stopped part-way hands over its stream; the rest is read on.
TEST(IdentityFile, TheRestOfAPartlyReadFile)
{
    TempDir dir;
    Bytes image = pseudoRandom(50000, 9);
    std::string path = dir.write("f.ngp", std::string(image.begin(), image.end()));
    FILE* f = fopen(path.c_str(), "rb");
    ASSERT_TRUE(f);
    uint8_t buf[1000];
    ImageHasher h;
    ASSERT_EQ(fread(buf, 1, sizeof buf, f), sizeof buf);
    h.update(buf, sizeof buf);
    EXPECT_TRUE(hashRestOfFile(f, h));
    fclose(f);
    h.finish();
    EXPECT_EQ(h.digests().sha1, digestsOf(image).sha1);

    FILE* folder = fopen(dir.path.c_str(), "rb");
    ASSERT_TRUE(folder);
    EXPECT_FALSE(hashRestOfFile(folder, h));
    fclose(folder);
}

}  // namespace
