#include "core/saves/proposed_name.h"

#include <sys/stat.h>

// Past this many backups of a game in one day, the last name is offered and
// the chooser asks before replacing it.
static const int MOST_SAME_DAY = 99;

std::string saveBackupName(const std::string& folder, const std::string& game, time_t when)
{
    char date[16];
    struct tm local;
    localtime_r(&when, &local);
    strftime(date, sizeof date, "%Y-%m-%d", &local);
    std::string stem = (game.empty() ? std::string("savegame") : game) + "-" + date;
    std::string name;
    for (int n = 1; n <= MOST_SAME_DAY; n++) {
        name = stem + (n > 1 ? "-" + std::to_string(n) : std::string()) + ".ngf";
        // Not followed: a dangling link counts as taken, since choosing its
        // name would write through it.
        struct stat st;
        if (lstat((folder.empty() ? name : folder + "/" + name).c_str(), &st) != 0)
            break;
    }
    return name;
}
