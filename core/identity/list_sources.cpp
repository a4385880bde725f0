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
int openRegular(const std::string& path, std::string* why, off_t* size)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0)
        *why = strerror(errno);
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
    int fd = openRegular(path, &list->why, &size);
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
                    list->why = strerror(errno);
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
    int fd = openRegular(path, &list->why, &size);
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

// Every list inside a zip, in the order the zip holds them.
void readZip(const std::string& path, const std::string& name,
             const std::function<void(ListText&)>& take)
{
    ListText whole;
    whole.name = name;
    off_t size = 0;
    int fd = openRegular(path, &whole.why, &size);
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
    size_t found = 0;
    for (zip_int64_t i = 0; i < members; i++) {
        zip_stat_t st;
        if (zip_stat_index(zip, zip_uint64_t(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME) ||
            !isPlainListName(st.name))
            continue;
        found++;
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
    if (found == 0) {
        whole.why = "no .dat or .xml list inside";
        take(whole);
    }
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
    fs::recursive_directory_iterator it(dir, ec);
    if (ec) {
        *folderProblem = "can't read '" + printable(dir, true) + "': " + ec.message();
        return;
    }
    std::vector<std::string> names;  // relative to the folder
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        std::error_code kind;
        if (it->is_directory(kind))
            continue;
        std::string name = it->path().lexically_relative(dir).string();
        if (packingOf(name) != Packing::None)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
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
