#include "core/log_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/app_folders.h"
#include "core/shown_text.h"

namespace {

const char* const LOG_NAME = "/pockettetherbox.log";

std::string stateHome()
{
    const char* xdg = getenv("XDG_STATE_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = getenv("HOME");
    if (!home || !home[0]) {
        const passwd* pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    if (!home || !home[0])
        return "";
    return std::string(home) + "/.local/state";
}

// Like mkdir -p; the folders are the user's alone, as state folders should be.
bool makeFolders(const std::string& path)
{
    for (size_t end = 1; end <= path.size(); end++) {
        if (end < path.size() && path[end] != '/')
            continue;
        if (mkdir(path.substr(0, end).c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// One record per line of the file. A logged line with a break inside gets
// the stamp on each part, so that grep finds every part with its command;
// a trailing break (a few messages end in one) adds no empty record.
std::string records(const char* command, const char* text)
{
    char stamp[32];
    time_t now = time(nullptr);
    tm local;
    localtime_r(&now, &local);
    // With its offset from UTC, as the vault's names carry it: the order
    // and the hour survive a change of time zone and the clocks going back.
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S%z", &local);
    std::string prefix = std::string(stamp) + " [" + command + "] ";

    std::string out;
    const char* part = text;
    do {
        const char* end = strchr(part, '\n');
        size_t n = end ? size_t(end - part) : strlen(part);
        out += prefix;
        // Read with cat or grep, the file must stay text whatever was logged.
        out += shownText(part, n);
        out += '\n';
        part = end ? end + 1 : nullptr;
    } while (part && *part);
    return out;
}

bool sameFile(int fd, const std::string& path)
{
    struct stat open, named;
    return fstat(fd, &open) == 0 && stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

// The current file, opened for appending and locked against the other
// running copies of the program (the window and a command line can log at
// the same time). A copy that rotated the file while this one waited for
// the lock has renamed it away: then the new file is opened instead.
int openLocked(const std::string& folder, const std::string& path)
{
    for (int attempt = 0; attempt < 3; attempt++) {
        int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd < 0 && errno == ENOENT && makeFolders(folder))
            fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd < 0)
            return -1;
        // A file system without locks still gets the line.
        if (flock(fd, LOCK_EX) != 0 || sameFile(fd, path))
            return fd;
        close(fd);
    }
    return -1;
}

// pockettetherbox.log becomes .1, .1 becomes .2, ... and the oldest is
// dropped by the rename onto it.
void rotate(const std::string& path)
{
    for (int i = LOG_FILE_KEPT - 1; i >= 1; i--)
        rename((path + "." + std::to_string(i)).c_str(), (path + "." + std::to_string(i + 1)).c_str());
    rename(path.c_str(), (path + ".1").c_str());
}

// Past a file size limit (ulimit -f) a write would raise SIGXFSZ, which ends
// the program: the line is left out instead.
bool withinSizeLimit(uint64_t size)
{
    rlimit limit;
    return getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || size <= limit.rlim_cur;
}

void writeAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

}  // namespace

std::string logFilePath()
{
    std::string home = stateHome();
    return home.empty() ? "" : home + "/" + appFolderName() + LOG_NAME;
}

void appendToLogFile(const char* command, const char* text)
{
    std::string path = logFilePath();
    if (path.empty())
        return;
    std::string folder = path.substr(0, path.rfind('/'));
    std::string bytes = records(command, text);

    struct stat st;
    int fd = openLocked(folder, path);
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size > 0 &&
        uint64_t(st.st_size) + bytes.size() > LOG_FILE_MAX_BYTES) {
        rotate(path);
        close(fd);
        fd = openLocked(folder, path);
    }
    if (fd < 0)
        return;
    if (fstat(fd, &st) == 0 && withinSizeLimit(uint64_t(st.st_size) + bytes.size()))
        writeAll(fd, bytes);
    close(fd);
}
