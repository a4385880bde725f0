// The asking side of the launcher's control socket: a script through
// `usb_launcher --send`, or a test running under the launcher.
#pragma once

#include <string>

namespace usbdev {

// Sends one request to the socket at `path`; *reply gets the whole reply,
// empty when none came. True when its last line begins "ok".
bool askLauncher(const char* path, const std::string& request, std::string* reply);

}  // namespace usbdev
