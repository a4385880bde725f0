#include "core/saves/safety_copy.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <tuple>

#include "core/report.h"

namespace fs = std::filesystem;

static const char STAMP_FORMAT[] = "%Y-%m-%d_%H-%M-%S";
static const char STAMP_SHAPE[] = "0000-00-00_00-00-00";  // '0' stands for a digit
static const size_t STAMP_LEN = sizeof STAMP_SHAPE - 1;
static const char COPY_EXT[] = ".ngf";

std::string gameFolderName(const uint8_t header[CART_HEADER_BYTES])
{
    const uint8_t* title = header + CART_HEADER_NAME_ADDR;
    size_t n = 0;
    while (n < 12 && title[n] != 0)
        n++;
    while (n > 0 && title[n - 1] == ' ')
        n--;
    std::string name;
    for (size_t i = 0; i < n; i++) {
        char c = char(title[i]);
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_';
        name += keep ? c : '_';
    }
    if (name.empty())
        name = "untitled";
    char id[8];
    snprintf(id, sizeof id, "-%02X%02X", header[CART_HEADER_ID_ADDR + 1], header[CART_HEADER_ID_ADDR]);
    return name + id;
}

std::string safetyCopyRoot()
{
    std::string base;
    const char* data = getenv("XDG_DATA_HOME");
    // Relative values are to be ignored: they would depend on where the
    // program happened to be started.
    if (data && data[0] == '/') {
        base = data;
    } else {
        const char* home = getenv("HOME");
        if (!home || !home[0]) {
            const passwd* pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : "";
        }
        base = std::string(home) + "/.local/share";
    }
    return base + "/pockettetherbox/saves";
}

// A copy's name: its stamp and, when several fell in one second, a count.
struct CopyName {
    std::string stamp;
    unsigned count;
    fs::path path;
};

static bool parseCopyName(const std::string& name, CopyName* out)
{
    size_t ext = sizeof COPY_EXT - 1;
    if (name.size() < STAMP_LEN + ext || name.compare(name.size() - ext, ext, COPY_EXT) != 0)
        return false;
    for (size_t i = 0; i < STAMP_LEN; i++) {
        bool digit = name[i] >= '0' && name[i] <= '9';
        if (STAMP_SHAPE[i] == '0' ? !digit : name[i] != STAMP_SHAPE[i])
            return false;
    }
    std::string rest = name.substr(STAMP_LEN, name.size() - STAMP_LEN - ext);
    out->stamp = name.substr(0, STAMP_LEN);
    out->count = 1;
    if (rest.empty())
        return true;
    if (rest.size() < 2 || rest.size() > 6 || rest[0] != '_' ||
        rest.find_first_not_of("0123456789", 1) != std::string::npos)
        return false;
    out->count = unsigned(std::stoul(rest.substr(1)));
    return true;
}

void pruneSafetyCopies(const std::string& folder, int keep)
{
    std::vector<CopyName> copies;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        CopyName c;
        if (it->is_regular_file(ec) && parseCopyName(it->path().filename().string(), &c)) {
            c.path = it->path();
            copies.push_back(c);
        }
    }
    if (int(copies.size()) <= keep)
        return;
    std::sort(copies.begin(), copies.end(), [](const CopyName& a, const CopyName& b) {
        return std::tie(a.stamp, a.count) < std::tie(b.stamp, b.count);
    });
    for (size_t i = 0; i + keep < copies.size(); i++) {
        if (unlink(copies[i].path.c_str()) != 0)
            printWindow("restoreSaveGameToCart: couldn't remove the old safety copy '%s': %s",
                        copies[i].path.c_str(), strerror(errno));
    }
}

// A name in `folder` for a copy made at `when` that no file has yet.
static std::string freshCopyPath(const std::string& folder, time_t when)
{
    tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, STAMP_FORMAT, &local);
    std::string path = folder + "/" + stamp + COPY_EXT;
    for (int n = 2; access(path.c_str(), F_OK) == 0; n++)
        path = folder + "/" + stamp + "_" + std::to_string(n) + COPY_EXT;
    return path;
}

// All of `bytes` into fd and onto the disk; false with errno set otherwise.
static bool writeAll(int fd, const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += size_t(n);
    }
    return fsync(fd) == 0;
}

bool storeSafetyCopy(const std::string& folder, const std::vector<uint8_t>& ngf, time_t when,
                     std::string* path, int keep)
{
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        printWindow("restoreSaveGameToCart: couldn't create the safety copy folder '%s': %s",
                    folder.c_str(), ec.message().c_str());
        return false;
    }
    std::string target = freshCopyPath(folder, when);
    // Hidden and named unlike a copy, so that pruning never counts it.
    std::string temp = folder + "/." + fs::path(target).filename().string() + ".XXXXXX";
    int fd = mkstemp(temp.data());
    bool written = fd >= 0 && writeAll(fd, ngf);
    int err = errno;
    if (fd >= 0 && close(fd) != 0 && written) {
        written = false;
        err = errno;
    }
    if (written && rename(temp.c_str(), target.c_str()) != 0) {
        written = false;
        err = errno;
    }
    if (!written) {
        if (fd >= 0)
            unlink(temp.c_str());
        printWindow("restoreSaveGameToCart: couldn't write the safety copy '%s': %s", target.c_str(),
                    strerror(err));
        return false;
    }
    *path = target;
    pruneSafetyCopies(folder, keep);
    return true;
}
