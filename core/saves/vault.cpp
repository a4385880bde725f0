#include "core/saves/vault.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "core/output_file.h"
#include "core/saves/ngf_load.h"
#include "core/saves/safety_copy.h"
#include "core/shown_text.h"

namespace fs = std::filesystem;

static const char REGISTER_NAME[] = "backups.list";
static const char LOCK_NAME[] = ".backups.lock";

const char* saveKindName(SaveKind kind)
{
    return kind == SaveKind::SafetyCopy ? "copy" : "backup";
}

std::string gameTitle(const std::string& game)
{
    size_t dash = game.rfind('-');
    return dash == std::string::npos ? game : game.substr(0, dash);
}

std::string gameSerial(const std::string& game)
{
    size_t dash = game.rfind('-');
    return dash == std::string::npos ? std::string() : game.substr(dash + 1);
}

static std::string absolutePath(const std::string& path)
{
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? path : p.string();
}

// Far more than any user's backups; a register past it is no register of ours.
static const size_t REGISTER_READ_MAX = 1 << 20;

static const int LOCK_WAIT_S = 5;

// A line of the register: an absolute path as it is, or, for a path that
// holds a control byte (a line break would split it), a backslash followed
// by the path with its control bytes and backslashes as \xNN. Older
// registers hold only the first kind, and older versions pass over the
// second as none of theirs.
static bool needsEscape(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

static std::string registerLine(const std::string& path)
{
    if (std::none_of(path.begin(), path.end(), [](char c) { return needsEscape(static_cast<unsigned char>(c)); }))
        return path;
    std::string line = "\\";
    for (unsigned char c : path) {
        if (needsEscape(c) || c == '\\') {
            char escaped[5];
            snprintf(escaped, sizeof escaped, "\\x%02X", c);
            line += escaped;
        } else {
            line += char(c);
        }
    }
    return line;
}

// The path a register line names; false for a line that is none of ours.
static bool pathFromLine(const std::string& line, std::string* path)
{
    if (line.empty() || std::any_of(line.begin(), line.end(), [](char c) { return needsEscape(static_cast<unsigned char>(c)); }))
        return false;
    if (line[0] != '\\') {
        *path = line;
        return line[0] == '/';
    }
    path->clear();
    for (size_t i = 1; i < line.size(); i++) {
        if (line[i] != '\\') {
            *path += line[i];
            continue;
        }
        if (i + 3 >= line.size() || line[i + 1] != 'x' || hexDigitValue(line[i + 2]) < 0 ||
            hexDigitValue(line[i + 3]) < 0)
            return false;
        *path += char(hexDigitValue(line[i + 2]) * 16 + hexDigitValue(line[i + 3]));
        i += 3;
    }
    return !path->empty() && (*path)[0] == '/' && path->find('\0') == std::string::npos;
}

std::vector<std::string> registeredBackups(const std::string& folder)
{
    std::vector<std::string> paths;
    std::ifstream in(folder + "/" + REGISTER_NAME, std::ios::binary);
    std::string text(REGISTER_READ_MAX, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    // A line the cap cut is not whole.
    size_t end = text.size() == REGISTER_READ_MAX ? text.rfind('\n') + 1 : text.size();
    std::istringstream lines(text.substr(0, end));
    std::string path;
    for (std::string line; std::getline(lines, line);)
        if (pathFromLine(line, &path))
            paths.push_back(path);
    return paths;
}

// The register whole, through a file of its own renamed over the old one,
// so that a register half written never loses the others' lines.
static bool writeRegister(const std::string& folder, const std::vector<std::string>& paths)
{
    std::string temp = folder + "/." + REGISTER_NAME + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0)
        return false;
    std::string text;
    for (const std::string& p : paths)
        text += registerLine(p) + "\n";
    bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size()) && fsync(fd) == 0;
    int err = errno;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temp.c_str(), (folder + "/" + REGISTER_NAME).c_str()) == 0) {
        syncFolder(folder);  // or a crash may bring back the register before it
        return true;
    }
    err = ok ? errno : err;
    unlink(temp.c_str());
    errno = err;
    return false;
}

// Reads, changes and writes back a folder's register; `change` says whether
// it changed anything. True when the register is as `change` wants it. Two
// runs backing up at once each read the register before the other renamed
// theirs over it: a lock file beside it holds the second until the first is
// done, so neither line is lost.
template <typename Change>
static bool editRegister(const std::string& folder, Change change)
{
    std::vector<std::string> paths = registeredBackups(folder);
    if (!change(paths))
        return true;  // and no lock file made where nothing changes
    int lock = open((folder + "/" + LOCK_NAME).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0)
        return false;
    // Held for a moment only; a run stopped while it holds the lock (Ctrl-Z)
    // must not hold this one, the window included, for good.
    int locked;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(LOCK_WAIT_S);
    while ((locked = flock(lock, LOCK_EX | LOCK_NB)) != 0 && (errno == EWOULDBLOCK || errno == EINTR) &&
           std::chrono::steady_clock::now() < until)
        usleep(10000);
    paths = registeredBackups(folder);
    bool ok = locked == 0 && (!change(paths) || writeRegister(folder, paths));
    int err = errno;
    close(lock);  // and the lock with it
    errno = err;
    return ok;
}

bool registerBackup(const std::string& game, const std::string& path)
{
    std::string root = safetyCopyRoot();
    std::string folder = root + "/" + game;
    std::string absolute = absolutePath(path);
    // What the register would not read back is refused here, so that the
    // caller says the backup is not in the vault.
    std::string readBack;
    if (!pathFromLine(registerLine(absolute), &readBack) || readBack != absolute) {
        errno = EINVAL;
        return false;
    }
    std::error_code ec;
    bool created = fs::create_directories(folder, ec);
    if (ec) {
        errno = ec.value();
        return false;
    }
    if (created)
        syncFolder(root);  // so that the register is not lost with its folder
    // The file now holds this game's save: left in another game's register,
    // it would be listed there too and written to that game's cartridge. So
    // it leaves every other register first, each tried even when one fails.
    bool dropped = true;
    int err = 0;
    for (fs::directory_iterator g(root, ec), end; !ec && g != end; g.increment(ec)) {
        std::error_code ec2;
        if (g->path().filename() == game || !g->is_directory(ec2) || fs::equivalent(g->path(), folder, ec2))
            continue;
        if (!editRegister(g->path().string(), [&](std::vector<std::string>& paths) {
                size_t before = paths.size();
                paths.erase(std::remove_if(paths.begin(), paths.end(),
                                           [&](const std::string& p) { return absolutePath(p) == absolute; }),
                            paths.end());
                return paths.size() != before;
            })) {
            dropped = false;
            err = errno;
        }
    }
    if (ec) {
        dropped = false;
        err = ec.value();
    }
    bool added = editRegister(folder, [&](std::vector<std::string>& paths) {
        if (std::find(paths.begin(), paths.end(), absolute) != paths.end())
            return false;
        paths.push_back(absolute);
        return true;
    });
    if (added && !dropped)
        errno = err;
    return added && dropped;
}

static bool entryFor(const std::string& path, const std::string& game, SaveKind kind,
                     VaultEntry* out)
{
    struct stat st;
    // A register may name any file (a line written by hand, a file replaced
    // since): only a save is the vault's to show or delete.
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        (kind == SaveKind::Backup && !readsAsNgfSave(path)))
        return false;
    time_t when = st.st_mtime;
    unsigned count = 1;
    if (kind == SaveKind::SafetyCopy &&
        !safetyCopyTime(fs::path(path).filename().string(), &when, &count))
        return false;
    *out = VaultEntry{path, game, when, uint64_t(st.st_size), kind, count};
    return true;
}

static bool gameMatches(const std::string& game, const std::string& wanted)
{
    return wanted.empty() || wanted == game || wanted == gameTitle(game) ||
           wanted == gameSerial(game);
}

std::vector<VaultEntry> vaultEntries(const std::string& game, std::vector<std::string>* passedOver)
{
    std::vector<VaultEntry> entries;
    std::error_code ec;
    fs::path root = absolutePath(safetyCopyRoot());
    for (fs::directory_iterator g(root, ec), end; !ec && g != end; g.increment(ec)) {
        std::string name = g->path().filename().string();
        std::error_code ec2;
        if (!g->is_directory(ec2) || !gameMatches(name, game))
            continue;
        std::vector<std::string> backups = registeredBackups(g->path().string());
        for (const std::string& b : backups) {
            VaultEntry e;
            struct stat st;
            if (entryFor(b, name, SaveKind::Backup, &e))
                entries.push_back(e);
            else if (passedOver && stat(b.c_str(), &st) == 0)
                passedOver->push_back(b);  // there, but no save: not ours to show or delete
        }
        for (fs::directory_iterator c(g->path(), ec2); !ec2 && c != end; c.increment(ec2)) {
            VaultEntry e;
            std::string path = c->path().string();
            if (std::find(backups.begin(), backups.end(), path) == backups.end() &&
                entryFor(path, name, SaveKind::SafetyCopy, &e))
                entries.push_back(e);
        }
    }
    std::sort(entries.begin(), entries.end(), [](const VaultEntry& a, const VaultEntry& b) {
        return std::tie(a.game, b.when, b.count, a.path) < std::tie(b.game, a.when, a.count, b.path);
    });
    return entries;
}

bool findVaultEntry(const std::string& path, VaultEntry* out)
{
    std::string absolute = absolutePath(path);
    for (const VaultEntry& e : vaultEntries()) {
        // A register's line may name the file by another way to it.
        if (e.path == absolute || absolutePath(e.path) == absolute) {
            *out = e;
            return true;
        }
    }
    return false;
}

bool deleteVaultEntry(const VaultEntry& entry)
{
    // The file may have been replaced since it was listed.
    struct stat st;
    if (entry.kind == SaveKind::Backup && stat(entry.path.c_str(), &st) == 0 && !readsAsNgfSave(entry.path)) {
        errno = EINVAL;
        return false;
    }
    if (unlink(entry.path.c_str()) != 0 && errno != ENOENT)
        return false;
    if (entry.kind == SaveKind::Backup) {
        std::string folder = absolutePath(safetyCopyRoot()) + "/" + entry.game;
        editRegister(folder, [&](std::vector<std::string>& paths) {
            size_t before = paths.size();
            paths.erase(std::remove(paths.begin(), paths.end(), entry.path), paths.end());
            return paths.size() != before;
        });
    }
    return true;
}

std::string passedOverNote(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return std::string();
    std::string named;
    for (size_t i = 0; i < paths.size() && i < 3; i++)
        named += (i ? ", '" : "'") + printable(paths[i], true) + "'";
    if (paths.size() > 3)
        named += ", ...";
    return "Passed over " + std::to_string(paths.size()) +
           (paths.size() == 1 ? " file" : " files") + " named in the vault's backups.list that " +
           (paths.size() == 1 ? "does" : "do") + " not read as an NGF save: " + named + ".";
}
