// A line-based control socket through which a program running under the
// launcher reconfigures the emulated linker or asks what it saw: a test
// sets a fault "from now", pulls the cable, or reads the transfers back.
#pragma once

#include <string>

namespace usbdev {

// Listens on a Unix socket at `path` on a thread of its own.
bool startControl(const std::string& path);

// One request, as the socket takes it; returns the reply lines, the last
// one "ok[ value]" or "error <why>".
std::string controlRequest(const std::string& line);

}  // namespace usbdev
