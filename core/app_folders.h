// The name of the program's own folder under the user's data, state and
// preferences folders. The programs on the simulated linker use one of their
// own, so that trying the tool never puts simulated saves into the vault,
// simulated lines into the log or simulated choices into the preferences.
#pragma once

// "pockettetherbox", or "pockettetherbox-sim" once useSimulatorFolders() ran.
const char* appFolderName();
// Called first thing by the programs built on the simulated linker.
void useSimulatorFolders(bool simulated = true);
