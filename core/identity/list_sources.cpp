#include "core/identity/list_sources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

#include "core/identity/header.h"
#include "core/identity/known_dumps.h"

namespace fs = std::filesystem;

namespace {

enum class Packing { None, Plain, Gzip, Zip };

bool endsWith(const std::string& name, const char* tail)
{
    size_t n = strlen(tail);
    if (name.size() <= n)
        return false;
    for (size_t i = 0; i < n; i++)
        if (tolower(static_cast<unsigned char>(name[name.size() - n + i])) != tail[i])
            return false;
    return true;
}

bool isPlainListName(const std::string& name)
{
    return endsWith(name, ".dat") || endsWith(name, ".xml");
}

Packing packingOf(const std::string& name)
{
    if (isPlainListName(name))
        return Packing::Plain;
    if (endsWith(name, ".dat.gz") || endsWith(name, ".xml.gz"))
        return Packing::Gzip;
    if (endsWith(name, ".zip"))
        return Packing::Zip;
    return Packing::None;
}

const std::string TOO_BIG = "larger than " + std::to_string(MAX_LIST_BYTES >> 20) + " MiB";

// Opens a list without blocking on a FIFO or a device, which are refused.
int openRegular(const std::string& path, std::string* why, off_t* size, bool* unread)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        *unread = true;
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0)
        *why = strerror(errno), *unread = true;
    else if (!S_ISREG(st.st_mode))
        *why = "not a regular file";
    if (!why->empty()) {
        close(fd);
        return -1;
    }
    *size = st.st_size;
    return fd;
}

// Reads through `readSome` up to the limit and one byte more, which tells a
// list too big however it is packed or whatever its size claimed.
template <typename ReadSome>
bool readCapped(ReadSome readSome, size_t expected, std::vector<char>* text, std::string* why)
{
    text->resize(std::min<size_t>(expected, MAX_LIST_BYTES) + 1);
    size_t got = 0;
    for (;;) {
        long n = readSome(text->data() + got, text->size() - got);
        if (n < 0) {
            text->clear();
            return false;
        }
        if (n == 0)
            break;
        got += size_t(n);
        if (got > MAX_LIST_BYTES) {
            *why = TOO_BIG;
            text->clear();
            return false;
        }
        if (got == text->size())
            text->resize(std::min<size_t>(text->size() * 2, MAX_LIST_BYTES + 1));
    }
    text->resize(got);
    return true;
}

void readPlain(const std::string& path, ListText* list)
{
    off_t size = 0;
    int fd = openRegular(path, &list->why, &size, &list->unread);
    if (fd < 0)
        return;
    // A huge file is refused before a byte of it is read.
    if (uint64_t(size) > MAX_LIST_BYTES) {
        list->why = TOO_BIG;
    } else {
        readCapped(
            [&](char* to, size_t room) -> long {
                ssize_t n;
                while ((n = read(fd, to, room)) < 0 && errno == EINTR) {
                }
                if (n < 0)
                    list->why = strerror(errno), list->unread = true;
                return long(n);
            },
            size_t(size), &list->text, &list->why);
    }
    close(fd);
}

// zlib's words for its fault, without the "<fd:3>: " it puts before them.
std::string gzipFault(gzFile gz, int* code)
{
    std::string text = gzerror(gz, code);
    if (text.rfind("<fd:", 0) == 0 && text.find(": ") != std::string::npos)
        text.erase(0, text.find(": ") + 2);
    return "not a readable gzip file (" + text + ")";
}

void readGzip(const std::string& path, ListText* list)
{
    off_t size = 0;
    int fd = openRegular(path, &list->why, &size, &list->unread);
    if (fd < 0)
        return;
    gzFile gz = gzdopen(fd, "rb");
    if (!gz) {
        close(fd);
        list->why = "not a gzip file";
        return;
    }
    readCapped(
        [&](char* to, size_t room) -> long {
            int n = gzread(gz, to, unsigned(std::min<size_t>(room, 1u << 30)));
            int code = 0;
            if (n < 0)
                list->why = gzipFault(gz, &code);
            return n;
        },
        size_t(size) * 4, &list->text, &list->why);
    // A cut stream may end quietly; zlib keeps the fault for the asking.
    int code = Z_OK;
    std::string fault = gzipFault(gz, &code);
    if (code != Z_OK && list->why.empty())
        list->why = fault;
    gzclose(gz);
}

std::string zipError(zip_error_t* error)
{
    std::string text = zip_error_strerror(error);
    if (!text.empty())
        text[0] = char(tolower(static_cast<unsigned char>(text[0])));
    return text;
}

// The resource files a Mac adds to a zip it makes ("__MACOSX/._x.dat"):
// no lists, whatever their names, and skipped without a word as ROM
// managers skip them.
bool isMacResource(const std::string& member)
{
    return member.rfind("__MACOSX/", 0) == 0 && member.substr(member.rfind('/') + 1).rfind("._", 0) == 0;
}

// Why a member of a zip that is no list is not read, or "" for a folder
// entry, which goes without a word. `archive`: it might hold lists itself.
std::string skippedMember(const std::string& member, bool* archive)
{
    *archive = true;
    if (endsWith(member, ".zip"))
        return "a zip inside a zip, which is not opened";
    if (endsWith(member, ".7z"))
        return "a 7z archive, which is not read";
    if (endsWith(member, ".gz"))
        return "a gzip file inside a zip, which is not opened";
    *archive = false;
    return member.empty() || member.back() == '/' ? "" : "not a .dat or .xml list";
}

// Every list inside a zip, in the order the zip holds them, and a line for
// every other member.
void readZip(const std::string& path, const std::string& name,
             const std::function<void(ListText&)>& take)
{
    ListText whole;
    whole.name = name;
    off_t size = 0;
    int fd = openRegular(path, &whole.why, &size, &whole.unread);
    if (fd < 0) {
        take(whole);
        return;
    }
    int code = 0;
    zip_t* zip = zip_fdopen(fd, ZIP_RDONLY, &code);
    if (!zip) {
        close(fd);
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        whole.why = zipError(&error);
        zip_error_fini(&error);
        take(whole);
        return;
    }
    zip_int64_t members = zip_get_num_entries(zip, 0);
    // Said after the lists: all of them, or for a zip with no list, only
    // what might have held one, the zip itself saying the rest.
    std::vector<std::pair<ListText, bool>> others;  // and whether it is an archive
    bool found = false, archives = false;
    for (zip_int64_t i = 0; i < members; i++) {
        zip_stat_t st;
        if (zip_stat_index(zip, zip_uint64_t(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME) ||
            isMacResource(st.name))
            continue;
        if (!isPlainListName(st.name)) {
            ListText other;
            other.name = name + "/" + st.name;
            bool archive = false;
            other.why = skippedMember(st.name, &archive);
            archives = archives || archive;
            if (!other.why.empty())
                others.push_back({other, archive});
            continue;
        }
        found = true;
        ListText list;
        list.name = name + "/" + st.name;
        if ((st.valid & ZIP_STAT_SIZE) && st.size > MAX_LIST_BYTES) {
            list.why = TOO_BIG;
        } else if (zip_file_t* member = zip_fopen_index(zip, zip_uint64_t(i), 0)) {
            readCapped(
                [&](char* to, size_t room) -> long {
                    zip_int64_t n = zip_fread(member, to, room);
                    if (n < 0)
                        list.why = zipError(zip_file_get_error(member));
                    return long(n);
                },
                (st.valid & ZIP_STAT_SIZE) ? size_t(st.size) : 0, &list.text, &list.why);
            zip_fclose(member);
        } else {
            list.why = zipError(zip_get_error(zip));
        }
        take(list);
    }
    zip_discard(zip);
    for (auto& [other, archive] : others)
        if (found || archive)
            take(other);
    if (!found && !archives) {
        whole.why = "no .dat or .xml list inside";
        take(whole);
    }
}

// The lists in one folder and, through links too, its subfolders. A
// subfolder that cannot be read is kept in `unreadable` and the walk goes
// on; the folder's own fault is returned.
std::error_code walk(const std::string& top, const std::string& under, std::set<std::pair<dev_t, ino_t>>& seen,
                     std::vector<std::string>* names, std::vector<ListText>* unreadable)
{
    std::error_code ec;
    fs::directory_iterator it(under.empty() ? top : top + "/" + under, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = (under.empty() ? "" : under + "/") + it->path().filename().string();
        std::error_code kind;
        struct stat st;
        if (!it->is_directory(kind)) {
            if (packingOf(name) != Packing::None)
                names->push_back(name);
        } else if (stat(it->path().c_str(), &st) == 0 && seen.insert({st.st_dev, st.st_ino}).second) {
            if (std::error_code fault = walk(top, name, seen, names, unreadable)) {
                ListText folder;
                folder.name = name;
                folder.why = fault.message();
                folder.unread = folder.folder = true;
                unreadable->push_back(folder);
            }
        }
    }
    return ec;
}

}  // namespace

void forEachListText(const std::string& dir, const std::function<void(ListText&)>& take,
                     std::string* folderProblem)
{
    std::error_code ec;
    fs::file_status status = fs::status(dir, ec);
    if (ec || !fs::exists(status)) {
        // No folder is the usual case: the verdict says where the lists go.
        if (ec && ec != std::errc::no_such_file_or_directory)
            *folderProblem = "can't read '" + printable(dir, true) + "': " + ec.message();
        return;
    }
    if (!fs::is_directory(status)) {
        *folderProblem = "'" + printable(dir, true) + "' is not a folder; the lists go in a folder";
        return;
    }
    // A folder reached twice (a link back up the tree) is walked once.
    std::set<std::pair<dev_t, ino_t>> seen;
    struct stat top;
    if (stat(dir.c_str(), &top) == 0)
        seen.insert({top.st_dev, top.st_ino});
    std::vector<std::string> names;  // relative to the folder
    std::vector<ListText> unreadable;
    ec = walk(dir, "", seen, &names, &unreadable);
    if (ec) {
        *folderProblem = "can't read '" + printable(dir, true) + "': " + ec.message();
        return;
    }
    for (const ListText& folder : unreadable)
        names.push_back(folder.name);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        auto folder = std::find_if(unreadable.begin(), unreadable.end(),
                                   [&](const ListText& f) { return f.name == name; });
        if (folder != unreadable.end()) {
            take(*folder);
            continue;
        }
        std::string path = dir + "/" + name;
        Packing packing = packingOf(name);
        if (packing == Packing::Zip) {
            readZip(path, name, take);
            continue;
        }
        ListText list;
        list.name = name;
        if (packing == Packing::Gzip)
            readGzip(path, &list);
        else
            readPlain(path, &list);
        take(list);
    }
}
