// An image's identity as one JSON object on one line, for scripts: every
// field is always there, null where nothing is known (a file that could not
// be read, a job that ended before the image was hashed).
#pragma once

#include <string>

struct ImageReport;

// `outcome`: "done", "failed" or "unreadable". `report` may be null.
std::string imageJson(const std::string& file, const char* outcome, const ImageReport* report);
