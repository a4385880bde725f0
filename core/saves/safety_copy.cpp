#include "core/saves/safety_copy.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <tuple>

#include "core/app_folders.h"
#include "core/output_file.h"
#include "core/report.h"
#include "core/saves/vault.h"

namespace fs = std::filesystem;

static const char STAMP_FORMAT[] = "%Y-%m-%d_%H-%M-%S%z";
static const char STAMP_SHAPE[] = "0000-00-00_00-00-00";  // '0' stands for a digit
static const size_t STAMP_LEN = sizeof STAMP_SHAPE - 1;  // without the zone
static const char COPY_EXT[] = ".ngf";
static const time_t COPY_AHEAD_S = 24 * 60 * 60;

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

std::string cartridgeGame(const uint8_t header[CART_HEADER_BYTES], bool chipZeroAnswers)
{
    return chipZeroAnswers ? gameFolderName(header) : UNKNOWN_GAME_FOLDER;
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
    return base + "/" + appFolderName() + "/saves";
}

// A copy in a folder: when it was made, and its count within that second.
struct CopyName {
    time_t when;
    unsigned count;
    fs::path path;
    bool kept;
};

static bool digitsAt(const std::string& s, size_t at, size_t n, int* value)
{
    if (at + n > s.size())
        return false;
    *value = 0;
    for (size_t i = at; i < at + n; i++) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        *value = *value * 10 + (s[i] - '0');
    }
    return true;
}

bool safetyCopyTime(const std::string& name, time_t* when, unsigned* count)
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
    // The zone: +hhmm or -hhmm east or west of UTC.
    bool zoned = !rest.empty() && (rest[0] == '+' || rest[0] == '-');
    int zone = 0;
    if (zoned) {
        int hhmm;
        if (!digitsAt(rest, 1, 4, &hhmm) || hhmm % 100 >= 60 || hhmm > 1400)
            return false;
        zone = (hhmm / 100 * 3600 + hhmm % 100 * 60) * (rest[0] == '-' ? -1 : 1);
        rest = rest.substr(5);
    }
    *count = 1;
    if (!rest.empty()) {
        if (rest.size() < 2 || rest.size() > 6 || rest[0] != '_' ||
            rest.find_first_not_of("0123456789", 1) != std::string::npos)
            return false;
        *count = unsigned(std::stoul(rest.substr(1)));
    }
    tm t{};
    sscanf(name.c_str(), "%4d-%2d-%2d_%2d-%2d-%2d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
           &t.tm_min, &t.tm_sec);
    // Only a moment that was: a name no clock could give (month 13, 99
    // minutes, a zone past 14 hours, a count of 0 or 1) is no copy, and must
    // not pass for the newest.
    bool fromClock = t.tm_year >= 1970 && *count != 0 && !(*count == 1 && !rest.empty());
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    tm normal = t;
    timegm(&normal);
    if (!fromClock || normal.tm_year != t.tm_year || normal.tm_mon != t.tm_mon || normal.tm_mday != t.tm_mday ||
        normal.tm_hour != t.tm_hour || normal.tm_min != t.tm_min || normal.tm_sec != t.tm_sec)
        return false;
    t.tm_isdst = -1;
    *when = zoned ? timegm(&t) - zone : mktime(&t);
    return true;
}

// Backups the user registered in the folder are no copies to prune, however
// they are named.
static bool listedIn(const std::vector<std::string>& paths, const fs::path& path)
{
    return std::find(paths.begin(), paths.end(), path.string()) != paths.end();
}

void pruneSafetyCopies(Reporter& r, const std::string& folder, int keep, const std::vector<std::string>& kept)
{
    std::vector<CopyName> copies;
    std::vector<std::string> backups = registeredBackups(folder), keptPaths;
    const time_t aheadFrom = time(nullptr) + COPY_AHEAD_S;
    std::error_code ec;
    for (const std::string& k : kept)
        keptPaths.push_back(fs::weakly_canonical(k, ec).string());
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        CopyName c;
        std::error_code ec2;
        fs::path canonical = fs::weakly_canonical(it->path(), ec2);
        // A copy dated more than a day ahead was named by a clock set ahead:
        // counted, it would outlast every copy dated right. It is still a
        // save, so it is left alone until the clock has caught up with it.
        if (it->is_regular_file(ec2) &&
            safetyCopyTime(it->path().filename().string(), &c.when, &c.count) && c.when <= aheadFrom &&
            !listedIn(backups, canonical)) {
            c.path = it->path();
            c.kept = listedIn(keptPaths, canonical);
            copies.push_back(c);
        }
    }
    std::sort(copies.begin(), copies.end(), [](const CopyName& a, const CopyName& b) {
        return std::tie(a.when, a.count, a.path) < std::tie(b.when, b.count, b.path);
    });
    // The kept count towards `keep`: the next older copies go in their place.
    size_t excess = copies.size() > size_t(std::max(keep, 0)) ? copies.size() - size_t(std::max(keep, 0)) : 0;
    for (size_t i = 0; i < copies.size() && excess > 0; i++) {
        if (copies[i].kept)
            continue;
        // Removed under an exclusive lock, which a copy another run is
        // writing back (held with a shared one) does not give: that copy
        // is passed over as if kept.
        int fd = open(copies[i].path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            continue;
        }
        excess--;
        if (unlink(copies[i].path.c_str()) != 0) {
            int why = errno;
            printWindow(r, "Couldn't remove the old safety copy");
            printWindow(r, "'%s':", copies[i].path.c_str());
            printWindow(r, "%s.", strerror(why));
        }
        if (fd >= 0)
            close(fd);
    }
}

HeldSave::HeldSave(const std::string& path)
{
    fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    // A prune holds its lock only for an unlink; a stopped one must not
    // hold this run for good.
    bool locked = false;
    for (int tries = 0; fd_ >= 0 && tries < 100 && !(locked = flock(fd_, LOCK_SH | LOCK_NB) == 0); tries++)
        usleep(10000);
    // Locked after a prune removed it: the name may be free or another file's.
    struct stat open, named;
    if (!locked || fstat(fd_, &open) != 0 || open.st_nlink == 0 || stat(path.c_str(), &named) != 0 ||
        named.st_dev != open.st_dev || named.st_ino != open.st_ino) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }
}

HeldSave::~HeldSave()
{
    if (fd_ >= 0)
        close(fd_);
}

// The n-th name (from 1) for a copy made at `when`.
static std::string copyPath(const std::string& folder, time_t when, int n)
{
    tm local{};
    localtime_r(&when, &local);
    char stamp[40];
    strftime(stamp, sizeof stamp, STAMP_FORMAT, &local);
    return folder + "/" + stamp + (n > 1 ? "_" + std::to_string(n) : "") + COPY_EXT;
}

// Renames `temp` to the first free name for a copy made at `when`.
static bool claimCopyName(const std::string& temp, const std::string& folder, time_t when,
                          std::string* target)
{
    for (int n = 1; n < 100000; n++) {
        *target = copyPath(folder, when, n);
        if (renameNoReplace(temp, *target))
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
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

bool storeSafetyCopy(Reporter& r, const std::string& folder, const std::vector<uint8_t>& ngf, time_t when,
                     std::string* path, int keep)
{
    std::error_code ec;
    bool created = fs::create_directories(folder, ec);
    if (ec) {
        printWindow(r, "Couldn't create the safety copy folder");
        printWindow(r, "'%s':", folder.c_str());
        printWindow(r, "%s.", ec.message().c_str());
        return false;
    }
    if (created)  // or a crash may lose the folder with the copy in it
        syncFolder(fs::path(folder).parent_path().string());
    // Hidden and named unlike a copy, so that pruning never counts it.
    std::string temp = folder + "/.safety-copy.XXXXXX";
    int fd = mkstemp(temp.data());
    bool written = fd >= 0 && writeAll(fd, ngf);
    int err = errno;
    if (fd >= 0 && close(fd) != 0 && written) {
        written = false;
        err = errno;
    }
    std::string target = copyPath(folder, when, 1);
    if (written && !claimCopyName(temp, folder, when, &target)) {
        written = false;
        err = errno;
    }
    if (!written) {
        if (fd >= 0)
            unlink(temp.c_str());
        printWindow(r, "Couldn't write the safety copy");
        printWindow(r, "'%s':", target.c_str());
        printWindow(r, "%s.", strerror(err));
        return false;
    }
    syncFolder(folder);
    *path = target;
    if (keep >= 0)
        pruneSafetyCopies(r, folder, keep, {target});
    return true;
}
