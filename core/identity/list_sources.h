// Where the known-dump lists' text comes from: a folder tree holding plain,
// gzipped and zipped lists. Only known_dumps.cpp needs it.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ListText {
    std::string name;        // the path under the folder; "pack.zip/member.dat" inside a zip
    std::vector<char> text;  // the whole list, unpacked
    std::string why;         // not empty: the list could not be read, and why
    // The system refused its bytes (a folder or file it may not read, an I/O
    // error): unlike a list read and found unfit, it may know the dump.
    bool unread = false;
    bool folder = false;  // a subfolder, whose lists were never reached
};

// Hands every list under `dir` to `take`, in path order, following
// subfolders reached through symbolic links, each folder once. A subfolder
// that cannot be read is handed on as a ListText of its own, and the walk
// goes on. A missing folder
// holds no lists; a folder setting that names something else, or a folder
// that cannot be read, is said in `folderProblem`.
void forEachListText(const std::string& dir, const std::function<void(ListText&)>& take,
                     std::string* folderProblem);
