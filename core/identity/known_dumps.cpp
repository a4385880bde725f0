#include "core/identity/known_dumps.h"

#include <pwd.h>
#include <unistd.h>

#include <pugixml.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

#include "core/app_folders.h"
#include "core/identity/header.h"
#include "core/identity/list_sources.h"
#include "core/shown_text.h"

template <typename Test>
static const DumpEntry* firstWhere(const std::vector<DumpEntry>& entries, Test test)
{
    for (const DumpEntry& e : entries)
        if (test(e))
            return &e;
    return nullptr;
}

const DumpEntry* KnownDumps::find(const MatchKey& key) const
{
    return firstWhere(entries, [&](const DumpEntry& e) {
        return e.size == key.size && e.crc32 == key.crc32 && (!e.hasSha1 || e.sha1 == key.sha1);
    });
}

const DumpEntry* KnownDumps::findCrcOtherSize(const MatchKey& key) const
{
    return firstWhere(entries, [&](const DumpEntry& e) { return e.crc32 == key.crc32 && e.size != key.size; });
}

const DumpEntry* KnownDumps::findOtherSha1(const MatchKey& key) const
{
    return firstWhere(entries, [&](const DumpEntry& e) {
        return e.size == key.size && e.crc32 == key.crc32 && e.hasSha1 && e.sha1 != key.sha1;
    });
}

static bool sameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool sameSerial(const std::string& listed, const std::string& header)
{
    if (header.empty() || listed.size() < header.size())
        return false;
    size_t prefix = listed.size() - header.size();
    if (!sameText(listed.substr(prefix), header))
        return false;
    return prefix == 0 || !isxdigit(static_cast<unsigned char>(listed[prefix - 1]));
}

const DumpEntry* KnownDumps::findSerial(const std::string& serial, uint64_t size, bool otherSize) const
{
    return firstWhere(entries, [&](const DumpEntry& e) {
        return sameSerial(e.serial, serial) && (e.size == size) != otherSize;
    });
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
    return data + "/" + appFolderName() + "/dat";
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

// Exactly 2 × `length` hex digits into `out`.
static bool parseHex(const char* s, uint8_t* out, size_t length)
{
    if (strlen(s) != length * 2)
        return false;
    for (size_t i = 0; i < length; i++) {
        int hi = hexDigitValue(s[2 * i]), lo = hexDigitValue(s[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = uint8_t(hi << 4 | lo);
    }
    return true;
}

static void appendUtf8(std::string* out, uint32_t c)
{
    if (c < 0x80) {
        *out += char(c);
    } else if (c < 0x800) {
        *out += char(0xC0 | c >> 6);
        *out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += char(0xE0 | c >> 12);
        *out += char(0x80 | (c >> 6 & 0x3F));
        *out += char(0x80 | (c & 0x3F));
    } else {
        *out += char(0xF0 | c >> 18);
        *out += char(0x80 | (c >> 12 & 0x3F));
        *out += char(0x80 | (c >> 6 & 0x3F));
        *out += char(0x80 | (c & 0x3F));
    }
}

// A list's text with its references resolved, whole: the XML reader would
// end a name at a "&#0;", leaving a shorter name that looks harmless.
// A reference it does not know stays as written.
static std::string listText(const char* raw)
{
    static const struct { const char* name; char c; } NAMED[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
    std::string out;
    for (const char* p = raw; *p;) {
        const char* end = *p == '&' ? strchr(p, ';') : nullptr;
        if (!end) {
            out += *p++;
            continue;
        }
        std::string ref(p + 1, end);
        bool resolved = false;
        if (ref.size() > 1 && ref[0] == '#') {
            bool hex = ref[1] == 'x' || ref[1] == 'X';
            std::string digits = ref.substr(hex ? 2 : 1);
            uint32_t c = 0;
            resolved = !digits.empty() && digits.size() <= 8;
            for (char d : digits) {
                int v = hex ? hexDigitValue(d) : d >= '0' && d <= '9' ? d - '0' : -1;
                resolved = resolved && v >= 0;
                c = c * (hex ? 16 : 10) + uint32_t(v);
            }
            resolved = resolved && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
            if (resolved)
                appendUtf8(&out, c);
        } else {
            for (const auto& n : NAMED)
                if (ref == n.name) {
                    out += n.c;
                    resolved = true;
                }
        }
        if (!resolved) {
            out += *p++;
            continue;
        }
        p = end + 1;
    }
    return out;
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

// One list as parsed, before it is known whether a newer version of it is
// also in the folder.
struct ParsedList {
    std::string file;  // where it was read, as notes name it
    std::string name;  // the header's, or the file's when it gives none
    bool named = false;
    std::string version, date;
    std::vector<DumpEntry> entries;
};

// A clrmamepro text list opens with `clrmamepro (`, maybe after blanks.
static bool isClrmameproText(const std::vector<char>& text)
{
    static const char MARK[] = "clrmamepro";
    size_t at = 0;
    if (text.size() >= 3 && memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0)
        at = 3;
    while (at < text.size() && isspace(static_cast<unsigned char>(text[at])))
        at++;
    return text.size() - at >= sizeof MARK - 1 && strncasecmp(text.data() + at, MARK, sizeof MARK - 1) == 0;
}

// One list into `into`; returns the note to log, or "" when all went in.
static std::string parseList(std::vector<char>& text, const std::string& fileName, ParsedList* into)
{
    const std::string skipped = "Skipped known-dump list '" + printable(fileName, true) + "': ";
    if (isClrmameproText(text))
        return skipped + "a clrmamepro text list, which is not read; get the XML (Logiqx) one.";
    pugi::xml_document doc;
    pugi::xml_parse_result parsed =
        doc.load_buffer_inplace(text.data(), text.size(), pugi::parse_default & ~pugi::parse_escapes);
    if (!parsed)
        return skipped + "not XML (" + parsed.description() + " at byte " +
               std::to_string(parsed.offset) + ").";
    pugi::xml_node root = doc.child("datafile");
    if (!root)
        return skipped + "not a Logiqx list (no datafile element).";

    pugi::xml_node header = root.child("header");
    into->file = fileName;
    into->name = listText(header.child_value("name"));
    into->named = !into->name.empty();
    if (!into->named)
        into->name = fileName;
    into->version = listText(header.child_value("version"));
    into->date = listText(header.child_value("date"));
    size_t bad = 0;
    for (pugi::xml_node game : root.children()) {
        if (strcmp(game.name(), "game") != 0 && strcmp(game.name(), "machine") != 0)
            continue;
        for (pugi::xml_node rom : game.children("rom")) {
            // A dump nobody has made carries no checksums to match.
            if (listText(rom.attribute("status").value()) == "nodump")
                continue;
            DumpEntry e;
            if (!parseRom(rom, &e)) {
                bad++;
                continue;
            }
            e.game = listText(game.attribute("name").value());
            e.romName = listText(rom.attribute("name").value());
            e.status = listText(rom.attribute("status").value());
            e.serial = listText(rom.attribute("serial").value());
            if (e.serial.empty())
                e.serial = listText(game.child_value("serial"));
            into->entries.push_back(std::move(e));
        }
    }
    if (into->entries.empty())
        return skipped + (bad ? "no entry with a valid size and CRC32." : "no dump entries in it.");
    if (bad)
        return "Known-dump list '" + printable(fileName, true) + "': " + std::to_string(bad) +
               " malformed entries left out.";
    return "";
}

int compareVersions(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        bool da = isdigit(static_cast<unsigned char>(a[i])), db = isdigit(static_cast<unsigned char>(b[j]));
        if (da && db) {
            size_t ei = i, ej = j;
            while (ei < a.size() && isdigit(static_cast<unsigned char>(a[ei])))
                ei++;
            while (ej < b.size() && isdigit(static_cast<unsigned char>(b[ej])))
                ej++;
            // By value: strip leading zeros, then the longer run is larger.
            while (i + 1 < ei && a[i] == '0')
                i++;
            while (j + 1 < ej && b[j] == '0')
                j++;
            if (ei - i != ej - j)
                return ei - i < ej - j ? -1 : 1;
            int c = a.compare(i, ei - i, b, j, ej - j);
            if (c != 0)
                return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
            i++;
            j++;
        }
    }
    return i < a.size() ? 1 : j < b.size() ? -1 : 0;
}

static bool newer(const ParsedList& a, const ParsedList& b)
{
    int byVersion = compareVersions(a.version, b.version);
    return byVersion != 0 ? byVersion > 0 : compareVersions(a.date, b.date) > 0;
}

KnownDumps loadKnownDumps(const std::string& dir)
{
    KnownDumps known;
    known.dir = dir;
    std::vector<ParsedList> parsed;
    std::map<std::string, size_t> newest;  // a named list's newest version, by index in `parsed`
    std::vector<ParsedList> dropped;  // versions left out, without their entries
    forEachListText(
        dir,
        [&](ListText& list) {
            if (!list.why.empty()) {
                known.notes.push_back(std::string(list.folder ? "Skipped known-dump folder '" : "Skipped known-dump list '") +
                                      printable(list.name, true) + "': " + list.why + ".");
                known.unread += list.unread;
                return;
            }
            ParsedList p;
            std::string note = parseList(list.text, list.name, &p);
            if (!note.empty())
                known.notes.push_back(note);
            if (p.entries.empty())
                return;
            // Lists of one name are versions of one list: the newest counts,
            // the first in path order among equals.
            if (p.named) {
                auto [at, first] = newest.emplace(p.name, parsed.size());
                if (!first) {
                    ParsedList& kept = parsed[at->second];
                    if (newer(p, kept))
                        std::swap(p, kept);
                    p.entries.clear();
                    dropped.push_back(std::move(p));
                    return;
                }
            }
            parsed.push_back(std::move(p));
        },
        &known.folderProblem);
    // Said once all are read: a later file may hold a newer version still.
    for (const ParsedList& old : dropped) {
        const ParsedList& kept = parsed[newest.at(old.name)];
        bool older = newer(kept, old);
        known.notes.push_back("Skipped known-dump list '" + printable(old.file, true) + "': " +
                              (older ? "an older version of '" : "the same version of '") +
                              printable(kept.name, true) + (older ? "' than '" : "' as '") +
                              printable(kept.file, true) + "'.");
    }
    for (ParsedList& p : parsed) {
        size_t index = known.lists.size();
        known.lists.push_back(p.version.empty() ? p.name : p.name + " (" + p.version + ")");
        for (DumpEntry& e : p.entries) {
            e.list = index;
            known.entries.push_back(std::move(e));
        }
    }
    return known;
}

std::string safeFileName(const std::string& name, std::string* why)
{
    if (name.empty())
        *why = "the list gives it no file name";
    else if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos)
        *why = "the list's file name holds a path separator";
    else if (name == "..")
        *why = "the list's file name holds \"..\"";
    else if (std::any_of(name.begin(), name.end(), [](char c) { return (unsigned char)c < 0x20 || c == 0x7F; }))
        *why = "the list's file name holds a control byte";
    else if (name.find_first_not_of(". ") == std::string::npos)
        *why = "the list's file name is only dots and blanks";
    else
        return name;
    return "";
}
