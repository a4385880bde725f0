#include <cstring>

#include "core/jobs/jobs.h"

const char* displayName(const char* path)
{
    const char* slash = strrchr(path, '/');
    if (slash)
        return slash + 1;
    const char* backslash = strrchr(path, '\\');
    return backslash ? backslash + 1 : path;
}
