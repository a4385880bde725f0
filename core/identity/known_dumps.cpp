#include "core/identity/known_dumps.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/identity/header.h"

namespace fs = std::filesystem;

const DumpEntry* KnownDumps::find(const MatchKey& key) const
{
    for (const DumpEntry& e : entries)
        if (e.size == key.size && e.crc32 == key.crc32 && (!e.hasSha1 || e.sha1 == key.sha1))
            return &e;
    return nullptr;
}

static std::string fromEnvironment(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

std::string knownDumpDir()
{
    std::string dir = fromEnvironment("PTB_DAT_DIR");
    if (!dir.empty())
        return dir;
    // A relative XDG_DATA_HOME is invalid and to be ignored.
    std::string data = fromEnvironment("XDG_DATA_HOME");
    if (data.empty() || data[0] != '/') {
        std::string home = fromEnvironment("HOME");
        if (home.empty()) {
            const passwd* pw = getpwuid(getuid());
            home = pw && pw->pw_dir ? pw->pw_dir : "";
        }
        data = home + "/.local/share";
    }
    return data + "/pockettetherbox/dat";
}

static bool isListName(const std::string& name)
{
    if (name.size() < 5)
        return false;
    std::string ext = name.substr(name.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return tolower(c); });
    return ext == ".dat";
}

// Reads the whole list, refusing anything that could block (a FIFO, a
// device) or that is too big to be a list, without reading it first.
static bool readList(const std::string& path, std::vector<char>* text, std::string* why)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        return false;
    }
    struct stat st;
    bool ok = false;
    if (fstat(fd, &st) != 0) {
        *why = strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        *why = "not a regular file";
    } else if (uint64_t(st.st_size) > MAX_LIST_BYTES) {
        *why = "larger than " + std::to_string(MAX_LIST_BYTES >> 20) + " MiB";
    } else {
        // One byte more than allowed tells a file that grew since fstat.
        text->resize(size_t(st.st_size) + 1);
        size_t got = 0;
        ok = true;
        while (got < text->size()) {
            ssize_t n = read(fd, text->data() + got, text->size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                *why = strerror(errno);
                ok = false;
                break;
            }
            if (n == 0)
                break;
            got += size_t(n);
            if (got > MAX_LIST_BYTES) {
                *why = "larger than " + std::to_string(MAX_LIST_BYTES >> 20) + " MiB";
                ok = false;
                break;
            }
            if (got == text->size())
                text->resize(std::min<size_t>(text->size() * 2, MAX_LIST_BYTES + 1));
        }
        text->resize(got);
    }
    close(fd);
    return ok;
}

static bool parseDecimal(const char* s, uint64_t* out)
{
    if (!*s)
        return false;
    uint64_t v = 0;
    for (; *s; s++) {
        if (*s < '0' || *s > '9' || v > (UINT64_MAX - uint64_t(*s - '0')) / 10)
            return false;
        v = v * 10 + uint64_t(*s - '0');
    }
    *out = v;
    return true;
}

static int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Exactly 2 × `length` hex digits into `out`.
static bool parseHex(const char* s, uint8_t* out, size_t length)
{
    if (strlen(s) != length * 2)
        return false;
    for (size_t i = 0; i < length; i++) {
        int hi = hexDigit(s[2 * i]), lo = hexDigit(s[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = uint8_t(hi << 4 | lo);
    }
    return true;
}

static bool parseRom(const pugi::xml_node& rom, DumpEntry* e)
{
    uint8_t crc[4];
    if (!parseDecimal(rom.attribute("size").value(), &e->size) ||
        !parseHex(rom.attribute("crc").value(), crc, 4))
        return false;
    e->crc32 = uint32_t(crc[0]) << 24 | uint32_t(crc[1]) << 16 | uint32_t(crc[2]) << 8 | crc[3];
    const char* sha1 = rom.attribute("sha1").value();
    e->hasSha1 = *sha1 != '\0';
    return !e->hasSha1 || parseHex(sha1, e->sha1.data(), e->sha1.size());
}

// One list into `into`; returns the note to log, or "" when all went in.
static std::string parseList(std::vector<char>& text, const std::string& fileName,
                             KnownDumps* into)
{
    const std::string skipped = "Skipped known-dump list '" + printable(fileName, true) + "': ";
    pugi::xml_document doc;
    pugi::xml_parse_result parsed = doc.load_buffer_inplace(text.data(), text.size());
    if (!parsed)
        return skipped + "not XML (" + parsed.description() + " at byte " +
               std::to_string(parsed.offset) + ").";
    pugi::xml_node root = doc.child("datafile");
    if (!root)
        return skipped + "not a Logiqx list (no datafile element).";

    std::string name = root.child("header").child_value("name");
    size_t listIndex = into->lists.size();
    size_t good = 0, bad = 0;
    for (pugi::xml_node game : root.children()) {
        if (strcmp(game.name(), "game") != 0 && strcmp(game.name(), "machine") != 0)
            continue;
        for (pugi::xml_node rom : game.children("rom")) {
            // A dump nobody has made carries no checksums to match.
            if (strcmp(rom.attribute("status").value(), "nodump") == 0)
                continue;
            DumpEntry e;
            if (!parseRom(rom, &e)) {
                bad++;
                continue;
            }
            e.game = game.attribute("name").value();
            e.list = listIndex;
            into->entries.push_back(std::move(e));
            good++;
        }
    }
    if (good == 0)
        return skipped + (bad ? "no entry with a valid size and CRC32." : "no dump entries in it.");
    into->lists.push_back(name.empty() ? fileName : name);
    if (bad)
        return "Known-dump list '" + printable(fileName, true) + "': " + std::to_string(bad) +
               " malformed entries left out.";
    return "";
}

KnownDumps loadKnownDumps(const std::string& dir)
{
    KnownDumps known;
    known.dir = dir;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        // No folder is the usual case: the verdict says where the lists go.
        if (ec != std::errc::no_such_file_or_directory)
            known.notes.push_back("Can't read the known-dump lists in '" + printable(dir, true) +
                                  "': " + ec.message() + ".");
        return known;
    }
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        std::string name = it->path().filename().string();
        if (isListName(name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    if (names.size() > MAX_LISTS) {
        known.notes.push_back("Only the first " + std::to_string(MAX_LISTS) +
                              " known-dump lists are read; " +
                              std::to_string(names.size() - MAX_LISTS) + " more left out.");
        names.resize(MAX_LISTS);
    }
    for (const std::string& name : names) {
        std::vector<char> text;
        std::string why;
        std::string note;
        if (!readList(dir + "/" + name, &text, &why))
            note = "Skipped known-dump list '" + printable(name, true) + "': " + why + ".";
        else
            note = parseList(text, name, &known);
        if (!note.empty())
            known.notes.push_back(note);
    }
    return known;
}
