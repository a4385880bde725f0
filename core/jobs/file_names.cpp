#include <cstring>

#include "core/jobs/jobs.h"

const char* displayName(const char* path)
{
    const char* slash = strrchr(path, '/');
    // "DIR/" names the folder; its empty last part would name nothing.
    if (slash)
        return slash[1] ? slash + 1 : path;
    const char* backslash = strrchr(path, '\\');
    return backslash ? backslash + 1 : path;
}
