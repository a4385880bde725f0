// An image's identity on its own, without a linker or a window: checksums
// taken in a stream, the cartridge header, and known-dump lists the tests
// write themselves. The jobs' use of them is in identity_jobs_test.cpp.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "core/identity/identity.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// A fresh folder per test, gone afterwards.
struct TempDir {
    std::string path;
    TempDir()
    {
        std::string templ = (fs::temp_directory_path() / "ptb-identity-XXXXXX").string();
        path = mkdtemp(templ.data()) ? templ : "";
    }
    ~TempDir() { fs::remove_all(path); }
    void write(const std::string& name, const std::string& text) const
    {
        std::ofstream(path + "/" + name, std::ios::binary) << text;
    }
};

// Hashes `data` in the given chunk sizes, cycling through them.
void feed(ImageHasher& h, const Bytes& data, const std::vector<size_t>& chunks)
{
    for (size_t at = 0, i = 0; at < data.size(); at += chunks[i++ % chunks.size()])
        h.update(data.data() + at, std::min(chunks[i % chunks.size()], data.size() - at));
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
    for (uint8_t& x : b)
        x = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    return b;
}

const char* const COPYRIGHT = "COPYRIGHT BY SNK CORPORATION";
const char* const LICENSED = " LICENSED BY SNK CORPORATION";

// A header as a cartridge carries it: licence, entry point 0x200040,
// software ID bytes 0x59 0x00, version 2, system, title.
Bytes header(const char* licence, uint8_t system, const std::string& title)
{
    Bytes h(CART_HEADER_SIZE, 0);
    memcpy(h.data(), licence, 28);
    const uint8_t rest[] = {0x40, 0x00, 0x20, 0x00, 0x59, 0x00, 0x02, system};
    memcpy(h.data() + 0x1C, rest, sizeof rest);
    memcpy(h.data() + 0x24, title.data(), std::min<size_t>(title.size(), 12));
    return h;
}

std::string crcText(uint32_t crc)
{
    char text[9];
    snprintf(text, sizeof text, "%08x", unsigned(crc));
    return text;
}

std::string romLine(const Digests& d, bool withSha1 = true)
{
    return "<rom name=\"g.ngc\" size=\"" + std::to_string(d.size) + "\" crc=\"" + crcText(d.crc32) + "\"" +
           (withSha1 ? " sha1=\"" + toHex(d.sha1) + "\"" : "") + "/>";
}

std::string datFile(const std::string& listName, const std::string& games)
{
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
           "\"http://www.logiqx.com/Dats/datafile.dtd\">\n<datafile>" +
           (listName.empty() ? "" : "<header><name>" + listName + "</name></header>") + games + "</datafile>\n";
}

std::string game(const std::string& name, const std::string& roms)
{
    return "<game name=\"" + name + "\"><description>" + name + "</description>" + roms + "</game>";
}

std::string verdict(const KnownDumps& k, const Bytes& image)
{
    return verdictLines(k, matchKeyOf(digestsOf(image)), nullptr).back();
}

// ---- Checksums -------------------------------------------------------------

TEST(IdentityDigest, KnownVectorsInAnyChunking)
{
    for (std::vector<size_t> chunks : {std::vector<size_t>{100}, {1}, {2, 0, 5}}) {
        ImageHasher empty, abc;
        feed(empty, {}, chunks);
        feed(abc, {'a', 'b', 'c'}, chunks);
        EXPECT_EQ(Lines({crcText(empty.digests().crc32), toHex(empty.digests().md5), toHex(empty.digests().sha1),
                         toHex(empty.digests().sha256)}),
                  Lines({"00000000", "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
                         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"}));
        EXPECT_EQ(Lines({crcText(abc.digests().crc32), toHex(abc.digests().md5), toHex(abc.digests().sha1),
                         toHex(abc.digests().sha256)}),
                  Lines({"352441c2", "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d",
                         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}))
            << "in chunks of " << chunks[0];
        EXPECT_EQ(abc.digests().size, 3u);
    }
    // The header is kept from the first bytes, across chunks.
    Bytes image = pseudoRandom(1000, 3);
    ImageHasher h;
    feed(h, image, {5, 17});
    EXPECT_EQ(h.head(), Bytes(image.begin(), image.begin() + CART_HEADER_SIZE));
}

// The save-area key must equal the key of the same image with those bytes
// really erased, wherever the chunks and ranges fall.
TEST(IdentityDigest, ErasedRangesKeyTheImageAsIfErased)
{
    Bytes image = pseudoRandom(0x40000, 11);
    const struct { const char* what; std::vector<ByteRange> ranges; std::vector<size_t> chunks; } cases[] = {
        {"ranges across chunk edges", {{100, 9000}, {0x20000, 0x10001}}, {8192}},
        {"unsorted, overlapping, touching", {{0x3000, 0x1000}, {0x1000, 0x2800}, {0x4000, 0x10}}, {4096, 1}},
        {"from the first byte, and an empty one", {{0, 1}, {0x600, 0}}, {7}},
        {"running past the end", {{0x3F000, 0x100000}}, {60000}},
    };
    for (const auto& c : cases) {
        Bytes erased = image;
        for (const ByteRange& r : c.ranges)
            std::fill(erased.begin() + r.start, erased.begin() + std::min<size_t>(r.start + r.length, erased.size()), 0xFF);
        ImageHasher h(c.ranges);
        feed(h, image, c.chunks);
        ASSERT_TRUE(h.hasErasedKey()) << c.what;
        EXPECT_EQ(h.erasedKey().crc32, digestsOf(erased).crc32) << c.what;
        EXPECT_EQ(h.erasedKey().sha1, digestsOf(erased).sha1) << c.what;
        EXPECT_EQ(h.digests().sha1, digestsOf(image).sha1) << c.what << ": the bytes as read";
    }

    ImageHasher beyond({{200, 10}}), top({{UINT64_MAX - 4, 100}, {0, 2}});
    feed(beyond, Bytes(100, 0), {10});
    feed(top, Bytes(100, 0), {10});
    EXPECT_FALSE(beyond.hasErasedKey());
    // A range at the top of the address space must not wrap onto the image.
    Bytes firstTwo(100, 0);
    firstTwo[0] = firstTwo[1] = 0xFF;
    EXPECT_EQ(top.erasedKey().crc32, digestsOf(firstTwo).crc32);
}

// ---- The cartridge header ----------------------------------------------------

TEST(IdentityHeader, ColourMonochromeAndOddSystemHeadersDecoded)
{
    EXPECT_EQ(headerLines(decodeHeader(header(LICENSED, 0x10, "SIM OFFICIAL").data(), 0x40)),
              Lines({"Cart header:", "  Licence  = ' LICENSED BY SNK CORPORATION'", "  Entry    = 0x00200040",
                     "  Serial   = 0059", "  Version  = 0x02", "  System   = colour (0x10)",
                     "  Title    = 'SIM OFFICIAL'"}));
    // The software ID reads high byte (0x21) first, as the lists write it.
    Bytes mono = header(COPYRIGHT, 0x00, "MONO");
    mono[0x20] = 0x21;
    mono[0x21] = 0x10;
    EXPECT_EQ(headerLines(decodeHeader(mono.data(), mono.size())),
              Lines({"Cart header:", "  Licence  = 'COPYRIGHT BY SNK CORPORATION'", "  Entry    = 0x00200040",
                     "  Serial   = 1021", "  Version  = 0x02", "  System   = monochrome (0x00)",
                     "  Title    = 'MONO'"}));
    EXPECT_EQ(headerLines(decodeHeader(header(LICENSED, 0x01, "X").data(), 0x40))[5], "  System   = unknown (0x01)");
}

TEST(IdentityHeader, TitleBytesThatCouldMangleALineAreEscaped)
{
    Bytes h = header(LICENSED, 0x10, std::string("A\tB\\C\nD\x80\0E", 10));
    EXPECT_EQ(headerLines(decodeHeader(h.data(), h.size())).back(), "  Title    = 'A\\x09B\\x5CC\\x0AD\\x80\\x00E'");
    EXPECT_EQ(printable("caf\xC3\xA9\x01", true), "caf\xC3\xA9\\x01");
}

TEST(IdentityHeader, NoValidLicenceTextIsSaidPlainly)
{
    Bytes offByOne = header(LICENSED, 0x10, "GAME"), whole = header(COPYRIGHT, 0x10, "GAME");
    offByOne[27] = 'Y';
    for (const Bytes& b : {pseudoRandom(0x40, 5), offByOne}) {
        CartHeader d = decodeHeader(b.data(), b.size());
        EXPECT_EQ(headerLines(d), Lines{"Cart header: no valid licence text."});
        EXPECT_EQ(licenceWarningLines("x.ngp", d), Lines({"", "Warning! 'x.ngp' has no valid licence text:",
                                                         "the console will refuse to start it.", ""}));
    }
    // A file shorter than the header has none, even with the licence text.
    EXPECT_FALSE(decodeHeader(whole.data(), CART_HEADER_SIZE - 1).licensed);
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
    Digests wrongSha1 = d, longer = d;
    wrongSha1.sha1[0] ^= 1;
    longer.size++;
    dir.write("ngpc.dat", datFile("SNK - Neo Geo Pocket Color", game("Twin With Other SHA-1", romLine(wrongSha1)) +
                                                                    game("Longer", romLine(longer, false)) +
                                                                    game("The Game (World)", romLine(d))));
    EXPECT_EQ(verdict(loadKnownDumps(dir.path), image),
              "Known dump: 'The Game (World)' in 'SNK - Neo Geo Pocket Color'.");

    dir.write("ngpc.dat", datFile("L", game("Longer", romLine(longer, false)) + game("No SHA-1", romLine(d, false))));
    EXPECT_EQ(verdict(loadKnownDumps(dir.path), image), "Known dump: 'No SHA-1' in 'L'.");

    dir.write("ngpc.dat", datFile("L", game("Twin", romLine(wrongSha1)) + game("Longer", romLine(longer, false))));
    EXPECT_EQ(verdict(loadKnownDumps(dir.path), image),
              "Near a known dump: 'Twin' in 'L' has this size and CRC32 but another SHA-1.");
}

// The order of an image's lines; a list without a name goes by its file's.
TEST_F(KnownDumpsTest, WholeReportOfAnImage)
{
    Bytes cart = header(LICENSED, 0x10, "SIM OFFICIAL");
    cart.resize(0x1000, 0xAB);
    Digests c = digestsOf(cart);
    dir.write("list.dat", datFile("", game("Sim", romLine(c))));
    ImageHasher h;
    feed(h, cart, {512});
    EXPECT_EQ(imageLines("sim.ngp", h, loadKnownDumps(dir.path)),
              Lines({"Identity of 'sim.ngp':", "  Size     = 4096 bytes", "  CRC32    = " + crcText(c.crc32),
                     "  MD5      = " + toHex(c.md5), "  SHA-1    = " + toHex(c.sha1), "  SHA-256  = " + toHex(c.sha256),
                     "Cart header:", "  Licence  = ' LICENSED BY SNK CORPORATION'", "  Entry    = 0x00200040",
                     "  Serial   = 0059", "  Version  = 0x02", "  System   = colour (0x10)",
                     "  Title    = 'SIM OFFICIAL'", "Known dump: 'Sim' in 'list.dat'."}));
}

TEST_F(KnownDumpsTest, BadListsAreSkippedWithOneLineEachAndTheRestStillMatch)
{
    dir.write("a-text.dat", "this is not XML at all");
    dir.write("b-empty.dat", "");
    dir.write("c-other.dat", "<?xml version=\"1.0\"?><softwarelist/>");
    dir.write("d-no-attrs.dat", datFile("X", game("G", "<rom name=\"a\"/><rom size=\"12\"/>")));
    dir.write("e-bad-values.dat", datFile("X", game("G", "<rom size=\"-1\" crc=\"12345678\"/>"
                                                         "<rom size=\"99999999999999999999\" crc=\"12345678\"/>"
                                                         "<rom size=\"1\" crc=\"1234567\"/><rom size=\"1\" crc=\"1234567g\"/>")));
    dir.write("f-nothing.dat", datFile("X", ""));
    dir.write("g-cut.dat", datFile("X", game("G", romLine(d))).substr(0, 150));
    dir.write("h-good.DAT", datFile("Good\x01" "List", "<machine name=\"&lt;&amp;&gt;&#9;Found\">" + romLine(d) +
                                                           "</machine>"));
    dir.write("i-partly.dat", datFile("Partly", game("A", "<rom size=\"1\" crc=\"00000000\" sha1=\"abc\"/>") +
                                                    game("B", romLine(digestsOf(Bytes(1, 0)))) +
                                                    game("C", "<rom name=\"never dumped\" status=\"nodump\"/>")));
    mkdir((dir.path + "/j-folder.dat").c_str(), 0755);
    ASSERT_EQ(mkfifo((dir.path + "/k-fifo.dat").c_str(), 0644), 0);  // opening it must not block
    dir.write("readme.txt", datFile("Not a list", game("G", romLine(d))));

    KnownDumps k = loadKnownDumps(dir.path);
    const std::string s = "Skipped known-dump list '";
    EXPECT_EQ(k.notes, Lines({s + "a-text.dat': not XML (No document element found at byte 21).",
                              s + "b-empty.dat': not XML (No document element found at byte 0).",
                              s + "c-other.dat': not a Logiqx list (no datafile element).",
                              s + "d-no-attrs.dat': no entry with a valid size and CRC32.",
                              s + "e-bad-values.dat': no entry with a valid size and CRC32.",
                              s + "f-nothing.dat': no dump entries in it.",
                              s + "g-cut.dat': not XML (Error parsing start element tag at byte 149).",
                              "Known-dump list 'i-partly.dat': 1 malformed entries left out.",
                              s + "k-fifo.dat': not a regular file."}));
    EXPECT_EQ(k.lists, Lines({"Good\x01List", "Partly"}));
    EXPECT_EQ(k.entries.size(), 2u);
    Lines v = verdictLines(k, matchKeyOf(d), nullptr);
    EXPECT_EQ(v.size(), k.notes.size() + 1);
    // Names from a list are shown with their control characters escaped.
    EXPECT_EQ(v.back(), "Known dump: '<&>\\x09Found' in 'Good\\x01List'.");
}

TEST_F(KnownDumpsTest, HugeListIsRefusedUnreadButOneAtTheLimitIsRead)
{
    dir.write("huge.dat", "");
    ASSERT_EQ(truncate((dir.path + "/huge.dat").c_str(), off_t(2) << 30), 0);  // sparse: no disk used
    std::string atLimit = datFile("At limit", game("G", romLine(d)));
    dir.write("limit.dat", atLimit + std::string(MAX_LIST_BYTES - atLimit.size(), ' '));
    KnownDumps k = loadKnownDumps(dir.path);
    EXPECT_EQ(k.notes, Lines{"Skipped known-dump list 'huge.dat': larger than 32 MiB."});
    EXPECT_EQ(k.lists, Lines{"At limit"});
}

// No limit on the lists: a dump only the last of a thousand knows is known.
TEST_F(KnownDumpsTest, AThousandListsAreAllRead)
{
    Digests other = digestsOf(Bytes(3, 1));
    for (int i = 0; i < 1000; i++) {
        char name[32];
        snprintf(name, sizeof name, "list%04d.dat", i);
        dir.write(name, datFile(name, game(name, romLine(i == 999 ? d : other))));
    }
    KnownDumps k = loadKnownDumps(dir.path);
    EXPECT_EQ(k.notes, Lines{});
    ASSERT_EQ(k.lists.size(), 1000u);
    EXPECT_EQ(verdict(k, image), "Known dump: 'list0999.dat' in 'list0999.dat'.");
}

// Sets variables (null: unset) for one scope.
struct Environment {
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
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

}  // namespace
