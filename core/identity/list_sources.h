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
};

// Hands every list under `dir` to `take`, in path order. A missing folder
// holds no lists; a folder setting that names something else, or a folder
// that cannot be read, is said in `folderProblem`.
void forEachListText(const std::string& dir, const std::function<void(ListText&)>& take,
                     std::string* folderProblem);
