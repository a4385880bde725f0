#include "core/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

// The file an output finally replaces: through a symbolic link, the file it
// points to, which is what opening the link for writing used to change.
std::string finalOutputPath(const std::string& chosen)
{
    std::error_code ec;
    std::filesystem::path resolved = std::filesystem::canonical(chosen, ec);
    return ec ? chosen : resolved.string();
}

// An output is written beside its final name, under a name of its own, and
// takes the final name only when complete: a file already there is never
// lost to a failed or cancelled job. The new file gets the old one's
// permissions, or those a newly created file would get.
FILE* openTemporaryBeside(const std::string& target, std::string* tempPath)
{
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    std::string dir = folder.empty() ? std::string(".") : folder.string();
    // A name the folder cannot hold would only fail at the rename, once the
    // cartridge had been read for nothing.
    long nameMax = pathconf(dir.c_str(), _PC_NAME_MAX);
    if (nameMax > 0 && std::filesystem::path(target).filename().string().size() > size_t(nameMax)) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    std::string name = dir + "/.backup-XXXXXX";
    std::vector<char> tmpl(name.begin(), name.end());
    tmpl.push_back('\0');
    int fd = mkstemp(tmpl.data());
    if (fd < 0)
        return nullptr;
    struct stat old;
    mode_t mode;
    if (stat(target.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    FILE* f = fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
    if (!f) {
        int why = errno;
        close(fd);
        unlink(tmpl.data());
        errno = why;
        return nullptr;
    }
    *tempPath = tmpl.data();
    return f;
}

bool renameNoReplace(const std::string& from, const std::string& to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    // A file system without the flag: a hard link fails just as surely
    // when the name is taken.
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (link(from.c_str(), to.c_str()) != 0)
        return false;
    unlink(from.c_str());
    return true;
}

void syncFolder(const std::string& folder)
{
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}
