#include "core/app_folders.h"

static const char* g_folderName = "pockettetherbox";

const char* appFolderName()
{
    return g_folderName;
}

void useSimulatorFolders(bool simulated)
{
    g_folderName = simulated ? "pockettetherbox-sim" : "pockettetherbox";
}
