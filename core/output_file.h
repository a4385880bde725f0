// Files a job writes: under a temporary name beside the chosen one, given
// the final name only once complete, and never over a file unless meant to.
#pragma once

#include <cstdio>
#include <string>

// The file a job's output finally replaces: through a symbolic link, the
// file it points to.
std::string finalOutputPath(const std::string& chosen);
// A new file beside `target`, under a hidden name of its own (*tempPath),
// with the permissions `target` has or a new file would get; the job renames
// it to `target` once complete, so a file already there survives a failed
// or cancelled job. Null, with errno, when it cannot be made, or when the
// folder cannot hold `target`'s name (ENAMETOOLONG).
FILE* openTemporaryBeside(const std::string& target, std::string* tempPath);
// Moves `from` to `to` only when no file is at `to` (errno EEXIST then).
bool renameNoReplace(const std::string& from, const std::string& to);
// Puts a folder's entries on the disk, so that a name just renamed into it
// survives a power cut ("" is the working folder); one that cannot be
// opened is left as it is.
void syncFolder(const std::string& folder);
