// Requests, one per line:
//   firmware MAJOR.MINOR      the version the linker reports from now on
//   cart NAME                 plugs in a fresh cartridge of that name
//   fault LIST                faults as PTB_SIM_FAULT spells them, counted from now
//   erase-times BLOCK CHIP16  erase durations in seconds
//   stall N                   transfer N from now stalls its endpoint
//   unplug                    pulls the cable now
//   plug                      plugs it back in: a new device at a new address
//   mark                      "ok M": a mark for "transfers"
//   transfers M               one line per transfer since mark M:
//                             "EP REQUESTED RESULT HEXBYTES", then "ok"
//   led                       "ok N": the LED setting last sent
//   save-image PATH           writes the cartridge as a backup would to PATH
//   load-image PATH           writes PATH's bytes into the chips directly
#include "umockdev_control.h"

#include "sim.h"
#include "umockdev_device.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

namespace usbdev {

namespace {

std::string transferLine(const sim::Transfer& t)
{
    char head[48];
    snprintf(head, sizeof head, "%02X %d %d ", t.endpoint, t.requested, t.result);
    std::string line = head;
    for (uint8_t b : t.bytes) {
        char hex[3];
        snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line + "\n";
}

std::string answer(const std::string& line)
{
    std::istringstream in(line);
    std::string verb, arg;
    in >> verb;
    std::getline(in >> std::ws, arg);
    std::unique_lock<std::mutex> hold(g_lock);

    if (verb == "firmware") {
        int major, minor;
        char dot;
        std::istringstream v(arg);
        if (!(v >> major >> dot >> minor) || dot != '.')
            return "error expected MAJOR.MINOR\n";
        sim::setFirmware(major, minor);
    } else if (verb == "cart") {
        if (!sim::insertCart(arg))
            return "error no cartridge called '" + arg + "'\n";
    } else if (verb == "fault") {
        std::string error;
        if (!sim::applyFaults(arg, &error))
            return "error " + error + "\n";
        followAccess();
    } else if (verb == "erase-times") {
        double block, chip16;
        std::istringstream v(arg);
        if (!(v >> block >> chip16))
            return "error expected BLOCK CHIP16 in seconds\n";
        sim::setEraseTimes(block, chip16);
    } else if (verb == "stall") {
        stallOnTransfer(atoi(arg.c_str()));
    } else if (verb == "unplug") {
        unplug();
        waitUntilSettled(hold);
    } else if (verb == "plug") {
        plugBackIn();
        waitUntilSettled(hold);
    } else if (verb == "mark") {
        return "ok " + std::to_string(sim::mark()) + "\n";
    } else if (verb == "transfers") {
        std::string reply;
        for (const sim::Transfer& t : sim::transfersSince(std::stoull("0" + arg)))
            reply += transferLine(t);
        return reply + "ok\n";
    } else if (verb == "led") {
        return "ok " + std::to_string(sim::ledSetting()) + "\n";
    } else if (verb == "save-image") {
        std::vector<uint8_t> image = sim::cartImage();
        std::ofstream out(arg, std::ios::binary);
        if (!out.write(reinterpret_cast<const char*>(image.data()), image.size()))
            return "error cannot write " + arg + "\n";
    } else if (verb == "load-image") {
        std::ifstream file(arg, std::ios::binary);
        if (!file)
            return "error cannot read " + arg + "\n";
        sim::loadImage(std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {}));
    } else {
        return "error unknown request '" + verb + "'\n";
    }
    return "ok\n";
}

void serve(int listener)
{
    for (;;) {
        int conn = accept(listener, nullptr, nullptr);
        if (conn < 0)
            continue;
        std::string pending;
        char buf[512];
        ssize_t n;
        while ((n = read(conn, buf, sizeof buf)) > 0) {
            pending.append(buf, n);
            size_t eol;
            while ((eol = pending.find('\n')) != std::string::npos) {
                std::string reply = answer(pending.substr(0, eol));
                pending.erase(0, eol + 1);
                if (write(conn, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size()))
                    break;
            }
        }
        close(conn);
    }
}

}  // namespace

std::string controlRequest(const std::string& line)
{
    return answer(line);
}

bool startControl(const std::string& path)
{
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return false;
    path.copy(addr.sun_path, path.size());
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 4) != 0) {
        perror("usb_launcher: control socket");
        return false;
    }
    std::thread(serve, listener).detach();
    return true;
}

}  // namespace usbdev
