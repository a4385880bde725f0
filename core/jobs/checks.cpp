// What every command checks before it starts: a linker still there, and
// files that are files.
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/jobs/jobs.h"
#include "core/link/linker.h"

Job::Job(Link& l, Reporter& reporter, const WriteSettings& s)
    : link(l), r(reporter), settings(s), before_(l.reportTo(reporter))
{
}

Job::~Job()
{
    link.reportTo(before_);
}

bool linkStillThere(Reporter& r)
{
    // Not before the firmware is accepted and the cartridge checked: a
    // refused linker, or one still being greeted, takes no job.
    if (linker().ready() && !linker().link().gone())
        return true;
    if (linker().link().gone() || linker().state() == LinkState::Gone)
        printWindow(r, "The linker is gone. Plug it in again.");
    else
        printWindow(r, "The linker is not ready; nothing done.");
    return false;
}

static void refuseNonRegular(Reporter& r, const std::string& path)
{
    printWindow(r, "'%s' is not a regular file; nothing done.", displayName(path.c_str()));
}

FILE* openInputFile(Reporter& r, const std::string& path, bool* refused)
{
    *refused = false;
    struct stat st;
    // Non-blocking only for the open itself: a FIFO with no writer would
    // otherwise hold the whole program here.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        refuseNonRegular(r, path);
        *refused = true;
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL);
    FILE* f = flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0 ? nullptr : fdopen(fd, "rb");
    if (!f)
        close(fd);
    return f;
}

bool romFileRefused(Reporter& r, const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;  // the opening says why
    if (!S_ISREG(st.st_mode)) {
        refuseNonRegular(r, path);
        return true;
    }
    // Erasing for an empty file would only wipe the cartridge.
    if (st.st_size == 0) {
        printWindow(r, "'%s' is empty; nothing was erased.", displayName(path.c_str()));
        return true;
    }
    return false;
}

bool refusedAsPipe(Reporter& r, const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode))
        return false;
    refuseNonRegular(r, path);
    return true;
}

bool refusedAsOutput(Reporter& r, const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return false;
    refuseNonRegular(r, path);
    return true;
}

bool unreadableRefused(Reporter& r, const std::string& path, const char* shownName, bool pipeAllowed,
                       const char* failedLine)
{
    struct stat st;
    bool there = stat(path.c_str(), &st) == 0;
    bool pipe = there && S_ISFIFO(st.st_mode);
    if (there && !S_ISREG(st.st_mode) && !(pipeAllowed && pipe)) {
        refuseNonRegular(r, path);
        return true;
    }
    // A pipe is not opened here: its writer would take that for the reader.
    int fd = pipe ? -1 : open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    bool readable = pipe ? access(path.c_str(), R_OK) == 0 : fd >= 0;
    int why = errno;
    if (fd >= 0)
        close(fd);
    if (!readable)
        printWindow(r, failedLine, shownName, strerror(why));
    return !readable;
}
