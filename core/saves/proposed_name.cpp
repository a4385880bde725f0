#include "core/saves/proposed_name.h"

#include <sys/stat.h>

static const char NAME_CHARS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// A folder with so many of these names taken that this many draws all miss
// gets no proposal; the user can still type one.
static const int DRAWS = 100;

bool proposeSaveName(const std::string& folder, std::mt19937& random, std::string* name)
{
    std::uniform_int_distribution<int> pick(0, int(sizeof NAME_CHARS) - 2);
    for (int draw = 0; draw < DRAWS; draw++) {
        std::string candidate = "savegame-";
        for (int i = 0; i < 6; i++)
            candidate += NAME_CHARS[pick(random)];
        candidate += ".ngf";
        std::string where = folder.empty() ? candidate : folder + "/" + candidate;
        // Not followed: a dangling link counts as taken, since choosing its
        // name would write through it.
        struct stat st;
        if (lstat(where.c_str(), &st) != 0) {
            *name = candidate;
            return true;
        }
    }
    return false;
}

bool proposeSaveName(std::string* name)
{
    static std::mt19937 random{std::random_device{}()};
    return proposeSaveName("", random, name);
}
