#include "control_client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>

namespace usbdev {

bool askLauncher(const char* path, const std::string& request, std::string* reply)
{
    reply->clear();
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::string line = request + "\n";
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        write(fd, line.data(), line.size()) == ssize_t(line.size())) {
        shutdown(fd, SHUT_WR);
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            reply->append(buf, size_t(n));
    }
    if (fd >= 0)
        close(fd);
    size_t last = reply->rfind('\n', reply->size() >= 2 ? reply->size() - 2 : 0);
    std::string tail = last == std::string::npos ? *reply : reply->substr(last + 1);
    return tail.compare(0, 2, "ok") == 0;
}

}  // namespace usbdev
